#include "style_bindings/StylingDetail.h"

namespace Orbitane::Bindings {

void registerStyling(py::module_& m, SelectorElemClass& selectorElem, SelectorClass& selector,
                     StyleSheetClass& styleSheet)
{
	bindSelectorMembers(selectorElem, selector);
	bindStyleSheetMembers(styleSheet);
	bindStyleProperty(m);
	bindStyleResolution(m);
}

}
