#pragma once

// The binary mask of one label, cropped to the label's bounding box grown by one voxel on every
// side. The margin is padded with zeros where it reaches beyond the volume instead of being clamped,
// so that every crop has a background rim on all six sides (a closed surface can be traced on it,
// and the offset arithmetic never depends on where the label sits).

#include "anatomy/labelmap/LabelStatistics.h"
#include "anatomy/labelmap/LabelVolume.h"

#include <Eigen/Core>

#include <cstdint>
#include <vector>

namespace Orbitane::LabelMap
{
    struct LabelMask
    {
        std::vector<std::uint8_t> data;                    // 1 = label, 0 = anything else; x fastest
        Eigen::Vector3i dims = Eigen::Vector3i::Zero();    // box extent + 2 on each axis
        Eigen::Vector3i offset = Eigen::Vector3i::Zero();  // volume index of data[0], i.e. boxMin - 1

        std::uint8_t at(int x, int y, int z) const
        {
            return data[(static_cast<std::size_t>(z) * static_cast<std::size_t>(dims.y()) + static_cast<std::size_t>(y)) *
                            static_cast<std::size_t>(dims.x()) +
                        static_cast<std::size_t>(x)];
        }
    };

    // boxMin/boxMax: inclusive voxel bounds inside the volume (usually the label's statistics); voxels
    // of the label outside the box are not included. Throws std::invalid_argument for a box that is
    // empty or leaves the volume.
    template <LabelVoxel T>
    LabelMask cropLabelMask(const LabelVolumeView<T>& volume, std::int64_t label, const Eigen::Vector3i& boxMin,
                            const Eigen::Vector3i& boxMax);

    template <LabelVoxel T>
    LabelMask cropLabelMask(const LabelVolumeView<T>& volume, const LabelStatistics& statistics)
    {
        return cropLabelMask(volume, statistics.label, statistics.boxMin, statistics.boxMax);
    }

    LabelMask cropLabelMask(const LabelVolumeRef& volume, std::int64_t label, const Eigen::Vector3i& boxMin,
                            const Eigen::Vector3i& boxMax);
}
