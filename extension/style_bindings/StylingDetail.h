#pragma once

#include "anatomy/style/ASCDisplayOptions.h"
#include "entry/Registration.h"
#include "python/native/ComponentViews.h"

namespace Orbitane::Bindings {

// Display options that are gone raise ReferenceError like every component inside a list.
using Python::ComponentView;
using Python::ListedComponent;

void bindSelectorMembers(SelectorElemClass& selectorElem, SelectorClass& selector);
void bindStyleSheetMembers(StyleSheetClass& styleSheet);
void bindStyleProperty(py::module_& m);
void bindStyleResolution(py::module_& m);

}
