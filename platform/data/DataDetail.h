#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>

#include <string>
#include <vector>

// Helpers shared by the data types' implementations; not part of the library's interface.
namespace Orbitane::DataDetail {

/// "Mesh \"liver\":" or "Mesh:" for an unnamed object.
std::string describeHeader(const char* typeName, const std::string& name);

/// Axis-aligned world box of points given in an object's own frame.
Eigen::AlignedBox3d worldBounds(const std::vector<Eigen::Vector3d>& points, const Eigen::Matrix4d& toWorld);

}
