#include "module/Registration.h"

namespace Orbitane::Bindings {

void registerStyling(py::module_&, SelectorElemClass&, SelectorClass&, StyleSheetClass&)
{
}

}
