#include "style_bindings/StyleSheetObject.h"
#include "style_bindings/StylingDetail.h"

#include <pybind11/stl.h>

#include <optional>
#include <string>

namespace Orbitane::Bindings {

using AnatomyPlugin::ASCDisplayOptions;
using AnatomyPlugin::StyleSheet;

namespace {

void addStyleSheet(ComponentView<ASCDisplayOptions> self, const StyleSheetObject& sheet,
                   const std::optional<std::string>& before)
{
	self->addStyleSheet(StyleSheet(sheet.sheet()), before);
}

/// The held sheet's Python object keeps the options' Python object alive.
StyleSheetObject* getOrAppendStyleSheet(ComponentView<ASCDisplayOptions> self, const std::string& name,
                                        const std::optional<std::string>& before)
{
	StyleSheet& held = self->getOrAppendStyleSheet(name, before);
	// the options' own Python object, which the binding library finds by their address
	return StyleSheetObject::viewOf(held, py::cast(&self.get(), py::return_value_policy::reference));
}

}

void registerASCDisplayOptions(py::module_& m)
{
	py::class_<ASCDisplayOptions, DataComponentBase>(
	    m, "ASCDisplayOptions", "DataComponent to store AnatomicalStructureCollection-specific rendering options.")
	    .def(py::init<>())
	    .def("add_style_sheet", &addStyleSheet)
	    // a new sheet object is handed over to Python; an existing one is returned as it is
	    .def("get_or_append_style_sheet", &getOrAppendStyleSheet, py::return_value_policy::take_ownership)
	    .def("remove_style_sheets_by_name", [](ComponentView<ASCDisplayOptions> self, const std::string& name) {
		    self->removeStyleSheetsByName(name);
	    });
}

}
