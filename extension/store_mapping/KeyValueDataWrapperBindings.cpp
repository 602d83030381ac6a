#include "support/BindingInternals.h"
#include "entry/Registration.h"

#include "store_mapping/KeyValueDataWrapper.h"

#include <pybind11/eigen.h>
#include <pybind11/stl.h>

#include <string>

namespace Orbitane::Bindings {

namespace {

using binding_detail::ClassRecord;
using binding_detail::KeyValueDataWrapper;
using binding_detail::Self;

constexpr const char* wrapperDoc =
    "KeyValueDataWrapper encapsulates a key-value store `KeyValueStore` holding data of type `T` with specific type handling. \n"
    "It provides a Python-friendly interface to access and manipulate data stored in a KeyValueStore \n"
    "using string-based keys. The KeyValueDataWrapper ensures that the data is still valid when accessed and\n"
    "raises an `AnatomicalStructureInvalidException` if the data is no longer valid.\n"
    "Data are copied or cloned to ensure that the data is still valid when the python object is used, \n"
    "except for shared_ptr value types indicated by the `mutable_return_values` attribute.\n"
    "\n"
    "Parameters:\n"
    "\tdata_store (KeyValueStore): A reference to the KeyValueStore that holds the actual data.\n"
    "\tanatomical_structure (AnatomicalStructureWrapper): A reference to an anatomical structure, providing context.\n"
    "\tidentifier (str): A unique identifier for this data wrapper instance, used for logging or tracking.";
constexpr const char* attributesDoc = "Attributes of KeyValueDataWrapper's elements.";

template <typename T>
void bindAttributes(py::class_<KeyValueDataWrapper<T>>& wrapper)
{
	using Attributes = typename KeyValueDataWrapper<T>::Attributes;
	py::class_<Attributes>(wrapper, "_Attributes", attributesDoc).def("__getitem__", &Attributes::get);
}

template <typename T>
void bindWrapper(py::module_& m, const std::string& suffix)
{
	using W = KeyValueDataWrapper<T>;
	using PyElement = typename W::PyElement;
	py::class_<W> cls(m, ("KeyValueDataWrapper" + suffix).c_str(), wrapperDoc);
	ClassRecord<W>::remember(cls);
	bindAttributes<T>(cls);
	cls.def_property_readonly("valid", &W::valid, "Indicate whether the anatomical structure object is still valid.")
	    .def_property_readonly(
	        "mutable_return_values", [](const W&) { return false; },
	        "Indicate whether the KeyValueDataWrapper returns mutable values.")
	    // The element members read self through the class record: with one element per call, the
	    // binding library's lookup of the class would be a large share of the call.
	    .def("__getitem__", [](Self<W> w, const std::string& key) { return w->get(key); })
	    .def("__setitem__", [](Self<W> w, const std::string& key, PyElement value) { w->set(key, std::move(value)); })
	    .def("__delitem__", [](Self<W> w, const std::string& key) { w->remove(key); })
	    .def("__contains__", [](Self<W> w, const std::string& key) { return w->contains(key); })
	    .def("__bool__", [](Self<W> w) { return w->size() > 0; })
	    .def("__len__", [](Self<W> w) { return w->size(); })
	    .def(
	        "__iter__",
	        [](const W& w) {
		        const binding_detail::KeySnapshot keys = w.snapshot();
		        return py::make_iterator(keys.begin(), keys.end());
	        },
	        py::keep_alive<0, 1>())
	    .def("__repr__", &W::repr)
	    .def("keys", &W::keys, "Get a list of all keys.")
	    .def("values", &W::values, "Get a list of all values.")
	    .def("asdict", &W::asdict, "Convert the key-value store into a dictionary.")
	    .def("from_dict", &W::fromDict, py::arg("dict_in"), py::arg("clear") = true,
	         "Set the key-value store from a dictionary.")
	    .def(
	        "update", [](W& w, const py::dict& dictIn) { w.fromDict(dictIn, false); }, py::arg("dict_in"),
	        "Update the key-value store from a dictionary.")
	    .def(
	        "__ior__",
	        [](W& w, const py::dict& other) -> W& {
		        w.fromDict(other, false);
		        return w;
	        },
	        py::arg("other"), py::return_value_policy::reference, "\"Implements the |= operator functionality.")
	    .def_property_readonly("attributes", &W::attributes, attributesDoc);
}

}

void registerKeyValueDataWrappers(py::module_& m)
{
	bindWrapper<Eigen::Vector3d>(m, "Vec3");
	bindWrapper<Eigen::Vector4d>(m, "Vec4");
	bindWrapper<std::unique_ptr<SharedImageSet>>(m, "SharedImageSet");
	bindWrapper<std::unique_ptr<Mesh>>(m, "Mesh");
	bindWrapper<std::unique_ptr<PointCloud>>(m, "PointCloud");
	bindWrapper<std::unique_ptr<Graph>>(m, "Graph");
}

}
