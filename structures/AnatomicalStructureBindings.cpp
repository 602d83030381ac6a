#include "module/Registration.h"

namespace Orbitane::Bindings {

void registerAnatomicalStructure(py::module_&)
{
}

}
