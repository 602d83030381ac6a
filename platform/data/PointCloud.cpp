#include "data/PointCloud.h"

#include "data/DataDetail.h"

#include <fmt/format.h>

#include <stdexcept>

namespace Orbitane {

namespace {

void checkNormals(const std::vector<Eigen::Vector3d>& normals, std::size_t numPoints)
{
	if (!normals.empty() && normals.size() != numPoints)
		throw std::invalid_argument(fmt::format("a point cloud with {} points needs {} normals or none, got {}",
		                                        numPoints, numPoints, normals.size()));
}

}

PointCloud::PointCloud(std::vector<Eigen::Vector3d> points, std::vector<Eigen::Vector3d> normals)
{
	setPoints(std::move(points), std::move(normals));
}

void PointCloud::setPoints(std::vector<Eigen::Vector3d> p, std::vector<Eigen::Vector3d> normals)
{
	checkNormals(normals, p.size());
	m_points = std::move(p);
	m_normals = std::move(normals);
}

Eigen::AlignedBox3d PointCloud::bounds() const { return DataDetail::worldBounds(m_points, matrixToWorld()); }

std::string PointCloud::describe() const
{
	return fmt::format("{} {} points{}", DataDetail::describeHeader("PointCloud", name()), numPoints(),
	                   m_normals.empty() ? "" : ", with normals");
}

}
