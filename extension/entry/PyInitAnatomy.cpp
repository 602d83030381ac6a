// The module's only exported symbol. Written out by hand rather than with the binding library's
// module macro, which makes a multi-phase module: this one initialises in a single phase.

#include "entry/AnatomyBindings.h"
#include "entry/VersionCheck.h"

#include <pybind11/pybind11.h>

#include <exception>

namespace py = pybind11;

namespace {

// The interpreter keeps a pointer to the definition for the life of the module.
PyModuleDef g_anatomyDefinition{};

constexpr const char* compiledForPython = PYBIND11_TOSTRING(PY_MAJOR_VERSION) "." PYBIND11_TOSTRING(PY_MINOR_VERSION);

bool interpreterIsCompatible()
{
	if (auto message = Orbitane::Bindings::interpreterMismatchMessage(compiledForPython, Py_GetVersion()))
	{
		PyErr_SetString(PyExc_ImportError, message->c_str());
		return false;
	}
	return true;
}

// Turns a failure of the bindings into the ImportError the importer sees.
void setImportError(std::exception_ptr failure)
{
	try
	{
		std::rethrow_exception(failure);
	}
	catch (py::error_already_set& e)
	{
		py::raise_from(e, PyExc_ImportError, "initialization failed");
	}
	catch (const std::exception& e)
	{
		py::set_error(PyExc_ImportError, e.what());
	}
	catch (...)
	{
		// Nothing may unwind out of the interpreter's C call.
		PyErr_SetString(PyExc_ImportError, "initialization failed");
	}
}

// Imported for its side effect alone: the parent package registers the Python types (Data,
// Mesh, Graph, Algorithm, ...) that this module's classes derive from or return.
void importParentTypes()
{
	PyObject* graph = PyImport_ImportModule("orbitane.graph");
	if (!graph)
		throw py::error_already_set();
	Py_DECREF(graph);
}

PyObject* initialize()
{
	py::module_ m;
	try
	{
		m = py::module_::create_extension_module("anatomy", nullptr, &g_anatomyDefinition);
	}
	catch (py::error_already_set& e)
	{
		e.restore();
		return nullptr;
	}
	// create_extension_module hands back a second reference beside the one the interpreter
	// created; owning that one too lets a failed start-up free the module completely.
	auto created = py::reinterpret_steal<py::object>(m.ptr());

	std::exception_ptr failure;
	try
	{
		importParentTypes();
		Orbitane::Bindings::AnatomyBindings bindings(m);
		bindings.bind();
	}
	catch (...)
	{
		failure = std::current_exception();
	}
	if (!failure)
		return created.release().ptr();

	// Freed before the ImportError is raised, so that no deallocation runs under a pending error.
	created = py::object();
	m = py::module_();
	setImportError(failure);
	return nullptr;
}

}

extern "C" PYBIND11_EXPORT PyObject* PyInit_anatomy();

extern "C" PYBIND11_EXPORT PyObject* PyInit_anatomy()
{
	if (!interpreterIsCompatible())
		return nullptr;
	try
	{
		return initialize();
	}
	catch (...)
	{
		setImportError(std::current_exception());
		return nullptr;
	}
}
