#pragma once

// Per-label voxel statistics of a label image, gathered for all labels in one pass.

#include "anatomy/labelmap/LabelVolume.h"

#include <Eigen/Core>

#include <cstdint>
#include <vector>

namespace Orbitane::LabelMap {
struct LabelStatistics
{
	std::int64_t label = 0;
	std::int64_t voxelCount = 0;
	Eigen::Vector3d centroid = Eigen::Vector3d::Zero();    // mean voxel index (x, y, z)
	Eigen::Vector3i boxMin = Eigen::Vector3i::Zero();      // inclusive voxel index bounds
	Eigen::Vector3i boxMax = Eigen::Vector3i::Zero();
};

// One entry per non-zero label value present, sorted by label value. threads = 0 uses all
// hardware threads; the result does not depend on the thread count.
template <LabelVoxel T>
std::vector<LabelStatistics> computeLabelStatistics(const LabelVolumeView<T>& volume, int threads = 0);

std::vector<LabelStatistics> computeLabelStatistics(const LabelVolumeRef& volume, int threads = 0);
}
