#include "module/Registration.h"

namespace Orbitane::Bindings {

void registerGenericAnatomicalStructure(py::module_&)
{
}

}
