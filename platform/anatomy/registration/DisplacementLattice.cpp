#include "anatomy/registration/DisplacementLattice.h"

#include <algorithm>
#include <cmath>

namespace Orbitane::Registration {

namespace {

// Bounds the dense slot table (4 bytes a slot) for points spread far apart.
constexpr double kMaxSlots = 1 << 24;

Eigen::Vector3i nodesToCover(const Eigen::Vector3d& extent, double spacing)
{
	// half a cell of margin below and the cell above the last point
	return ((extent.array() / spacing + 0.5).floor() + 2.0).cast<int>().matrix();
}

}    // namespace

DisplacementLattice::DisplacementLattice(const Eigen::MatrixX3d& points, double spacing)
{
	const Eigen::Vector3d low = points.colwise().minCoeff().transpose();
	const Eigen::Vector3d extent = points.colwise().maxCoeff().transpose() - low;
	m_spacing = spacing > 0.0 ? spacing : 1.0;
	for (double slots; (slots = nodesToCover(extent, m_spacing).cast<double>().prod()) > kMaxSlots;)
		m_spacing *= 1.01 * std::cbrt(slots / kMaxSlots);
	m_dims = nodesToCover(extent, m_spacing);
	m_origin = low - Eigen::Vector3d::Constant(0.5 * m_spacing);

	m_index.assign(static_cast<std::size_t>(m_dims.prod()), -1);
	for (Eigen::Index i = 0; i < points.rows(); ++i)
	{
		const Eigen::Vector3i cell = cellOf(points.row(i).transpose());
		for (int corner = 0; corner < 8; ++corner)
			m_index[slot(cell + Eigen::Vector3i(corner & 1, (corner >> 1) & 1, corner >> 2))] = 0;
	}
	int next = 0;
	for (int& index : m_index)
		if (index == 0)
			index = next++;
	m_nodeCount = next;
}

Eigen::Vector3i DisplacementLattice::cellOf(const Eigen::Vector3d& point) const
{
	const Eigen::Array3d at = ((point - m_origin) / m_spacing).array().floor();
	return at.max(0.0).min((m_dims.array() - 2).cast<double>()).cast<int>().matrix();
}

std::size_t DisplacementLattice::slot(const Eigen::Vector3i& node) const
{
	return (static_cast<std::size_t>(node.z()) * static_cast<std::size_t>(m_dims.y()) +
	        static_cast<std::size_t>(node.y())) *
	           static_cast<std::size_t>(m_dims.x()) +
	       static_cast<std::size_t>(node.x());
}

DisplacementLattice::Stencil DisplacementLattice::stencil(const Eigen::Vector3d& point) const
{
	const Eigen::Vector3i cell = cellOf(point);
	const Eigen::Array3d t = ((point - m_origin) / m_spacing - cell.cast<double>()).array().max(0.0).min(1.0);
	Stencil s;
	for (int corner = 0; corner < 8; ++corner)
	{
		const Eigen::Vector3i d(corner & 1, (corner >> 1) & 1, corner >> 2);
		const int node = m_index[slot(cell + d)];
		s.nodes[corner] = std::max(node, 0);
		s.weights[corner] = node < 0 ? 0.0
		                             : (d.x() ? t.x() : 1.0 - t.x()) * (d.y() ? t.y() : 1.0 - t.y()) *
		                                   (d.z() ? t.z() : 1.0 - t.z());
	}
	return s;
}

Eigen::SparseMatrix<double> DisplacementLattice::edgeLaplacian() const
{
	std::vector<Eigen::Triplet<double>> entries;
	entries.reserve(static_cast<std::size_t>(m_nodeCount) * 12);
	for (int z = 0; z < m_dims.z(); ++z)
		for (int y = 0; y < m_dims.y(); ++y)
			for (int x = 0; x < m_dims.x(); ++x)
			{
				const Eigen::Vector3i here(x, y, z);
				const int a = m_index[slot(here)];
				if (a < 0)
					continue;
				for (int axis = 0; axis < 3; ++axis)
				{
					Eigen::Vector3i next = here;
					if (++next(axis) >= m_dims(axis))
						continue;
					const int b = m_index[slot(next)];
					if (b < 0)
						continue;
					entries.emplace_back(a, a, 1.0);
					entries.emplace_back(b, b, 1.0);
					entries.emplace_back(a, b, -1.0);
					entries.emplace_back(b, a, -1.0);
				}
			}
	Eigen::SparseMatrix<double> laplacian(m_nodeCount, m_nodeCount);
	laplacian.setFromTriplets(entries.begin(), entries.end());
	return laplacian;
}

std::vector<int> DisplacementLattice::spreadSample(const Eigen::MatrixX3d& points) const
{
	const Eigen::Vector3i dims = 2 * m_dims;
	std::vector<bool> taken(static_cast<std::size_t>(dims.prod()), false);
	std::vector<int> sample;
	for (Eigen::Index i = 0; i < points.rows(); ++i)
	{
		const Eigen::Array3i at = ((points.row(i).transpose() - m_origin) / (0.5 * m_spacing))
		                              .array()
		                              .floor()
		                              .max(0.0)
		                              .min((dims.array() - 1).cast<double>())
		                              .cast<int>();
		const auto k = (static_cast<std::size_t>(at.z()) * static_cast<std::size_t>(dims.y()) +
		                static_cast<std::size_t>(at.y())) *
		                   static_cast<std::size_t>(dims.x()) +
		               static_cast<std::size_t>(at.x());
		if (!taken[k])
		{
			taken[k] = true;
			sample.push_back(static_cast<int>(i));
		}
	}
	return sample;
}

}    // namespace Orbitane::Registration
