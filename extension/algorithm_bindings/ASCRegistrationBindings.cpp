#include "entry/Registration.h"

#include "anatomy/algorithms/ASCRegistration.h"

#include <memory>

namespace Orbitane::Bindings {

void registerASCRegistration(py::module_& m)
{
	using Method = ASCRegistration::RegistrationMethod;
	py::class_<ASCRegistration, Algorithm> cls(m, "ASCRegistration");
	py::enum_<Method>(cls, "RegistrationMethod")
	    .value("DeformableMeshRegistration", Method::DeformableMeshRegistration)
	    .value("RigidImages", Method::RigidImages)
	    .value("PointsAndPlanes", Method::PointsAndPlanes)
	    .value("PointsRigidScaling", Method::PointsRigidScaling);
	// the registration refers to both collections while it lives, so it keeps them alive
	cls.def(py::init([](AnatomicalStructureCollection& fixed, AnatomicalStructureCollection& moving) {
		        return std::make_unique<ASCRegistration>(&fixed, &moving, nullptr, nullptr);
	        }),
	        py::arg("fixed"), py::arg("moving"), "Registration between AnatomicalStructureCollectionObjects",
	        py::keep_alive<1, 2>(), py::keep_alive<1, 3>())
	    .def_property(
	        "registration_method", [](const ASCRegistration& r) { return r.registrationMethod.get(); },
	        [](ASCRegistration& r, Method method) { r.registrationMethod = method; }, "Registration method");
}

}
