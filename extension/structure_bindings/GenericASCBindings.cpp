#include "entry/Registration.h"

#include "anatomy/structures/GenericASC.h"
#include "data/Data.h"

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

}

void registerGenericASC(py::module_& m)
{
	py::class_<GenericASC, AnatomicalStructureCollection, Data, std::shared_ptr<GenericASC>>(
	    m, "GenericASC", py::multiple_inheritance(),
	    "GenericASC holds the data associated with a generic anatomical structure collection.")
	    .def(py::init([] { return std::make_shared<GenericASC>(false); }))
	    .def("__repr__", &repr)
	    .def("clone", [](const GenericASC& c) { return std::shared_ptr<GenericASC>(c.clone()); });
}

}
