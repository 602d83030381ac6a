#pragma once

// The single pass over the voxels that feeds surface extraction: it finds the cells of the dual grid
// whose eight corner voxels are not all equal and files each one, with its corner pattern, under
// every label among its corners. Cell (x, y, z) spans voxels x..x+1, y..y+1, z..z+1; cells run from
// -1 to n-1 on each axis so that surfaces close over the border, where voxels count as background.

#include "anatomy/labelmap/CellList.h"
#include "anatomy/labelmap/LabelVolume.h"

#include <cstdint>
#include <vector>

namespace Orbitane::LabelMap
{
    // Cells are packed into 64 bits as bit fields (x + 1, y + 1, z + 1, corner pattern) rather than
    // as a linear index, so that unpacking, done once per cell and label, needs no division.
    class CellGrid
    {
    public:
        static constexpr int patternShift = 56;

        CellGrid() = default;
        // Throws std::invalid_argument when the cell coordinates do not fit beside the pattern.
        CellGrid(int nx, int ny, int nz);

        // Cell (x, y, z) with its corner pattern (bit c set when corner c carries the label).
        std::uint64_t pack(int x, int y, int z, unsigned pattern) const
        {
            return static_cast<std::uint64_t>(x + 1) | (static_cast<std::uint64_t>(y + 1) << yShift_) |
                   (static_cast<std::uint64_t>(z + 1) << zShift_) | (static_cast<std::uint64_t>(pattern) << patternShift);
        }
        void unpack(std::uint64_t cell, int& x, int& y, int& z, unsigned& pattern) const
        {
            x = static_cast<int>(cell & xMask_) - 1;
            y = static_cast<int>((cell >> yShift_) & yMask_) - 1;
            z = static_cast<int>((cell >> zShift_) & zMask_) - 1;
            pattern = static_cast<unsigned>(cell >> patternShift);
        }
        static unsigned pattern(std::uint64_t cell) { return static_cast<unsigned>(cell >> patternShift); }

    private:
        int yShift_ = 0;
        int zShift_ = 0;
        std::uint64_t xMask_ = 0;
        std::uint64_t yMask_ = 0;
        std::uint64_t zMask_ = 0;
    };

    struct BoundaryCells
    {
        int nx = 0;  // voxel dimensions of the volume
        int ny = 0;
        int nz = 0;
        CellGrid grid;
        std::vector<std::int64_t> labels;  // ascending
        // For labels[i]: one list per chunk of the pass that met the label; read in turn they give its
        // cells in (z, y, x) order, whatever the number of chunks.
        std::vector<std::vector<CellList>> cellsOf;
    };

    // Keeps only the labels in `wanted` when it is not null.
    template <LabelVoxel T>
    BoundaryCells findBoundaryCells(const LabelVolumeView<T>& volume, int threads,
                                    const std::vector<std::int64_t>* wanted = nullptr);
}
