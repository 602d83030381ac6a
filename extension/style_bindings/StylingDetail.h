#pragma once

#include "anatomy/style/ASCDisplayOptions.h"
#include "anatomy/style/StyleSheet.h"
#include "entry/Registration.h"

namespace Orbitane::Bindings::StylingDetail {

// Python objects that refer to a style sheet or a display options object without owning it
// (returned by get_or_append_style_sheet, asc_display_options, DataComponentList.add, or by the
// parent package's list access) must not outlive their target silently. When the target goes,
// each such object is switched to a stand-in that never dies and is unregistered, and every
// member then raises ReferenceError instead of reaching freed memory.

/// Starts switching views over when their targets end (once per process; later calls do nothing).
void detachViewsWhenTargetsEnd();

/// target itself; raises ReferenceError when the view that gave it has lost its target.
AnatomyPlugin::StyleSheet& alive(AnatomyPlugin::StyleSheet& target);
const AnatomyPlugin::StyleSheet& alive(const AnatomyPlugin::StyleSheet& target);
AnatomyPlugin::ASCDisplayOptions& alive(AnatomyPlugin::ASCDisplayOptions& target);
const AnatomyPlugin::ASCDisplayOptions& alive(const AnatomyPlugin::ASCDisplayOptions& target);

void bindSelectorMembers(SelectorElemClass& selectorElem, SelectorClass& selector);
void bindStyleSheetMembers(StyleSheetClass& styleSheet);
void bindStyleProperty(py::module_& m);

}
