#include "entry/Registration.h"

#include "anatomy/io/OrbObject.h"
#include "anatomy/structures/GenericASC.h"
#include "data/Data.h"
#include "data/DeferredCopies.h"
#include "structure_bindings/StructurePickling.h"

#include <memory>
#include <string>

namespace Orbitane::Bindings {

namespace {

std::string repr(const GenericASC& c)
{
	std::string text = "<GenericASC, AnatomicalStructures: [";
	for (int i = 0; i < c.numAnatomicalStructures(); ++i)
		text += (i ? "," : "") + c.anatomicalStructure(i)->identifier();
	return text + "] >";
}

constexpr const char* kClassName = "orbitane.anatomy.GenericASC";

py::object stateOf(py::handle self)
{
	const GenericASC& collection = self.cast<const GenericASC&>();
	return pickleState(self,
	                   encodingOf(kClassName, [&] { return OrbObject::encode(static_cast<const Data&>(collection)); }));
}

std::pair<std::shared_ptr<GenericASC>, py::dict> fromState(py::object state)
{
	PickledState parts = unpackState(state, kClassName);
	std::unique_ptr<Data> decoded = decoding(kClassName, [&] { return OrbObject::decodeData(parts.bytes()); });
	if (!dynamic_cast<GenericASC*>(decoded.get()))
		raiseUnpicklingError(std::string("Cannot unpickle ") + kClassName +
		                     ": the pickle holds another kind of data (" + decoded->describe() + ")");
	return {std::shared_ptr<GenericASC>(static_cast<GenericASC*>(decoded.release())), parts.attributes};
}

}

void registerGenericASC(py::module_& m)
{
	py::class_<GenericASC, AnatomicalStructureCollection, Data, std::shared_ptr<GenericASC>>(
	    m, "GenericASC", py::multiple_inheritance(),
	    "GenericASC holds the data associated with a generic anatomical structure collection.")
	    .def(py::init([] { return std::make_shared<GenericASC>(false); }))
	    .def("__repr__", &repr)
	    .def("clone",
	         [](const GenericASC& c) {
		         return withDeferredCopies([&] { return std::shared_ptr<GenericASC>(c.clone()); });
	         })
	    .def(py::pickle(&stateOf, &fromState))
	    .def("__reduce_ex__", &reduceForPickling, py::arg("protocol"));
}

}
