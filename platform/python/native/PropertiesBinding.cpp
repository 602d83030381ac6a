#include "Bindings.h"
#include "Conversions.h"
#include "Pickling.h"

#include <fmt/format.h>

namespace Orbitane::Python {

namespace {

[[noreturn]] void raiseCannotHold(const ValueConversionError& e)
{
	const std::string message = "Properties cannot hold " + e.detail;
	if (e.isTypeError)
		throw py::type_error(message);
	throw py::value_error(message);
}

Properties fromDict(const py::dict& d)
{
	try
	{
		return propertiesFromDict(d);
	}
	catch (const ValueConversionError& e)
	{
		raiseCannotHold(e);
	}
}

void setItem(Properties& p, const std::string& name, py::handle value)
{
	try
	{
		// converted completely before anything is stored, so a refused value changes nothing
		p.set(name, valueFromPython(value));
	}
	catch (const ValueConversionError& e)
	{
		raiseCannotHold(e);
	}
}

const Properties::Value& item(const Properties& p, const std::string& name)
{
	if (const Properties::Value* v = p.find(name))
		return *v;
	throw py::key_error(name);
}

py::list keys(const Properties& p)
{
	py::list out;
	for (const auto& [name, value] : p.entries())
		out.append(name);
	return out;
}

/// Values are always copied whole. A Python subclass stays itself and keeps its attributes, as
/// when it is pickled: deep copies of them with a memo, shallow ones without.
py::object copyOf(py::handle self, py::handle memo)
{
	py::handle cls = py::type::handle_of(self);
	if (cls.is(py::type::of<Properties>()))
		return py::cast(Properties(self.cast<const Properties&>()));
	py::object copy = cls.attr("__new__")(cls);
	py::type::of<Properties>().attr("__init__")(copy, self);
	py::object attributes = py::getattr(self, "__dict__", py::none());
	if (attributes.is_none())
		return copy;
	if (memo.is_none())
		copy.attr("__dict__").attr("update")(attributes);
	else
	{
		memo[py::int_(reinterpret_cast<std::uintptr_t>(self.ptr()))] = copy;
		copy.attr("__dict__").attr("update")(py::module_::import("copy").attr("deepcopy")(attributes, memo));
	}
	return copy;
}

}

void bindProperties(py::module_& m)
{
	py::class_<Properties, py::smart_holder> cls(
	    m, "Properties",
	    "Named, typed values in insertion order: bool, int (32 bit), float, str, numeric vectors of 2 to 4 "
	    "values, 4 x 4 matrices and nested Properties. Vectors and matrices come back as float64 arrays; "
	    "nested Properties come back as copies.");
	publicIn(cls)
	    .def(py::init<>())
	    .def(py::init(&fromDict), py::arg("values"))
	    .def(py::init<const Properties&>(), py::arg("other"))
	    .def("__getitem__", [](const Properties& p, const std::string& name) { return valueToPython(item(p, name)); })
	    .def("__setitem__", &setItem)
	    .def("__delitem__",
	         [](Properties& p, const std::string& name) {
		         if (!p.remove(name))
			         throw py::key_error(name);
	         })
	    .def("__contains__",
	         [](const Properties& p, py::handle name) {
		         return py::isinstance<py::str>(name) && p.has(name.cast<std::string>());
	         })
	    .def("__len__", &Properties::size)
	    .def("__iter__", [](const Properties& p) { return py::iter(keys(p)); })
	    .def("keys", &keys)
	    .def(
	        "get",
	        [](const Properties& p, const std::string& name, py::object fallback) {
		        const Properties::Value* v = p.find(name);
		        return v ? valueToPython(*v) : fallback;
	        },
	        py::arg("name"), py::arg("default") = py::none())
	    .def("asdict", &propertiesToDict, "A dict of the values; nested Properties become dicts too.")
	    .def(
	        "__eq__", [](const Properties& a, const Properties& b) { return a == b; }, py::is_operator())
	    .def("__copy__", [](py::handle self) { return copyOf(self, py::none()); })
	    .def("__deepcopy__", &copyOf, py::arg("memo"))
	    .def("__repr__", [](const Properties& p) {
		    return fmt::format("Properties({})", py::repr(propertiesToDict(p)).cast<std::string>());
	    });
	cls.attr("__hash__") = py::none();
	enablePropertiesPickling(cls);
}

}
