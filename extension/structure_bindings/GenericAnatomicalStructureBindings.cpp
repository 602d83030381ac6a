#include "entry/Registration.h"

#include "anatomy/io/OrbObject.h"
#include "anatomy/structures/GenericAnatomicalStructureWrapper.h"
#include "structure_bindings/StructurePickling.h"
#include "support/Utf8Name.h"

#include <pybind11/stl.h>

#include <memory>
#include <string>

namespace Orbitane::Bindings {

namespace {

using Handle = GenericAnatomicalStructureWrapper;

constexpr const char* kClassName = "orbitane.anatomy.GenericAnatomicalStructure";

py::object stateOf(py::handle self)
{
	Handle& handle = self.cast<Handle&>();
	const GenericAnatomicalStructure& structure = *handle.operator->();
	return pickleState(self, encodingOf(kClassName, [&] { return OrbObject::encode(structure); }));
}

std::pair<std::shared_ptr<Handle>, py::dict> fromState(py::object state)
{
	PickledState parts = unpackState(state, kClassName);
	std::unique_ptr<AnatomicalStructure> decoded =
	    decoding(kClassName, [&] { return OrbObject::decodeStructure(parts.bytes()); });
	if (!dynamic_cast<GenericAnatomicalStructure*>(decoded.get()))
		raiseUnpicklingError(std::string("Cannot unpickle ") + kClassName +
		                     ": the pickle holds another kind of structure");
	std::unique_ptr<GenericAnatomicalStructure> generic(static_cast<GenericAnatomicalStructure*>(decoded.release()));
	return {std::make_shared<Handle>(std::move(generic)), parts.attributes};
}

}

void registerGenericAnatomicalStructure(py::module_& m)
{
	py::class_<Handle, AnatomicalStructureWrapper, std::shared_ptr<Handle>>(
	    m, "GenericAnatomicalStructure", "Generic anatomical structure implementation.")
	    .def(py::init<>())
	    .def(py::init(
	        [](const std::string& identifier) { return std::make_shared<Handle>(utf8Name(identifier, "identifier")); }))
	    .def_property(
	        "identifier", [](Handle& handle) { return handle->identifier(); },
	        [](Handle& handle, const std::string& identifier) {
		        handle->setIdentifier(utf8Name(identifier, "identifier"));
	        })
	    .def(py::pickle(&stateOf, &fromState))
	    .def("__reduce_ex__", &reduceForPickling, py::arg("protocol"));
}

}
