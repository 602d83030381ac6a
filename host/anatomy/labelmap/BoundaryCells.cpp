#include "anatomy/labelmap/BoundaryCells.h"

#include "anatomy/labelmap/LabelIndexer.h"
#include "anatomy/labelmap/ParallelTasks.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>
#include <string>

namespace Orbitane::LabelMap
{
    namespace
    {
        template <LabelVoxel T>
        struct ChunkCells
        {
            LabelIndexer<T> indexer;
            std::vector<CellList> cells;  // by the indexer's label index
        };

        // The four voxel rows that a row of cells spans; rows beyond the volume read as zeros.
        template <LabelVoxel T>
        struct RowQuad
        {
            const T* rows[4];  // (y, z), (y+1, z), (y, z+1), (y+1, z+1): index dy + 2 dz

            bool allBackground(const T* zeros) const
            {
                return rows[0] == zeros && rows[1] == zeros && rows[2] == zeros && rows[3] == zeros;
            }
        };

        template <LabelVoxel T>
        class CellScanner
        {
        public:
            CellScanner(const LabelVolumeView<T>& volume, const CellGrid& grid, ChunkCells<T>& out)
                : volume_(volume), grid_(grid), out_(out),
                  zeros_(static_cast<std::size_t>(volume.nx), T{0})
            {
            }

            void scanRow(int y, int z)
            {
                const RowQuad<T> quad{{voxelRow(y, z), voxelRow(y + 1, z), voxelRow(y, z + 1), voxelRow(y + 1, z + 1)}};
                if (quad.allBackground(zeros_.data()))
                    return;
                const T* a = quad.rows[0];
                const T* b = quad.rows[1];
                const T* c = quad.rows[2];
                const T* d = quad.rows[3];
                const int nx = volume_.nx;
                if (columnHasLabel(quad, 0))
                    emitCell(quad, -1, y, z);
                // Most blocks lie wholly inside one label or the background: a vectorised test marks
                // the mixed cells of a block, and a block without any costs one word test per 8 cells.
                int x = 0;
                for (; x + block < nx; x += block)
                {
                    std::uint8_t flags[block];
                    markMixed(a + x, b + x, c + x, d + x, flags);
                    for (int w = 0; w < block; w += 8)
                    {
                        std::uint64_t word;
                        std::memcpy(&word, flags + w, sizeof word);
                        for (; word != 0; word &= word - 1)
                            emitCell(quad, x + w + std::countr_zero(word) / 8, y, z);
                    }
                }
                for (; x + 1 < nx; ++x)
                    if (cellMixed(a, b, c, d, x))
                        emitCell(quad, x, y, z);
                if (columnHasLabel(quad, nx - 1))
                    emitCell(quad, nx - 1, y, z);
            }

        private:
            static constexpr int block = 32;

            const T* voxelRow(int y, int z) const
            {
                if (y < 0 || y >= volume_.ny || z < 0 || z >= volume_.nz)
                    return zeros_.data();
                return volume_.row(y, z);
            }

            static bool columnHasLabel(const RowQuad<T>& quad, int x)
            {
                return quad.rows[0][x] != 0 || quad.rows[1][x] != 0 || quad.rows[2][x] != 0 || quad.rows[3][x] != 0;
            }

            static bool columnMixed(const T* a, const T* b, const T* c, const T* d, int x)
            {
                return (a[x] != b[x]) | (a[x] != c[x]) | (a[x] != d[x]);
            }

            // Cell x spans columns x and x + 1.
            static bool cellMixed(const T* a, const T* b, const T* c, const T* d, int x)
            {
                return columnMixed(a, b, c, d, x) | columnMixed(a, b, c, d, x + 1) | (a[x] != a[x + 1]);
            }

            // flags[k] = 1 when cell k is mixed (k < block; reads columns 0 .. block). The fixed trip
            // count and the local output let the compiler vectorise it at -O2.
            static void markMixed(const T* a, const T* b, const T* c, const T* d, std::uint8_t* flags)
            {
                for (int k = 0; k < block; ++k)
                    flags[k] = static_cast<std::uint8_t>((a[k] != b[k]) | (a[k] != c[k]) | (a[k] != d[k]) |
                                                         (a[k] != a[k + 1]) | (a[k + 1] != b[k + 1]) |
                                                         (a[k + 1] != c[k + 1]) | (a[k + 1] != d[k + 1]));
            }

            void emitCell(const RowQuad<T>& quad, int x, int y, int z)
            {
                T corner[8];
                for (int k = 0; k < 8; ++k)
                {
                    const int vx = x + (k & 1);
                    corner[k] = (vx < 0 || vx >= volume_.nx) ? T{0} : quad.rows[k >> 1][vx];
                }
                unsigned done = 0;
                for (int k = 0; k < 8; ++k)
                {
                    if (done >> k & 1)
                        continue;
                    unsigned pattern = 0;
                    for (int j = k; j < 8; ++j)
                        pattern |= static_cast<unsigned>(corner[j] == corner[k]) << j;
                    done |= pattern;
                    if (corner[k] != 0)
                        file(corner[k], grid_.pack(x, y, z, pattern));
                }
            }

