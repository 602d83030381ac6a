#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

// Structures and collections pickle like the parent package's data types: the state is (the .orb
// encoding of the object as bytes, the instance's __dict__), remade with copyreg.__newobj__ of the
// object's own class. The state's form is the parent package's, so its helpers make and check it.
namespace Orbitane::Bindings {

namespace py = pybind11;

py::object pickleState(py::handle self, const std::vector<std::uint8_t>& encoding);

/// The encoding and the attributes of a state; raises pickle.UnpicklingError for any other state.
struct PickledState
{
	py::bytes encoding;
	py::dict attributes;
	std::span<const std::uint8_t> bytes() const;
};
PickledState unpackState(py::handle state, const std::string& className);

py::object reduceForPickling(py::handle self, int protocol);

[[noreturn]] void raiseUnpicklingError(const std::string& message);

/// Run encode or decode, raising pickle.PicklingError / pickle.UnpicklingError naming the class
/// for what they throw.
std::vector<std::uint8_t> encodingOf(const std::string& className,
                                     const std::function<std::vector<std::uint8_t>()>& encode);
template <typename F>
auto decoding(const std::string& className, F&& decode)
{
	try
	{
		return decode();
	}
	catch (const std::exception& e)
	{
		raiseUnpicklingError("Cannot unpickle " + className + ": " + e.what());
	}
}

}
