#include "module/Registration.h"

namespace Orbitane::Bindings {

void registerKeyValueDataWrappers(py::module_&)
{
}

}
