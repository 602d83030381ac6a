#include "module/Registration.h"

namespace Orbitane::Bindings {

void registerGenericASC(py::module_&)
{
}

}
