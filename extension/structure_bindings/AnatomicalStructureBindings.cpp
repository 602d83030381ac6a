#include "entry/Registration.h"

#include "anatomy/structures/AnatomicalStructureWrapper.h"
#include "support/BindingInternals.h"
#include "store_mapping/KeyValueDataWrapper.h"
#include "structure_bindings/DeprecatedKeypoints.h"

#include <pybind11/eigen.h>
#include <pybind11/stl.h>

#include <Eigen/LU>

#include <memory>
#include <string>
#include <utility>

namespace Orbitane::Bindings {

namespace {

using binding_detail::ClassRecord;
using binding_detail::NewObject;
using binding_detail::Self;
using Handle = AnatomicalStructureWrapper;
using StructureClass = py::class_<Handle, std::shared_ptr<Handle>>;

template <typename T>
using StoreMember = KeyValueStore<T> AnatomicalStructure::*;

/// Adds the read/write property `name` over one store: reading gives a new wrapper holding a
/// copy of the handle; assigning a dict replaces the whole store. Both go through the handle's
/// write access, which refuses a structure that is gone.
template <typename T>
void bindStore(StructureClass& cls, const char* name, StoreMember<T> member, const char* storeName, const char* doc)
{
	using Wrapper = binding_detail::KeyValueDataWrapper<T>;
	auto storeOf = [member](Handle& handle) -> KeyValueStore<T>& { return handle.operator->()->*member; };
	// The new wrapper goes to Python without a further copy, and self and the result are
	// converted through the class records: every read of the property makes a new wrapper.
	auto get = [storeOf, storeName](Self<Handle> self) {
		return NewObject<Wrapper>{std::make_unique<Wrapper>(storeOf(*self), *self, storeName)};
	};
	auto set = [storeOf, storeName](Handle& handle, const py::dict& dict) {
		Wrapper(storeOf(handle), handle, storeName).fromDict(dict, true);
	};
	cls.def_property(name, get, set, doc);
}

Eigen::Matrix4d matrixToWorld(const Handle& handle) { return handle->matrixToWorld(); }
Eigen::Matrix4d matrixFromWorld(const Handle& handle) { return handle->matrixToWorld().inverse(); }
void setMatrixToWorld(Handle& handle, const Eigen::Matrix4d& m) { handle->setMatrixToWorld(m, true); }
void setMatrixFromWorld(Handle& handle, const Eigen::Matrix4d& m) { handle->setMatrixToWorld(m.inverse(), true); }

/// A structure object is a handle: what it refers to lives in a collection, and a copy of the
/// handle alone could not say where. Without this, pickle's refusal would not say what to do.
py::object refusePickling(const Handle& handle, int)
{
	if (handle.isOwning())
		throw py::type_error("cannot pickle 'AnatomicalStructure' object: add it to a GenericASC and pickle the "
		                     "collection instead");
	throw py::type_error("cannot pickle 'AnatomicalStructure' object: it borrows from a collection; pickle the "
	                     "collection instead");
}

}

void registerAnatomicalStructure(py::module_& m)
{
	namespace Keypoints = DeprecatedKeypoints;
	StructureClass cls(m, "AnatomicalStructure");
	ClassRecord<Handle>::remember(cls);
	cls.def_property_readonly("valid", &Handle::isValid,
	                          "Indicate whether the object is still valid, if invalid, member access raises an "
	                          "AnatomicalStructureInvalidException")
	    .def_property("keypoints", &Keypoints::get, &Keypoints::assign,
	                  "Dictionary getter (of a copy of) and setter access for all keypoints. Use `get_keypoint` and "
	                  "`set_keypoint` for access to individual keypoints.")
	    .def("get_keypoint", &Keypoints::getOne)
	    .def("set_keypoint", &Keypoints::setOne, "Set or overwrite an existing keypoint")
	    .def("remove_keypoint", &Keypoints::removeOne, "Remove a keypoint, raises KeyError if it does not exist");
	bindStore(cls, "keypoints2", &AnatomicalStructure::keypoints, "keypoints",
	          "Key value access to keypoints. Assignable from dict.");
	bindStore(cls, "planes", &AnatomicalStructure::planes, "planes",
	          "Key value access to planes. Assignable from dict.");
	bindStore(cls, "images", &AnatomicalStructure::images, "images",
	          "Key value access to images. Assignable from dict.");
	bindStore(cls, "meshes", &AnatomicalStructure::meshes, "meshes",
	          "Key value access to meshes. Assignable from dict.");
	bindStore(cls, "pointclouds", &AnatomicalStructure::pointclouds, "pointclouds",
	          "Key value access to pointclouds. Assignable from dict.");
	bindStore(cls, "graphs", &AnatomicalStructure::graphs, "graphs",
	          "Key value access to graphs. Assignable from dict.");
	cls.def_property("matrix_to_world", &matrixToWorld, &setMatrixToWorld,
	                 "Access to 4x4 matrix representing transformation from local coordinate space of this structure "
	                 "to the world coordinate space.")
	    .def_property("matrix_from_world", &matrixFromWorld, &setMatrixFromWorld,
	                  "Access to 4x4 matrix representing transformation from world coordinate space to the local "
	                  "coordinate space of this structure.")
	    .def_property_readonly(
	        "identifier", [](Handle& handle) { return handle->identifier(); },
	        "Returns the identifier of the anatomical structure.")
	    .def_property_readonly(
	        "is_2d", [](Handle& handle) { return handle->is2D; },
	        "Returns true if the anatomical structure is 2D, false if it is 3D.")
	    .def("__reduce_ex__", &refusePickling, py::arg("protocol"));
}

}
