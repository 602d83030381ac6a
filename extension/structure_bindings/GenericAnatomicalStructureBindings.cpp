#include "entry/Registration.h"

#include "anatomy/structures/GenericAnatomicalStructureWrapper.h"
#include "support/Utf8Name.h"

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
	    .def(py::init(
	        [](const std::string& identifier) { return std::make_shared<Handle>(utf8Name(identifier, "identifier")); }))
	    .def_property(
	        "identifier", [](Handle& handle) { return handle->identifier(); },
	        [](Handle& handle, const std::string& identifier) {
		        handle->setIdentifier(utf8Name(identifier, "identifier"));
	        });
}

}
