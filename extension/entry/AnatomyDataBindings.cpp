#include "entry/AnatomyDataBindings.h"

namespace Orbitane::Bindings {

AnatomyDataBindings::AnatomyDataBindings(py::module_& module)
    : m_module(module),
      m_selectorElem(module, "SelectorElem", "SelectorElem is a class for querying objects."),
      m_selector(module, "Selector", "Selector is a class combining with logical OR multiple SelectorElem objects."),
      m_styleSheet(module, "StyleSheet", "Class for managing a logically grouped set of style rules.",
                   py::custom_type_setup(&StyleSheetObject::collectCyclesThroughOptions))
{}

void AnatomyDataBindings::bind()
{
	registerAnatomicalStructureInvalidException(m_module);
	registerKeyValueDataWrappers(m_module);
	exportKeyNamespace();
	registerAnatomicalStructure(m_module);
	registerGenericAnatomicalStructure(m_module);
	registerASCDisplayOptions(m_module);
	registerDataComponentListAdditions("asc_display_options");
	registerAnatomicalStructureCollection(m_module);
	registerGenericASC(m_module);
	registerASCRegistration(m_module);
	registerGenerateLinearShapeModel(m_module);
	registerLabelMapConversion(m_module);
	registerStyling(m_module, m_selectorElem, m_selector, m_styleSheet);
}

}
