#pragma once

#include "entry/BindingsInterface.h"
#include "entry/Registration.h"

namespace Orbitane::Bindings {

/// Registers the module's classes and functions in their fixed order. The three style classes
/// are created up front because display options take and return them long before their own
/// members are bound; member order makes them die in reverse: StyleSheet, Selector, SelectorElem.
class AnatomyDataBindings : public BindingsInterface
{
public:
	explicit AnatomyDataBindings(py::module_& module);

	void bind() override;

private:
	py::module_& m_module;
	SelectorElemClass m_selectorElem;
	SelectorClass m_selector;
	StyleSheetClass m_styleSheet;
};

}
