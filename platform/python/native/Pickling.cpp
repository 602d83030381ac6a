#include "Pickling.h"

#include "BytesView.h"

namespace Orbitane::Python {

void raisePickleError(const char* errorClass, const std::string& message)
{
	py::object cls = py::module_::import("pickle").attr(errorClass);
	PyErr_SetString(cls.ptr(), message.c_str());
	throw py::error_already_set();
}

void requireMemoryCodec(const char* errorClass, const std::string& className)
{
	if (DataIO::hasMemoryCodec())
		return;
	py::object importError = py::module_::import("orbitane").attr("_load_plugins")();
	if (DataIO::hasMemoryCodec())
		return;
	const std::string verb = std::string(errorClass) == "PicklingError" ? "pickle" : "unpickle";
	const std::string message =
	    "Cannot " + verb + " " + className + ": its encoding comes with orbitane.anatomy, which could not be imported";
	if (importError.is_none())
		raisePickleError(errorClass, message);
	PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(importError.ptr())), importError.ptr());
	py::raise_from(py::module_::import("pickle").attr(errorClass).ptr(), message.c_str());
	throw py::error_already_set();
}

py::tuple pickleState(py::handle self, const py::bytes& encoding)
{
	py::object attributes = py::getattr(self, "__dict__", py::none());
	if (attributes.is_none())
		attributes = py::dict();
	return py::make_tuple(encoding, attributes);
}

py::tuple pickleState(py::handle self, const std::vector<std::uint8_t>& encoding)
{
	return pickleState(self, toBytes(encoding));
}

std::span<const std::uint8_t> PickledState::bytes() const { return bytesView(encoding); }

PickledState unpackState(py::handle state, const std::string& className)
{
	const bool pair = PyTuple_Check(state.ptr()) && PyTuple_GET_SIZE(state.ptr()) == 2;
	if (!pair || !PyBytes_Check(PyTuple_GET_ITEM(state.ptr(), 0)) || !PyDict_Check(PyTuple_GET_ITEM(state.ptr(), 1)))
		raisePickleError("UnpicklingError",
		                 "Cannot unpickle " + className + ": its state must be a pair (bytes, dict), not " +
		                     py::str(py::type::handle_of(state).attr("__name__")).cast<std::string>());
	auto parts = py::reinterpret_borrow<py::tuple>(state);
	return {parts[0].cast<py::bytes>(), parts[1].cast<py::dict>()};
}

py::object reduceForPickling(py::handle self, int)
{
	py::object newObject = py::module_::import("copyreg").attr("__newobj__");
	return py::make_tuple(newObject, py::make_tuple(py::type::handle_of(self)), self.attr("__getstate__")());
}

std::vector<std::uint8_t> encodingOf(const std::string& className,
                                     const std::function<std::vector<std::uint8_t>()>& encode)
{
	try
	{
		return encode();
	}
	catch (const std::exception& e)
	{
		raisePickleError("PicklingError", "Cannot pickle " + className + ": " + e.what());
	}
}

namespace {

template <typename F>
auto decodingFor(const std::string& className, F&& decode)
{
	requireMemoryCodec("UnpicklingError", className);
	try
	{
		return decode();
	}
	catch (const std::exception& e)
	{
		raisePickleError("UnpicklingError", "Cannot unpickle " + className + ": " + e.what());
	}
}

std::pair<Properties, py::dict> unpickleProperties(py::object state)
{
	const std::string className = "orbitane.Properties";
	PickledState parts = unpackState(state, className);
	Properties p = decodingFor(className, [&] { return DataIO::decodePropertiesInMemory(parts.bytes()); });
	return {std::move(p), parts.attributes};
}

}

std::unique_ptr<Data> decodeData(const PickledState& state, const std::string& className)
{
	return decodingFor(className, [&] { return DataIO::decodeDataInMemory(state.bytes()); });
}

void enablePropertiesPickling(py::class_<Properties, py::smart_holder>& cls)
{
	const std::string className = "orbitane.Properties";
	cls.def(py::pickle(
	    [className](py::handle self) -> py::object {
		    requireMemoryCodec("PicklingError", className);
		    const Properties& p = self.cast<const Properties&>();
		    return pickleState(self, encodingOf(className, [&] { return DataIO::encodeInMemory(p); }));
	    },
	    &unpickleProperties));
	cls.def("__reduce_ex__", &reduceForPickling, py::arg("protocol"));
}

void bindPickling(py::module_& m)
{
	m.def("_reduce_ex", &reduceForPickling, py::arg("self"), py::arg("protocol"));
	m.def(
	    "_pickle_state", [](py::handle self, const py::bytes& encoding) { return pickleState(self, encoding); },
	    py::arg("self"), py::arg("encoding"));
	m.def(
	    "_unpickle_state",
	    [](py::handle state, const std::string& className) {
		    PickledState parts = unpackState(state, className);
		    return py::make_tuple(parts.encoding, parts.attributes);
	    },
	    py::arg("state"), py::arg("class_name"));
}

}
