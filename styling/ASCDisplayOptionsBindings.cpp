#include "module/Registration.h"

namespace Orbitane::Bindings {

void registerASCDisplayOptions(py::module_&)
{
}

}