            void file(T label, std::uint64_t cell)
            {
                if (label != cachedLabel_ || cachedList_ == nullptr)
                {
                    const auto index = static_cast<std::size_t>(out_.indexer.indexOf(label));
                    if (index >= out_.cells.size())
                        out_.cells.resize(index + 1);
                    cachedLabel_ = label;
                    cachedList_ = &out_.cells[index];
                }
                cachedList_->push(cell);
            }

            const LabelVolumeView<T>& volume_;
            CellGrid grid_;
            ChunkCells<T>& out_;
            std::vector<T> zeros_;
            T cachedLabel_ = 0;
            CellList* cachedList_ = nullptr;
        };

        // Bits needed for the values 0 .. n.
        int bitsFor(int n) { return std::bit_width(static_cast<unsigned>(n)); }
        bool isWanted(const std::vector<std::int64_t>* sortedWanted, std::int64_t label)
        {
            return sortedWanted == nullptr || std::binary_search(sortedWanted->begin(), sortedWanted->end(), label);
        }
    }

    CellGrid::CellGrid(int nx, int ny, int nz)
    {
        const int xBits = bitsFor(nx);
        const int yBits = bitsFor(ny);
        const int zBits = bitsFor(nz);
        if (xBits + yBits + zBits > patternShift)
            throw std::invalid_argument("label volume of " + std::to_string(nx) + " x " + std::to_string(ny) + " x " +
                                        std::to_string(nz) + " voxels is too large for surface extraction");
        yShift_ = xBits;
        zShift_ = xBits + yBits;
        xMask_ = (std::uint64_t{1} << xBits) - 1;
        yMask_ = (std::uint64_t{1} << yBits) - 1;
        zMask_ = (std::uint64_t{1} << zBits) - 1;
    }

    template <LabelVoxel T>
    BoundaryCells findBoundaryCells(const LabelVolumeView<T>& volume, int threads, const std::vector<std::int64_t>* wanted)
    {
        validateVolume(volume);
        BoundaryCells result;
        result.nx = volume.nx;
        result.ny = volume.ny;
        result.nz = volume.nz;
        result.grid = CellGrid(volume.nx, volume.ny, volume.nz);

        // Rows of cells in (z, y) order; chunks are consecutive runs of rows.
        const std::size_t rowsPerPlane = static_cast<std::size_t>(volume.ny) + 1;
        const std::size_t rows = rowsPerPlane * (static_cast<std::size_t>(volume.nz) + 1);
        const int threadCount = resolveThreadCount(threads);
        const std::size_t chunks = chunkCountFor(rows, threadCount);
        std::vector<ChunkCells<T>> chunkCells(chunks);
        runTasks(chunks, threadCount, [&](std::size_t c, int) {
            CellScanner<T> scanner(volume, result.grid, chunkCells[c]);
            const ChunkRange range = chunkRange(rows, chunks, c);
            for (std::size_t r = range.begin; r < range.end; ++r)
                scanner.scanRow(static_cast<int>(r % rowsPerPlane) - 1, static_cast<int>(r / rowsPerPlane) - 1);
        });

        std::vector<std::int64_t> sortedWanted;
        if (wanted != nullptr)
        {
            sortedWanted = *wanted;
            std::sort(sortedWanted.begin(), sortedWanted.end());
        }
        std::map<std::int64_t, std::vector<CellList>> byLabel;
        for (ChunkCells<T>& chunk : chunkCells)
            for (std::size_t i = 0; i < chunk.cells.size(); ++i)
            {
                const auto label = static_cast<std::int64_t>(chunk.indexer.labels()[i]);
                if (isWanted(wanted != nullptr ? &sortedWanted : nullptr, label))
                    byLabel[label].push_back(std::move(chunk.cells[i]));
            }
        for (auto& [label, lists] : byLabel)
        {
            result.labels.push_back(label);
            result.cellsOf.push_back(std::move(lists));
        }
        return result;
    }

    template BoundaryCells findBoundaryCells(const LabelVolumeView<std::uint8_t>&, int, const std::vector<std::int64_t>*);
    template BoundaryCells findBoundaryCells(const LabelVolumeView<std::int8_t>&, int, const std::vector<std::int64_t>*);
    template BoundaryCells findBoundaryCells(const LabelVolumeView<std::uint16_t>&, int, const std::vector<std::int64_t>*);
    template BoundaryCells findBoundaryCells(const LabelVolumeView<std::int16_t>&, int, const std::vector<std::int64_t>*);
    template BoundaryCells findBoundaryCells(const LabelVolumeView<std::uint32_t>&, int, const std::vector<std::int64_t>*);
    template BoundaryCells findBoundaryCells(const LabelVolumeView<std::int32_t>&, int, const std::vector<std::int64_t>*);
}
