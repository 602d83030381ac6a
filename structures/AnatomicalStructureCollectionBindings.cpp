#include "module/Registration.h"

namespace Orbitane::Bindings {

void registerAnatomicalStructureCollection(py::module_&)
{
}

}
