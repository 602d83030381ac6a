#include "module/Registration.h"

namespace Orbitane::Bindings {

void registerASCRegistration(py::module_&)
{
}

}
