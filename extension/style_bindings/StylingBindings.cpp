#include "style_bindings/StylingDetail.h"

namespace Orbitane::Bindings {

void registerStyling(py::module_& m, SelectorElemClass& selectorElem, SelectorClass& selector,
                     StyleSheetClass& styleSheet)
{
	StylingDetail::bindSelectorMembers(selectorElem, selector);
	StylingDetail::bindStyleSheetMembers(styleSheet);
	StylingDetail::bindStyleProperty(m);
}

}
