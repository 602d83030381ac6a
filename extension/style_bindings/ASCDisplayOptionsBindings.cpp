#include "style_bindings/StylingDetail.h"

#include <pybind11/stl.h>

#include <optional>
#include <string>

namespace Orbitane::Bindings {

using AnatomyPlugin::ASCDisplayOptions;
using AnatomyPlugin::StyleSheet;
using StylingDetail::alive;

void registerASCDisplayOptions(py::module_& m)
{
	StylingDetail::detachViewsWhenTargetsEnd();
	py::class_<ASCDisplayOptions, DataComponentBase>(
	    m, "ASCDisplayOptions", "DataComponent to store AnatomicalStructureCollection-specific rendering options.")
	    .def(py::init<>())
	    .def("add_style_sheet",
	         [](ASCDisplayOptions& self, const StyleSheet& sheet, const std::optional<std::string>& before) {
		         alive(self).addStyleSheet(StyleSheet(alive(sheet)), before);
	         })
	    .def(
	        "get_or_append_style_sheet",
	        [](ASCDisplayOptions& self, const std::string& name, const std::optional<std::string>& before) -> StyleSheet& {
		        return alive(self).getOrAppendStyleSheet(name, before);
	        },
	        py::return_value_policy::reference_internal)
	    .def("remove_style_sheets_by_name",
	         [](ASCDisplayOptions& self, const std::string& name) { alive(self).removeStyleSheetsByName(name); });
}

}
