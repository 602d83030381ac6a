#include "Bindings.h"

#include "core/String.h"
#include "data/DataIO.h"

#include <pybind11/gil_safe_call_once.h>

#include <cerrno>
#include <exception>

namespace Orbitane::Python {

namespace {

// A path that names no file was once reported as a RuntimeError: the class raised for it is a
// FileNotFoundError that scripts catching RuntimeError still catch.
PYBIND11_CONSTINIT py::gil_safe_call_once_and_store<py::object> g_missingFileClass;

py::object createMissingFileClass(py::module_& m)
{
	const std::string qualifiedName = m.attr("__name__").cast<std::string>() + ".MissingFileError";
	const py::tuple bases = py::make_tuple(py::handle(PyExc_FileNotFoundError), py::handle(PyExc_RuntimeError));
	auto cls = py::reinterpret_steal<py::object>(PyErr_NewExceptionWithDoc(
	    qualifiedName.c_str(), "The file does not exist (a FileNotFoundError and a RuntimeError).", bases.ptr(),
	    nullptr));
	if (!cls)
		throw py::error_already_set();
	m.attr("MissingFileError") = cls;
	return cls;
}

/// The class Python's own file functions raise for the same errno.
py::handle pythonClassFor(int errorCode)
{
	switch (errorCode)
	{
		case ENOENT: return g_missingFileClass.get_stored();
		case EACCES:
		case EPERM: return PyExc_PermissionError;
		case EISDIR: return PyExc_IsADirectoryError;
		default: return PyExc_OSError;
	}
}

void translateFileAccess(std::exception_ptr p)
{
	if (!p)
		return;
	try
	{
		std::rethrow_exception(p);
	}
	catch (const DataIO::FileAccessError& e)
	{
		// The message alone makes the text, as for the other errors; errno tells the kind apart.
		py::object error = pythonClassFor(e.errorCode())(String::withValidUtf8(e.what()));
		if (e.errorCode() != 0)
			error.attr("errno") = e.errorCode();
		PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
	}
}

}

// The package's open() and save() wrap these, since they first let known plugins register formats.
void bindFileIO(py::module_& m)
{
	g_missingFileClass.call_once_and_store_result([&m] { return createMissingFileClass(m); });
	py::register_exception_translator(&translateFileAccess);
	m.def("_extension", &DataIO::extensionOf, py::arg("path"));
	m.def("_has_reader", &DataIO::hasReader, py::arg("extension"));
	m.def("_has_writer", &DataIO::hasWriter, py::arg("extension"));
	m.def(
	    "_open", [](const std::string& path) { return std::shared_ptr<Data>(DataIO::load(path)); }, py::arg("path"));
	m.def("_save", &DataIO::save, py::arg("data"), py::arg("path"));
}

}
