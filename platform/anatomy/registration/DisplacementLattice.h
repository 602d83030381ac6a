#pragma once

#include <Eigen/Core>
#include <Eigen/SparseCore>

#include <array>
#include <vector>

namespace Orbitane::Registration {

/// A regular lattice of displacement nodes around a point set, interpolated trilinearly. Only the
/// corners of cells that hold a point are nodes, so a surface costs nodes in proportion to its
/// area rather than to its bounding box.
class DisplacementLattice
{
public:
	/// The nodes' weights at one point: eight nodes of its cell.
	struct Stencil
	{
		std::array<int, 8> nodes{};
		std::array<double, 8> weights{};
	};

	/// Lattice of the given spacing over `points` (one point per row). The spacing grows where
	/// the points' extent would otherwise need more than a fixed number of cells.
	DisplacementLattice(const Eigen::MatrixX3d& points, double spacing);

	double spacing() const { return m_spacing; }
	Eigen::Index nodeCount() const { return m_nodeCount; }
	/// The stencil of a point inside the cells of the points the lattice was made for.
	Stencil stencil(const Eigen::Vector3d& point) const;
	/// The graph Laplacian of the lattice edges between nodes.
	Eigen::SparseMatrix<double> edgeLaplacian() const;
	/// One point per cell of half the spacing: the first of `points` that falls in it, by index.
	std::vector<int> spreadSample(const Eigen::MatrixX3d& points) const;

private:
	Eigen::Vector3i cellOf(const Eigen::Vector3d& point) const;
	std::size_t slot(const Eigen::Vector3i& node) const;

	Eigen::Vector3d m_origin;
	double m_spacing;
	Eigen::Vector3i m_dims;     // nodes along each axis
	std::vector<int> m_index;    // node number by lattice slot, or -1
	Eigen::Index m_nodeCount = 0;
};

}    // namespace Orbitane::Registration
