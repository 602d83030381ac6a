#pragma once

#include "anatomy/style/ASCDisplayOptions.h"
#include "entry/Registration.h"

namespace Orbitane::Bindings {

/// Points the Python objects of display options that end at a stand-in whose members raise
/// ReferenceError (once per process; later calls do nothing).
void pointOptionsViewsAtStandInWhenOptionsEnd();

/// options itself; raises ReferenceError for the stand-in of options that are gone.
AnatomyPlugin::ASCDisplayOptions& existing(AnatomyPlugin::ASCDisplayOptions& options);
const AnatomyPlugin::ASCDisplayOptions& existing(const AnatomyPlugin::ASCDisplayOptions& options);

void bindSelectorMembers(SelectorElemClass& selectorElem, SelectorClass& selector);
void bindStyleSheetMembers(StyleSheetClass& styleSheet);
void bindStyleProperty(py::module_& m);

}
