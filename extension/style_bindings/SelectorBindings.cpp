#include "style_bindings/StylingDetail.h"

#include <fmt/format.h>
#include <pybind11/stl.h>

#include <variant>
#include <vector>

namespace Orbitane::Bindings {

using AnatomyPlugin::Selector;
using AnatomyPlugin::SelectorElem;

namespace {

void bindSelectorElemMembers(SelectorElemClass& cls)
{
	cls.def_static("parse", [](const std::string& text) { return SelectorElem::parse(text); })
	    .def("__repr__", [](const SelectorElem& e) { return fmt::format("<SelectorElem, value='{}'>", e.str()); })
	    .def(
	        "__or__",
	        [](const SelectorElem& left, const std::variant<SelectorElem, Selector>& right) {
		        // element | selector is the selector's own OR with the element, like selector | element
		        if (const auto* elem = std::get_if<SelectorElem>(&right))
			        return left || *elem;
		        return std::get<Selector>(right) || left;
	        },
	        py::is_operator());
}

void bindSelectorOwnMembers(SelectorClass& cls)
{
	cls.def(py::init([](const std::variant<SelectorElem, std::vector<SelectorElem>>& elems) {
		   if (const auto* elem = std::get_if<SelectorElem>(&elems))
			   return Selector(*elem);
		   return Selector(std::get<std::vector<SelectorElem>>(elems));
	   }))
	    .def_static("parse", [](const std::string& text) { return Selector::parse(text); })
	    .def("__repr__", [](const Selector& s) { return fmt::format("<Selector, value='{}'>", s.str()); })
	    .def(
	        "__or__", [](const Selector& left, const SelectorElem& right) { return left || right; }, py::is_operator());
}

}

void bindSelectorMembers(SelectorElemClass& selectorElem, SelectorClass& selector)
{
	bindSelectorElemMembers(selectorElem);
	bindSelectorOwnMembers(selector);
}

}
