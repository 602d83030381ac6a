#include "Bindings.h"
#include "Conversions.h"
#include "PythonSlots.h"
#include "SignalBinding.h"

#include "data/Data.h"
#include "data/DataComponentList.h"

#include <Eigen/LU>

namespace Orbitane::Python {

namespace {

void bindModality(py::module_& m)
{
	py::enum_<Modality> modality(m, "Modality", "Imaging modality of a data object; LABEL marks label maps.");
	publicIn(modality)
	    .value("NA", Modality::NA)
	    .value("XRAY", Modality::XRAY)
	    .value("CT", Modality::CT)
	    .value("MRI", Modality::MRI)
	    .value("ULTRASOUND", Modality::ULTRASOUND)
	    .value("NM", Modality::NM)
	    .value("PET", Modality::PET)
	    .value("OCT", Modality::OCT)
	    .value("LABEL", Modality::LABEL);
}

void setMatrixFromWorld(Data& d, py::handle value)
{
	const Eigen::Matrix4d m = toMatrix4(value, "matrix_from_world");
	Eigen::FullPivLU<Eigen::Matrix4d> lu(m);
	if (!lu.isInvertible())
		throw py::value_error("matrix_from_world must be invertible");
	d.setMatrixToWorld(lu.inverse());
}

py::object boundsToPython(const Data& d)
{
	const Eigen::AlignedBox3d box = d.bounds();
	if (box.isEmpty())
		return py::none();
	py::array_t<double> out({2, 3});
	for (int c = 0; c < 3; ++c)
	{
		out.mutable_at(0, c) = box.min()[c];
		out.mutable_at(1, c) = box.max()[c];
	}
	return out;
}

// Slots get the object itself; Python may already know it, otherwise it gets a borrowed view.
py::object dataToPython(const Data* d) { return py::cast(const_cast<Data*>(d), py::return_value_policy::reference); }

std::vector<const void*> signalsOf(const Data& d) { return {&d.matrixChanged, &d.components().changed}; }

}

void bindData(py::module_& m)
{
	bindModality(m);
	py::class_<Data, std::shared_ptr<Data>> cls(
	    m, "Data", "Base of data objects: a name, a modality, a local-to-world matrix and a list of components.",
	    py::custom_type_setup(&collectCyclesThroughSlots<Data, std::shared_ptr<Data>, &signalsOf>));
	publicIn(cls)
	    .def_property("name", &Data::name, &Data::setName)
	    .def_property("modality", &Data::modality, &Data::setModality)
	    .def_property(
	        "matrix_to_world", [](const Data& d) { return toNumpy(d.matrixToWorld()); },
	        [](Data& d, py::handle v) { d.setMatrixToWorld(toMatrix4(v, "matrix_to_world")); },
	        "(4, 4) float64 matrix from the object's own frame to world coordinates (a copy).")
	    .def_property(
	        "matrix_from_world", [](const Data& d) { return toNumpy(d.matrixFromWorld()); }, &setMatrixFromWorld,
	        "Inverse of matrix_to_world (a copy); assigning it sets matrix_to_world to its inverse.")
	    .def_property_readonly(
	        "components", [](Data& d) -> DataComponentList& { return d.components(); },
	        py::return_value_policy::reference_internal, "The object's data components.")
	    .def_property_readonly(
	        "matrix_changed",
	        py::cpp_function([](Data& d) { return SignalHandle::of(d.matrixChanged, &dataToPython); },
	                         py::keep_alive<0, 1>()),
	        "Emitted with the object whenever its matrix is set.")
	    .def_property_readonly("bounds", &boundsToPython,
	                           "World-space bounds as a (2, 3) array [min, max], or None for an object without extent.")
	    .def("describe", &Data::describe, "A one-line description of the object.")
	    .def("__repr__", [](const Data& d) { return "<" + d.describe() + ">"; });
}

}
