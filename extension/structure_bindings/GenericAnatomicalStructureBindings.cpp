#include "entry/Registration.h"

#include "anatomy/structures/GenericAnatomicalStructureWrapper.h"

#include <pybind11/stl.h>

#include <memory>
#include <string>

namespace Orbitane::Bindings {

void registerGenericAnatomicalStructure(py::module_& m)
{
	using Handle = GenericAnatomicalStructureWrapper;
	py::class_<Handle, AnatomicalStructureWrapper, std::shared_ptr<Handle>>(
	    m, "GenericAnatomicalStructure", "Generic anatomical structure implementation.")
	    .def(py::init<>())
	    .def(py::init<const std::string&>())
	    .def_property(
	        "identifier", [](Handle& handle) { return handle->identifier(); },
	        [](Handle& handle, const std::string& identifier) { handle->setIdentifier(identifier); });
}

}
