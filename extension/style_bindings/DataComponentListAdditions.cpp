#include "style_bindings/StylingDetail.h"

#include "data/DataComponentList.h"

#include <stdexcept>

namespace Orbitane::Bindings {

using AnatomyPlugin::ASCDisplayOptions;

namespace {

bool holds(const DataComponentList& list, const DataComponentBase* component)
{
	for (int i = 0; i < list.size(); ++i)
		if (list.at(i) == component)
			return true;
	return false;
}

ListedComponent<DataComponentBase> addCopy(DataComponentList& list, ComponentView<const ASCDisplayOptions> component)
{
	std::unique_ptr<DataComponentBase> copy = component->clone();
	if (!copy)
		throw std::runtime_error("DataComponent could not be cloned.");
	DataComponentBase* held = list.add(std::move(copy));
	// the change signal ran Python slots, which may have removed the new component again
	if (!holds(list, held))
	{
		PyErr_SetString(
		    PyExc_ReferenceError,
		    "The added ASCDisplayOptions no longer exists: it was removed while the list's change signal ran.");
		throw py::error_already_set();
	}
	return {held};
}

}

void registerDataComponentListAdditions(const char* accessorName)
{
	// a DataComponentList that is not a class fails the registration with a TypeError
	py::object found = py::module_::import("orbitane").attr("DataComponentList");
	py::type cls(found);
	py::cpp_function getter(
	    [](const DataComponentList& list) { return ListedComponent<ASCDisplayOptions>{list.get<ASCDisplayOptions>()}; },
	    py::is_method(cls), py::return_value_policy::reference);
	cls.attr(accessorName) = py::module_::import("builtins").attr("property")(getter);

	py::cpp_function add(&addCopy, py::name("add"), py::is_method(cls),
	                     py::sibling(py::getattr(cls, "add", py::none())), py::return_value_policy::reference,
	                     "Adds a copy of the component to the component list and returns a reference to the copy.");
	cls.attr("add") = add;
}

}
