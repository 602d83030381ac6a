#include "module/Registration.h"

namespace Orbitane::Bindings {

void registerLabelMapConversion(py::module_&)
{
}

}
