#pragma once

// The binary mask of one label (or of several joined), cropped to the bounding box grown by one
// voxel on every side. The margin is padded with zeros where it reaches beyond the volume instead of
// being clamped, so that every mask has a background rim (a closed surface can be traced on it, and
// the offset arithmetic never depends on where the label sits).

#include "anatomy/labelmap/LabelVolume.h"

#include <Eigen/Core>

#include <cstddef>
#include <cstdint>

namespace Orbitane::LabelMap {
// Where a mask lies in the volume: its first voxel's volume index and its size.
struct MaskRegion
{
	Eigen::Vector3i offset = Eigen::Vector3i::Zero();
	Eigen::Vector3i dims = Eigen::Vector3i::Zero();

	std::size_t voxelCount() const
	{
		return static_cast<std::size_t>(dims.x()) * static_cast<std::size_t>(dims.y()) *
		       static_cast<std::size_t>(dims.z());
	}
};

// The box grown by one voxel on every side; a planar mask (of a 2-D image) grows in x and y only.
MaskRegion maskRegion(const Eigen::Vector3i& boxMin, const Eigen::Vector3i& boxMax, bool planar = false);

// Sets to 1 the voxels of `out`, laid out as `region` (x fastest), where the volume holds `label`
// inside the box, and leaves the others as they are, so that marking several labels into one
// zeroed buffer gives the mask of their union. Throws std::invalid_argument for a box that is
// empty, leaves the volume or does not fit in the region.
void markLabel(const LabelVolumeRef& volume, std::int64_t label, const Eigen::Vector3i& boxMin,
               const Eigen::Vector3i& boxMax, const MaskRegion& region, std::uint8_t* out);
}
