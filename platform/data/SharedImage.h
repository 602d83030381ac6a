#pragma once

#include "data/Data.h"

#include <Eigen/Core>

#include <cstdint>
#include <vector>

namespace Orbitane {

enum class PixelType : int
{
	UInt8,
	Int8,
	UInt16,
	Int16,
	UInt32,
	Int32,
	Float,
	Double
};

std::size_t pixelSize(PixelType t);
bool isIntegerPixelType(PixelType t);

/// One image: a typed voxel buffer (x fastest, then y, then z; one channel), its size in voxels,
/// spacing (x, y, z) and modality. Voxel (i, j, k) lies at world matrixToWorld · (spacing ⊙ (i, j, k), 1),
/// where the matrix is that of the image set holding the image.
class SharedImage
{
public:
	SharedImage(PixelType type, Eigen::Vector3i dims, Eigen::Vector3d spacing = Eigen::Vector3d::Ones(),
	            Modality modality = Modality::NA);

	PixelType pixelType() const { return m_type; }
	const Eigen::Vector3i& dimensions() const { return m_dims; }
	std::int64_t numVoxels() const { return std::int64_t(m_dims.x()) * m_dims.y() * m_dims.z(); }
	bool is2D() const { return m_dims.z() == 1; }
	const Eigen::Vector3d& spacing() const { return m_spacing; }
	void setSpacing(const Eigen::Vector3d& s) { m_spacing = s; }
	Modality modality() const { return m_modality; }
	void setModality(Modality m) { m_modality = m; }

	void* data() { return m_buffer.data(); }
	const void* data() const { return m_buffer.data(); }
	std::size_t byteSize() const { return m_buffer.size(); }
	template <typename T>
	T* typedData()
	{
		return reinterpret_cast<T*>(m_buffer.data());
	}
	template <typename T>
	const T* typedData() const
	{
		return reinterpret_cast<const T*>(m_buffer.data());
	}

	/// Voxel value at a linear index, converted to double.
	double valueAt(std::int64_t index) const;

private:
	PixelType m_type;
	Eigen::Vector3i m_dims;
	Eigen::Vector3d m_spacing;
	Modality m_modality;
	std::vector<std::uint8_t> m_buffer;    // zero-initialised, aligned for every pixel type by malloc
};

}
