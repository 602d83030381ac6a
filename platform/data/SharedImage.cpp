#include "data/SharedImage.h"

#include "core/FreshPages.h"

#include <fmt/format.h>

#include <limits>
#include <stdexcept>

namespace Orbitane {

std::size_t pixelSize(PixelType t)
{
	switch (t)
	{
		case PixelType::UInt8:
		case PixelType::Int8: return 1;
		case PixelType::UInt16:
		case PixelType::Int16: return 2;
		case PixelType::UInt32:
		case PixelType::Int32:
		case PixelType::Float: return 4;
		case PixelType::Double: return 8;
	}
	throw std::invalid_argument(fmt::format("unknown pixel type {}", static_cast<int>(t)));
}

bool isIntegerPixelType(PixelType t) { return t != PixelType::Float && t != PixelType::Double; }

namespace {

std::size_t bufferSize(PixelType type, const Eigen::Vector3i& dims)
{
	if ((dims.array() <= 0).any())
		throw std::invalid_argument(
		    fmt::format("image dimensions must be positive, got {} x {} x {}", dims.x(), dims.y(), dims.z()));
	const std::size_t voxels = std::size_t(dims.x()) * std::size_t(dims.y()) * std::size_t(dims.z());
	const std::size_t size = pixelSize(type);
	if (voxels > std::numeric_limits<std::size_t>::max() / size)
		throw std::invalid_argument("image is too large to allocate");
	return voxels * size;
}

template <typename T>
double typedValue(const SharedImage& image, std::int64_t index)
{
	return static_cast<double>(image.typedData<T>()[index]);
}

}

SharedImage::SharedImage(PixelType type, Eigen::Vector3i dims, Eigen::Vector3d spacing, Modality modality)
    : m_type(type), m_dims(dims), m_spacing(spacing), m_modality(modality)
{
	const std::size_t size = bufferSize(type, dims);
	m_buffer.reserve(size);
	mapPagesForWriting(m_buffer.data(), size);
	m_buffer.resize(size);
}

double SharedImage::valueAt(std::int64_t index) const
{
	if (index < 0 || index >= numVoxels())
		throw std::out_of_range(fmt::format("voxel index {} out of range for {} voxels", index, numVoxels()));
	switch (m_type)
	{
		case PixelType::UInt8: return typedValue<std::uint8_t>(*this, index);
		case PixelType::Int8: return typedValue<std::int8_t>(*this, index);
		case PixelType::UInt16: return typedValue<std::uint16_t>(*this, index);
		case PixelType::Int16: return typedValue<std::int16_t>(*this, index);
		case PixelType::UInt32: return typedValue<std::uint32_t>(*this, index);
		case PixelType::Int32: return typedValue<std::int32_t>(*this, index);
		case PixelType::Float: return typedValue<float>(*this, index);
		case PixelType::Double: return typedValue<double>(*this, index);
	}
	return 0.0;
}

}
