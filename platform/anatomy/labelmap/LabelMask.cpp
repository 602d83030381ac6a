#include "anatomy/labelmap/LabelMask.h"

#include <limits>
#include <stdexcept>
#include <string>

namespace Orbitane::LabelMap {
namespace {
std::string describe(const Eigen::Vector3i& v)
{
	return "(" + std::to_string(v.x()) + ", " + std::to_string(v.y()) + ", " + std::to_string(v.z()) + ")";
}

template <LabelVoxel T>
void checkBox(const LabelVolumeView<T>& volume, const Eigen::Vector3i& boxMin, const Eigen::Vector3i& boxMax)
{
	const Eigen::Vector3i size(volume.nx, volume.ny, volume.nz);
	for (int a = 0; a < 3; ++a)
		if (boxMin[a] < 0 || boxMax[a] >= size[a] || boxMin[a] > boxMax[a])
			throw std::invalid_argument("label box " + describe(boxMin) + " - " + describe(boxMax) +
			                            " is empty or outside the volume of size " + describe(size));
}

void checkRegion(const MaskRegion& region, const Eigen::Vector3i& boxMin, const Eigen::Vector3i& boxMax)
{
	const Eigen::Vector3i end = region.offset + region.dims;
	for (int a = 0; a < 3; ++a)
		if (boxMin[a] < region.offset[a] || boxMax[a] >= end[a])
			throw std::invalid_argument("label box " + describe(boxMin) + " - " + describe(boxMax) +
			                            " does not fit in the mask at " + describe(region.offset) + " of size " +
			                            describe(region.dims));
}

template <LabelVoxel T>
void markTyped(const LabelVolumeView<T>& volume, std::int64_t label, const Eigen::Vector3i& boxMin,
               const Eigen::Vector3i& boxMax, const MaskRegion& region, std::uint8_t* out)
{
	validateVolume(volume);
	checkBox(volume, boxMin, boxMax);
	checkRegion(region, boxMin, boxMax);
	if (label < std::numeric_limits<T>::min() || label > std::numeric_limits<T>::max())
		return;    // no voxel of this type can hold it
	const auto value = static_cast<T>(label);
	const int width = boxMax.x() - boxMin.x() + 1;
	for (int z = boxMin.z(); z <= boxMax.z(); ++z)
		for (int y = boxMin.y(); y <= boxMax.y(); ++y)
		{
			const T* row = volume.row(y, z) + boxMin.x();
			std::uint8_t* target =
			    out + ((static_cast<std::size_t>(z - region.offset.z()) * static_cast<std::size_t>(region.dims.y()) +
			            static_cast<std::size_t>(y - region.offset.y())) *
			               static_cast<std::size_t>(region.dims.x()) +
			           static_cast<std::size_t>(boxMin.x() - region.offset.x()));
			for (int x = 0; x < width; ++x)
				target[x] |= static_cast<std::uint8_t>(row[x] == value);
		}
}
}

MaskRegion maskRegion(const Eigen::Vector3i& boxMin, const Eigen::Vector3i& boxMax, bool planar)
{
	const Eigen::Vector3i margin(1, 1, planar ? 0 : 1);
	return {boxMin - margin, boxMax - boxMin + Eigen::Vector3i::Ones() + 2 * margin};
}

void markLabel(const LabelVolumeRef& volume, std::int64_t label, const Eigen::Vector3i& boxMin,
               const Eigen::Vector3i& boxMax, const MaskRegion& region, std::uint8_t* out)
{
	visitLabelVolume(volume, [&](const auto& view) { markTyped(view, label, boxMin, boxMax, region, out); });
}
}
