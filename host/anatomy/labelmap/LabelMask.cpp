#include "anatomy/labelmap/LabelMask.h"

#include <stdexcept>
#include <string>

namespace Orbitane::LabelMap
{
    namespace
    {
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
    }

    template <LabelVoxel T>
    LabelMask cropLabelMask(const LabelVolumeView<T>& volume, std::int64_t label, const Eigen::Vector3i& boxMin,
                            const Eigen::Vector3i& boxMax)
    {
        validateVolume(volume);
        checkBox(volume, boxMin, boxMax);
        LabelMask mask;
        mask.offset = boxMin - Eigen::Vector3i::Ones();
        mask.dims = boxMax - boxMin + Eigen::Vector3i::Constant(3);
        mask.data.assign(static_cast<std::size_t>(mask.dims.x()) * static_cast<std::size_t>(mask.dims.y()) *
                             static_cast<std::size_t>(mask.dims.z()),
                         0);
        // The box lies inside the volume, so only the one-voxel rim stays at zero.
        for (int z = boxMin.z(); z <= boxMax.z(); ++z)
            for (int y = boxMin.y(); y <= boxMax.y(); ++y)
            {
                const T* row = volume.row(y, z);
                std::uint8_t* out = mask.data.data() +
                                    ((static_cast<std::size_t>(z - mask.offset.z()) * static_cast<std::size_t>(mask.dims.y()) +
                                      static_cast<std::size_t>(y - mask.offset.y())) *
                                         static_cast<std::size_t>(mask.dims.x()) +
                                     static_cast<std::size_t>(boxMin.x() - mask.offset.x()));
                for (int x = boxMin.x(); x <= boxMax.x(); ++x)
                    *out++ = static_cast<std::int64_t>(row[x]) == label ? 1 : 0;
            }
        return mask;
    }

    LabelMask cropLabelMask(const LabelVolumeRef& volume, std::int64_t label, const Eigen::Vector3i& boxMin,
                            const Eigen::Vector3i& boxMax)
    {
        return visitLabelVolume(volume,
                                [&](const auto& view) { return cropLabelMask(view, label, boxMin, boxMax); });
    }

    template LabelMask cropLabelMask(const LabelVolumeView<std::uint8_t>&, std::int64_t, const Eigen::Vector3i&, const Eigen::Vector3i&);
    template LabelMask cropLabelMask(const LabelVolumeView<std::int8_t>&, std::int64_t, const Eigen::Vector3i&, const Eigen::Vector3i&);
    template LabelMask cropLabelMask(const LabelVolumeView<std::uint16_t>&, std::int64_t, const Eigen::Vector3i&, const Eigen::Vector3i&);
    template LabelMask cropLabelMask(const LabelVolumeView<std::int16_t>&, std::int64_t, const Eigen::Vector3i&, const Eigen::Vector3i&);
    template LabelMask cropLabelMask(const LabelVolumeView<std::uint32_t>&, std::int64_t, const Eigen::Vector3i&, const Eigen::Vector3i&);
    template LabelMask cropLabelMask(const LabelVolumeView<std::int32_t>&, std::int64_t, const Eigen::Vector3i&, const Eigen::Vector3i&);
}
