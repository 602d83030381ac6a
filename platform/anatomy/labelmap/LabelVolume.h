#pragma once

// Non-owning views of a label image as it lies in memory: nx * ny * nz voxels, x fastest, then y,
// then z. Value 0 is background, every other value names a structure. Voxel (x, y, z) has its centre
// at index coordinates (x, y, z); everything in this directory works in those coordinates, so the
// caller applies spacing and orientation afterwards.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace Orbitane::LabelMap {
// The voxel types a label image may have.
template <typename T>
concept LabelVoxel = std::same_as<T, std::uint8_t> || std::same_as<T, std::int8_t> || std::same_as<T, std::uint16_t> ||
    std::same_as<T, std::int16_t> || std::same_as<T, std::uint32_t> || std::same_as<T, std::int32_t>;

template <LabelVoxel T>
struct LabelVolumeView
{
	const T* data = nullptr;
	int nx = 0;
	int ny = 0;
	int nz = 0;

	std::size_t voxelCount() const
	{
		return static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny) * static_cast<std::size_t>(nz);
	}
	std::size_t index(int x, int y, int z) const
	{
		return (static_cast<std::size_t>(z) * static_cast<std::size_t>(ny) + static_cast<std::size_t>(y)) *
		           static_cast<std::size_t>(nx) +
		       static_cast<std::size_t>(x);
	}
	const T* row(int y, int z) const { return data + index(0, y, z); }
	T at(int x, int y, int z) const { return data[index(x, y, z)]; }
};

// Refuses views that cannot be read safely; every entry point calls it first.
template <LabelVoxel T>
void validateVolume(const LabelVolumeView<T>& volume)
{
	if (volume.nx <= 0 || volume.ny <= 0 || volume.nz <= 0)
		throw std::invalid_argument("label volume dimensions must be positive, got " + std::to_string(volume.nx) +
		                            " x " + std::to_string(volume.ny) + " x " + std::to_string(volume.nz));
	if (volume.data == nullptr)
		throw std::invalid_argument("label volume has no voxel data");
}

// Run-time voxel type, for callers that hold an image whose type is only known at run time.
enum class VoxelType
{
	UInt8,
	Int8,
	UInt16,
	Int16,
	UInt32,
	Int32
};

struct LabelVolumeRef
{
	VoxelType type = VoxelType::UInt8;
	const void* data = nullptr;
	int nx = 0;
	int ny = 0;
	int nz = 0;
};

template <LabelVoxel T>
constexpr VoxelType voxelTypeOf()
{
	if constexpr (std::same_as<T, std::uint8_t>)
		return VoxelType::UInt8;
	else if constexpr (std::same_as<T, std::int8_t>)
		return VoxelType::Int8;
	else if constexpr (std::same_as<T, std::uint16_t>)
		return VoxelType::UInt16;
	else if constexpr (std::same_as<T, std::int16_t>)
		return VoxelType::Int16;
	else if constexpr (std::same_as<T, std::uint32_t>)
		return VoxelType::UInt32;
	else
		return VoxelType::Int32;
}

template <LabelVoxel T>
LabelVolumeRef refOf(const LabelVolumeView<T>& view)
{
	return {voxelTypeOf<T>(), view.data, view.nx, view.ny, view.nz};
}

template <LabelVoxel T>
LabelVolumeView<T> typedView(const LabelVolumeRef& ref)
{
	return {static_cast<const T*>(ref.data), ref.nx, ref.ny, ref.nz};
}

// Calls f with the typed view that matches ref.type.
template <typename F>
decltype(auto) visitLabelVolume(const LabelVolumeRef& ref, F&& f)
{
	switch (ref.type)
	{
		case VoxelType::UInt8: return f(typedView<std::uint8_t>(ref));
		case VoxelType::Int8: return f(typedView<std::int8_t>(ref));
		case VoxelType::UInt16: return f(typedView<std::uint16_t>(ref));
		case VoxelType::Int16: return f(typedView<std::int16_t>(ref));
		case VoxelType::UInt32: return f(typedView<std::uint32_t>(ref));
		case VoxelType::Int32: return f(typedView<std::int32_t>(ref));
	}
	throw std::invalid_argument("unknown label voxel type " + std::to_string(static_cast<int>(ref.type)));
}
}
