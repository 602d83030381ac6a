#include "module/Registration.h"

namespace Orbitane::Bindings {

void registerGenerateLinearShapeModel(py::module_&)
{
}

}
