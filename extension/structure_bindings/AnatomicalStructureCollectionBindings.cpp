#include "entry/Registration.h"

#include "anatomy/structures/AnatomicalStructureCollection.h"
#include "anatomy/structures/AnatomicalStructureWrapper.h"
#include "data/Data.h"
#include "data/DeferredCopies.h"

#include <pybind11/stl.h>

#include <fmt/format.h>

#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace Orbitane::Bindings {

namespace {

using Collection = AnatomicalStructureCollection;
using Handle = AnatomicalStructureWrapper;

[[noreturn]] void throwUnknownIdentifier(const std::string& identifier)
{
	throw py::key_error("Anatomical structure with identifier '" + identifier + "' not found");
}

std::string repr(const Collection& c)
{
	std::string text = "<AnatomicalStructureCollection, AnatomicalStructures: [";
	for (int i = 0; i < c.numAnatomicalStructures(); ++i)
		text += (i ? "," : "") + c.anatomicalStructure(i)->describe();
	return text + "] >";
}

std::vector<std::string> identifiers(const Collection& c)
{
	std::vector<std::string> out;
	for (int i = 0; i < c.numAnatomicalStructures(); ++i)
		out.push_back(c.anatomicalStructure(i)->identifier());
	return out;
}

std::shared_ptr<Handle> structureAt(Collection& c, int index)
{
	const int count = c.numAnatomicalStructures();
	if (index < 0 || index >= count)
		throw py::index_error(fmt::format("Index out of range: {} not in [0, {})", index, count));
	return std::make_shared<Handle>(c.anatomicalStructure(index));
}

std::shared_ptr<Handle> structureNamed(Collection& c, const std::string& identifier)
{
	AnatomicalStructure* s = c.anatomicalStructureByIdentifier(identifier);
	if (!s)
		throwUnknownIdentifier(identifier);
	return std::make_shared<Handle>(s);
}

void add(Collection& c, const std::shared_ptr<Handle>& structure)
{
	if (!structure || !structure->isValid())
		throw py::value_error("Invalid anatomical structure");
	std::unique_ptr<AnatomicalStructure> copy = withDeferredCopies([&] { return (*structure)->clone(); });
	const std::string identifier = copy->identifier();
	if (!c.addAnatomicalStructure(std::move(copy)))
		throw py::value_error(fmt::format("Anatomical structure '{}' is not supported by this collection", identifier));
}

std::shared_ptr<Handle> pop(Collection& c, const std::variant<int, std::string>& which)
{
	AnatomicalStructure* target = nullptr;
	if (const int* index = std::get_if<int>(&which))
	{
		if (*index < 0 || *index >= c.numAnatomicalStructures())
			throw py::index_error("Index out of range");
		target = c.anatomicalStructure(*index);
	}
	else
	{
		const std::string& identifier = std::get<std::string>(which);
		target = c.anatomicalStructureByIdentifier(identifier);
		if (!target)
			throwUnknownIdentifier(identifier);
	}
	std::unique_ptr<AnatomicalStructure> taken = c.takeAnatomicalStructure(target);
	if (!taken)
		throw std::runtime_error("Failed to take AnatomicalStructure");
	return std::make_shared<Handle>(std::move(taken));
}

}

void registerAnatomicalStructureCollection(py::module_& m)
{
	py::class_<Collection, Data, std::shared_ptr<Collection>>(
	    m, "AnatomicalStructureCollection",
	    "AnatomicalStructureCollection provides an interface for managing collections of AnatomicalStructure objects.")
	    .def("__repr__", &repr)
	    .def("clone",
	         [](const Collection& c) {
		         return withDeferredCopies([&] { return std::shared_ptr<Collection>(c.clone()); });
	         })
	    .def("num_anatomical_structures", &Collection::numAnatomicalStructures,
	         "Returns the number of anatomical structures in the collection")
	    .def(
	        "__len__", [](const Collection& c) { return c.numAnatomicalStructures(); },
	        "Same as :meth:`num_anatomical_structures`; enables ``len(asc)``.")
	    .def("add", &add, py::arg("structure"),
	         "Add a clone of the structure to the collection. Raises ValueError if the collection does not accept "
	         "this structure type.")
	    .def("pop", &pop, py::arg("index_or_identifier"),
	         "Remove and return a structure from an ASC. You can pass an index or a string identifier.")
	    .def("anatomical_structure_identifiers", &identifiers,
	         "Returns a list of the names of all anatomical structures in the collection")
	    .def("anatomical_structure", &structureAt, py::arg("index"),
	         "Returns the anatomical structure at the given index")
	    .def("anatomical_structure", &structureNamed, py::arg("identifier"),
	         "Returns the anatomical structure with the given identifier");
}

}
