#include "structure_bindings/StructurePickling.h"

#include "python/native/BytesView.h"

namespace Orbitane::Bindings {

namespace {

py::object parentHelper(const char* name) { return py::module_::import("orbitane._orbitane").attr(name); }

[[noreturn]] void raisePickleError(const char* errorClass, const std::string& message)
{
	PyErr_SetString(py::module_::import("pickle").attr(errorClass).ptr(), message.c_str());
	throw py::error_already_set();
}

}

py::object pickleState(py::handle self, const std::vector<std::uint8_t>& encoding)
{
	return parentHelper("_pickle_state")(self, Python::toBytes(encoding));
}

std::span<const std::uint8_t> PickledState::bytes() const { return Python::bytesView(encoding); }

PickledState unpackState(py::handle state, const std::string& className)
{
	auto parts = parentHelper("_unpickle_state")(state, className).cast<py::tuple>();
	return {parts[0].cast<py::bytes>(), parts[1].cast<py::dict>()};
}

py::object reduceForPickling(py::handle self, int protocol) { return parentHelper("_reduce_ex")(self, protocol); }

void raiseUnpicklingError(const std::string& message) { raisePickleError("UnpicklingError", message); }

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

}
