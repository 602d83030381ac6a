#pragma once

#include "anatomy/structures/AnatomicalStructureWrapper.h"

#include <pybind11/pybind11.h>

#include <Eigen/Core>

#include <string>

// The keypoint members that predate the key-value wrappers. All but setKeypoint warn first,
// before the structure is reached, so a vanished structure warns and then raises.
namespace Orbitane::Bindings::DeprecatedKeypoints {

namespace py = pybind11;

py::dict get(AnatomicalStructureWrapper& structure);
/// Every pair is converted before any is assigned; keys missing from the dict are removed.
void assign(AnatomicalStructureWrapper& structure, const py::dict& keypoints);
Eigen::Vector3d getOne(const AnatomicalStructureWrapper& structure, const std::string& name);
void setOne(AnatomicalStructureWrapper& structure, const std::string& name, const Eigen::Vector3d& point);
void removeOne(AnatomicalStructureWrapper& structure, const std::string& name);

}
