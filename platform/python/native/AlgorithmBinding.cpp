#include "Bindings.h"
#include "Conversions.h"
#include "SignalBinding.h"

#include "data/Algorithm.h"
#include "data/DeferredCopies.h"

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <pybind11/stl.h>

namespace Orbitane::Python {

namespace {

constexpr std::string_view kParameterPrefix = "p_";

void setParameterValue(ParameterBase& p, py::handle value)
{
	if (p.readOnly())
		throw py::attribute_error(fmt::format("parameter '{}' is read-only", p.name()));
	Properties::Value converted;
	try
	{
		converted = valueFromPython(value);
	}
	catch (const ValueConversionError& e)
	{
		if (!e.isTypeError)
			throw py::value_error(fmt::format("parameter '{}' cannot take {}", p.name(), e.detail));
		throw py::type_error(
		    fmt::format("parameter '{}' takes {}, not '{}'", p.name(), describeValueKind(p.value()), typeName(value)));
	}
	try
	{
		p.setValue(converted);
	}
	catch (const std::invalid_argument&)
	{
		throw py::type_error(
		    fmt::format("parameter '{}' takes {}, not '{}'", p.name(), describeValueKind(p.value()), typeName(value)));
	}
}

std::vector<std::string> parameterNames(const Algorithm& a)
{
	std::vector<std::string> names;
	for (const ParameterBase* p : a.parameters())
		names.push_back(p->name());
	return names;
}

std::string noSuchParameter(py::handle self, const Algorithm& a, const std::string& name)
{
	const std::string type = typeName(self);
	const auto names = parameterNames(a);
	if (names.empty())
		return fmt::format("{} has no parameter '{}'; it has no parameters", type, name);
	return fmt::format("{} has no parameter '{}'; its parameters are: {}", type, name, fmt::join(names, ", "));
}

ParameterBase& parameterOf(py::handle self, const std::string& name)
{
	auto& a = self.cast<Algorithm&>();
	if (ParameterBase* p = a.parameter(name))
		return *p;
	throw py::key_error(noSuchParameter(self, a, name));
}

// Only reached when normal attribute lookup failed.
py::object getAttribute(py::handle self, const std::string& attribute)
{
	if (attribute.starts_with(kParameterPrefix))
	{
		auto& a = self.cast<Algorithm&>();
		const std::string name = attribute.substr(kParameterPrefix.size());
		if (ParameterBase* p = a.parameter(name))
			return valueToPython(p->value());
		throw py::attribute_error(noSuchParameter(self, a, name));
	}
	throw py::attribute_error(fmt::format("'{}' object has no attribute '{}'", typeName(self), attribute));
}

void setAttribute(py::handle self, const std::string& attribute, py::handle value)
{
	if (attribute.starts_with(kParameterPrefix))
	{
		auto& a = self.cast<Algorithm&>();
		const std::string name = attribute.substr(kParameterPrefix.size());
		ParameterBase* p = a.parameter(name);
		if (!p)
			throw py::attribute_error(noSuchParameter(self, a, name));
		setParameterValue(*p, value);
		return;
	}
	py::module_::import("builtins").attr("object").attr("__setattr__")(self, attribute, value);
}

py::list takeOutput(Algorithm& a)
{
	OwningDataList output = withDeferredCopies([&] { return a.takeOutput(); });
	py::list out;
	while (!output.empty())
		out.append(py::cast(std::shared_ptr<Data>(output.take(0))));
	return out;
}

void bindParameter(py::module_& m)
{
	// Parameters are members of their algorithm or component: Python only refers to them.
	py::class_<ParameterBase, std::unique_ptr<ParameterBase, py::nodelete>> cls(
	    m, "Parameter",
	    "A named value of an algorithm; assigning a different value emits changed once, an equal "
	    "value changes nothing.");
	publicIn(cls)
	    .def_property_readonly("name", &ParameterBase::name)
	    .def_property(
	        "value", [](const ParameterBase& p) { return valueToPython(p.value()); }, &setParameterValue)
	    .def_property_readonly("read_only", &ParameterBase::readOnly)
	    .def("reset", &ParameterBase::resetToDefault, "Sets the default value.")
	    .def_property_readonly(
	        "changed",
	        py::cpp_function([](ParameterBase& p) { return SignalHandle::of(p.changed); }, py::keep_alive<0, 1>()),
	        "Emitted once whenever the value changes.")
	    .def("__repr__", [](const ParameterBase& p) {
		    return fmt::format("<Parameter {}={}>", p.name(), py::repr(valueToPython(p.value())).cast<std::string>());
	    });
}

std::vector<const void*> signalsOf(const Algorithm& a)
{
	std::vector<const void*> signals{&a.progress};
	for (const ParameterBase* p : a.parameters())
		signals.push_back(&p->changed);
	return signals;
}

void bindAlgorithm(py::module_& m)
{
	py::class_<Algorithm> cls(
	    m, "Algorithm",
	    "A computation with parameters. Parameters are reached with param(name) or as "
	    "attributes p_<name>, which read and assign their values.",
	    py::custom_type_setup(&collectCyclesThroughSlots<Algorithm, std::unique_ptr<Algorithm>, &signalsOf>));
	publicIn(cls)
	    .def(
	        "compute", [](Algorithm& a) { withDeferredCopies([&] { a.compute(); }); },
	        "Runs the computation; status tells how it went.")
	    .def_property_readonly("status", &Algorithm::status, "0 after a successful compute.")
	    .def("param", &parameterOf, py::arg("name"), py::return_value_policy::reference_internal,
	         "The parameter of that name; KeyError if there is none.")
	    .def("parameter_names", &parameterNames, "Names of the parameters in their order.")
	    .def("take_output", &takeOutput, "Hands over what the last compute produced; a second call gives [].")
	    .def(
	        "configuration",
	        [](const Algorithm& a) {
		        Properties p;
		        a.configuration(&p);
		        return p;
	        },
	        "The parameter values as Properties.")
	    .def(
	        "configure", [](Algorithm& a, const Properties& p) { a.configure(&p); }, py::arg("properties"),
	        "Sets the parameters that the Properties name; values of the wrong type are skipped.")
	    .def_property_readonly(
	        "progress",
	        py::cpp_function([](Algorithm& a) { return SignalHandle::of(a.progress); }, py::keep_alive<0, 1>()),
	        "Emitted with the fraction done while compute runs.")
	    .def("__getattr__", &getAttribute)
	    .def("__setattr__", &setAttribute);
}

}

void bindAlgorithms(py::module_& m)
{
	bindParameter(m);
	bindAlgorithm(m);
}

}
