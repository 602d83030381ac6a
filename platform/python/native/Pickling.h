#pragma once

#include "data/Data.h"
#include "data/DataIO.h"

#include <pybind11/pybind11.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

// Pickling (and so copy.deepcopy) of native objects through the platform's in-memory encoding
// (DataIO::MemoryCodec), which a plugin registers. The state is (the encoding as bytes, the
// instance's __dict__); objects are remade with copyreg.__newobj__ of their own class, so a Python
// subclass comes back as itself, with its attributes, for every pickle protocol.
namespace Orbitane::Python {

namespace py = pybind11;

/// Raises pickle.PicklingError or pickle.UnpicklingError (errorClass names which).
[[noreturn]] void raisePickleError(const char* errorClass, const std::string& message);

/// Makes sure a codec is registered, loading the known plugins first if none is (a fresh process
/// that unpickles has not imported them); raises errorClass, chained to the import error, if none
/// comes.
void requireMemoryCodec(const char* errorClass, const std::string& className);

/// (bytes of the encoding, the instance's __dict__ or an empty dict).
py::tuple pickleState(py::handle self, const std::vector<std::uint8_t>& encoding);
py::tuple pickleState(py::handle self, const py::bytes& encoding);

struct __attribute__((visibility("hidden"))) PickledState
{
	py::bytes encoding;
	py::dict attributes;
	std::span<const std::uint8_t> bytes() const;
};

/// The parts of a state made by pickleState; raises pickle.UnpicklingError for anything else.
PickledState unpackState(py::handle state, const std::string& className);

/// (copyreg.__newobj__, (type(self),), self.__getstate__()), whatever the protocol.
py::object reduceForPickling(py::handle self, int protocol);

/// The encoding, with the codec's errors raised as pickle.PicklingError naming the class.
std::vector<std::uint8_t> encodingOf(const std::string& className,
                                     const std::function<std::vector<std::uint8_t>()>& encode);

/// Decodes the state's encoding into a data object of exactly type T or raises pickle.UnpicklingError.
std::unique_ptr<Data> decodeData(const PickledState& state, const std::string& className);

template <typename T>
std::pair<std::shared_ptr<T>, py::dict> unpickleData(py::handle state, const std::string& className)
{
	PickledState parts = unpackState(state, className);
	std::unique_ptr<Data> data = decodeData(parts, className);
	if (!dynamic_cast<T*>(data.get()))
		raisePickleError("UnpicklingError", "Cannot unpickle " + className +
		                                        ": the pickle holds another kind of data (" + data->describe() + ")");
	return {std::shared_ptr<T>(static_cast<T*>(data.release())), parts.attributes};
}

/// Adds __getstate__, __setstate__ and __reduce_ex__ to the class of data type T.
template <typename T, typename Class>
void enableDataPickling(Class& cls, const std::string& className)
{
	cls.def(py::pickle(
	    [className](py::handle self) -> py::object {
		    requireMemoryCodec("PicklingError", className);
		    const T& data = self.cast<const T&>();
		    return pickleState(self, encodingOf(className, [&] { return DataIO::encodeInMemory(data); }));
	    },
	    [className](py::object state) { return unpickleData<T>(state, className); }));
	cls.def("__reduce_ex__", &reduceForPickling, py::arg("protocol"));
}

/// The same for Properties.
void enablePropertiesPickling(py::class_<Properties, py::smart_holder>& cls);

/// The helpers above as private functions of the module, for the pickling of extension types.
void bindPickling(py::module_& m);

}
