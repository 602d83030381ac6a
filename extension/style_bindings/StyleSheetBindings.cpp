#include "style_bindings/DeclarationView.h"
#include "style_bindings/StyleSheetObject.h"
#include "style_bindings/StylingDetail.h"

#include <fmt/format.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <variant>

namespace Orbitane::Bindings {

using AnatomyPlugin::Selector;
using AnatomyPlugin::StyleSheet;

namespace {

using SelectorArgument = std::variant<std::optional<Selector>, std::string>;

/// A string that does not parse counts as no selector at all, like None.
std::optional<Selector> toSelector(const SelectorArgument& argument)
{
	if (const auto* text = std::get_if<std::string>(&argument))
		return Selector::parse(*text);
	return std::get<std::optional<Selector>>(argument);
}

bool appendOrModify(const StyleSheetObject& self, const SelectorArgument& selector, const py::function& callback)
{
	StyleSheet& sheet = self.sheet();
	// the Python exception of a failing callback travels through the library call as
	// error_already_set and is restored unchanged when this binding returns
	auto edit = [&callback, &sheet](Properties& declaration) {
		DeclarationView view(declaration, sheet);
		callback(view.object());
	};
	// the callback may end the sheet (for instance by removing it from its display options):
	// nothing of it is touched after the call
	return sheet.appendOrModify(toSelector(selector), edit);
}

std::string repr(const StyleSheetObject& self)
{
	const StyleSheet& s = self.sheet();
	return fmt::format("<StyleSheet, name='{}', enabled='{}', size='{}'>", s.name.get(), s.enabled.get(), s.size());
}

}

void bindStyleSheetMembers(StyleSheetClass& cls)
{
	cls.def(py::init<const std::string&>(), py::arg("name"), "Constructor that creates a single (empty) Style sheet.")
	    .def_property(
	        "enabled", [](const StyleSheetObject& s) { return s.sheet().enabled.get(); },
	        [](const StyleSheetObject& s, bool enabled) { s.sheet().enabled = enabled; },
	        "True if the style sheet is enabled in the styling cascade.")
	    .def_property(
	        "name", [](const StyleSheetObject& s) { return s.sheet().name.get(); },
	        [](const StyleSheetObject& s, const std::string& name) { s.sheet().name = name; },
	        "The name identifying the style sheet.")
	    .def("__repr__", &repr)
	    .def("append_or_modify", &appendOrModify,
	         "The declaration of a style rule identified by the selector is appended (if non-existent) or modified "
	         "using the given callback.");
}

}
