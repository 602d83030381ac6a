#include "entry/Registration.h"

#include "anatomy/AnatomicalStructureInvalidException.h"
#include "core/String.h"

#include <pybind11/gil_safe_call_once.h>

#include <exception>
#include <string>

namespace Orbitane::Bindings {

namespace {

constexpr const char* exceptionName = "AnatomicalStructureInvalidException";

// The class outlives any one module object: every translator registered by a later import
// raises this same class, so a second import cannot leave two incompatible classes around.
PYBIND11_CONSTINIT py::gil_safe_call_once_and_store<py::object> g_exceptionClass;

py::object createExceptionClass(py::module_& m)
{
	const std::string qualifiedName = m.attr("__name__").cast<std::string>() + "." + exceptionName;
	auto cls = py::reinterpret_steal<py::object>(PyErr_NewException(qualifiedName.c_str(), PyExc_Exception, nullptr));
	if (!cls)
		throw py::error_already_set();
	if (py::hasattr(m, "__dict__") && m.attr("__dict__").contains(exceptionName))
		py::pybind11_fail(std::string("Error during initialization: multiple incompatible definitions with name \"") +
		                  exceptionName + "\"");
	m.attr(exceptionName) = cls;
	return cls;
}

void translateInvalidStructure(std::exception_ptr p)
{
	if (!p)
		return;
	try
	{
		std::rethrow_exception(p);
	}
	catch (const AnatomicalStructureInvalidException& e)
	{
		py::set_error(g_exceptionClass.get_stored(), String::withValidUtf8(e.what()).c_str());
	}
}

}

void registerAnatomicalStructureInvalidException(py::module_& m)
{
	g_exceptionClass.call_once_and_store_result([&m] { return createExceptionClass(m); });
	// Process-wide, so that functions of other modules that reach the anatomy library translate too.
	py::register_exception_translator(&translateInvalidStructure);
}

}
