#pragma once

#include "data/Data.h"

#include <Eigen/Core>

#include <vector>

namespace Orbitane {

/// Points with optional per-point normals, placed in the world by the cloud's matrix.
class PointCloud : public Data
{
public:
	PointCloud() = default;
	/// normals: empty or one per point, else std::invalid_argument.
	explicit PointCloud(std::vector<Eigen::Vector3d> points, std::vector<Eigen::Vector3d> normals = {});
	Kind kind() const override { return Kind::PointCloud; }

	const std::vector<Eigen::Vector3d>& points() const { return m_points; }
	const std::vector<Eigen::Vector3d>& normals() const { return m_normals; }
	void setPoints(std::vector<Eigen::Vector3d> p, std::vector<Eigen::Vector3d> normals = {});
	int numPoints() const { return static_cast<int>(m_points.size()); }

	Eigen::AlignedBox3d bounds() const override;
	std::string describe() const override;

private:
	std::vector<Eigen::Vector3d> m_points;
	std::vector<Eigen::Vector3d> m_normals;
};

}
