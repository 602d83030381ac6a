#include "data/DataDetail.h"

#include <fmt/format.h>

namespace Orbitane::DataDetail {

std::string describeHeader(const char* typeName, const std::string& name)
{
	return name.empty() ? fmt::format("{}:", typeName) : fmt::format("{} \"{}\":", typeName, name);
}

Eigen::AlignedBox3d worldBounds(const std::vector<Eigen::Vector3d>& points, const Eigen::Matrix4d& toWorld)
{
	Eigen::AlignedBox3d box;
	for (const Eigen::Vector3d& p : points)
		box.extend((toWorld * p.homogeneous()).hnormalized());
	return box;
}

}
