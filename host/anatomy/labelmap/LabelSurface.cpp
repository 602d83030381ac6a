#include "anatomy/labelmap/LabelSurface.h"

#include "anatomy/labelmap/BoundaryCells.h"
#include "anatomy/labelmap/ParallelTasks.h"
#include "anatomy/labelmap/SurfaceCases.h"

#include <algorithm>
#include <bit>
#include <limits>

namespace Orbitane::LabelMap
{
    namespace
    {
        using CellLists = std::vector<CellList>;

        struct MeshSize
        {
            std::size_t triangles = 0;
            std::size_t vertices = 0;
        };

        // Exact size of a label's mesh: every crossed grid edge lies in exactly four of the label's
        // cells, so its vertex is counted a quarter in each.
        MeshSize measure(const CellGrid& grid, const CellLists& lists)
        {
            const auto& cases = surfaceCases();
            MeshSize size;
            std::size_t edgeUses = 0;
            for (const auto& list : lists)
                list.forEach([&](std::uint64_t cell) {
                    const SurfaceCase& sc = cases[grid.pattern(cell)];
                    size.triangles += sc.triangleCount;
                    size.vertices += sc.centreCount;
                    edgeUses += sc.edgeCount;
                });
            size.vertices += edgeUses / 4;
            return size;
        }

        // Vertex ids of a label's crossed grid edges: an open-addressing table sized to twice the
        // label's (exactly known) vertex count, so its memory follows the surface and not the
        // label's extent. One table per thread is reused for all labels that thread builds.
        class EdgeVertexTable
        {
        public:
            void startLabel(int nx, int ny, std::size_t vertices)
            {
                strideX_ = static_cast<std::uint64_t>(nx) + 2;
                strideY_ = static_cast<std::uint64_t>(ny) + 2;
                std::size_t capacity = 16;
                shift_ = 60;
                while (capacity < 2 * vertices)
                {
                    capacity *= 2;
                    --shift_;
                }
                keys_.assign(capacity, empty);
                values_.resize(capacity);
            }

            // The vertex of the grid edge from voxel (x, y, z) along `axis`; `next` is stored and
            // `created` set when the edge is new.
            std::uint32_t vertex(int x, int y, int z, int axis, std::uint32_t next, bool& created)
            {
                // Voxel coordinates run from -1 to n; shifted by one they index a (n + 2)^3 grid.
                const std::uint64_t key =
                    ((static_cast<std::uint64_t>(z + 1) * strideY_ + static_cast<std::uint64_t>(y + 1)) * strideX_ +
                     static_cast<std::uint64_t>(x + 1)) * 3 +
                    static_cast<std::uint64_t>(axis);
                const std::size_t mask = keys_.size() - 1;
                std::size_t pos = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
                while (keys_[pos] != key && keys_[pos] != empty)
                    pos = (pos + 1) & mask;
                created = keys_[pos] == empty;
                if (created)
                {
                    keys_[pos] = key;
                    values_[pos] = next;
                }
                return values_[pos];
            }

        private:
            static constexpr std::uint64_t empty = ~std::uint64_t{0};
            std::uint64_t strideX_ = 0;
            std::uint64_t strideY_ = 0;
            unsigned shift_ = 60;
            std::vector<std::uint64_t> keys_;
            std::vector<std::uint32_t> values_;
        };

        SurfaceMesh assembleMesh(const BoundaryCells& cells, const CellLists& lists, EdgeVertexTable& table)
        {
            const CellGrid& grid = cells.grid;
            const MeshSize size = measure(grid, lists);
            SurfaceMesh mesh;
            if (size.triangles == 0)
                return mesh;
            if (size.vertices > std::numeric_limits<std::int32_t>::max())
                throw std::runtime_error("label surface has too many vertices for 32-bit face indices");
            mesh.vertices.reserve(size.vertices);
            mesh.faces.reserve(size.triangles);

            const auto& cases = surfaceCases();
            const auto& edges = cubeEdges();
            table.startLabel(cells.nx, cells.ny, size.vertices);
            int ids[SurfaceCase::firstCentreToken + SurfaceCase::maxCentres];
            for (const auto& list : lists)
                list.forEach([&](std::uint64_t cell) {
                    int x, y, z;
                    unsigned pattern;
                    grid.unpack(cell, x, y, z, pattern);
                    const SurfaceCase& sc = cases[pattern];
                    for (unsigned mask = sc.edgeMask; mask != 0; mask &= mask - 1)
                    {
                        const int e = std::countr_zero(mask);
                        const CubeEdge& edge = edges[e];
                        const int vx = x + (edge.corner & 1);
                        const int vy = y + (edge.corner >> 1 & 1);
                        const int vz = z + (edge.corner >> 2 & 1);
                        bool created;
                        ids[e] = static_cast<int>(table.vertex(vx, vy, vz, edge.axis,
                                                               static_cast<std::uint32_t>(mesh.vertices.size()), created));
                        if (created)
                        {
                            Eigen::Vector3d p(vx, vy, vz);
                            p[edge.axis] += 0.5;
                            mesh.vertices.push_back(p);
                        }
                    }
                    for (int c = 0; c < sc.centreCount; ++c)
                    {
                        ids[SurfaceCase::firstCentreToken + c] = static_cast<int>(mesh.vertices.size());
                        const auto& offset = sc.centres[c];
                        mesh.vertices.emplace_back(x + offset[0], y + offset[1], z + offset[2]);
                    }
                    for (int t = 0; t < sc.triangleCount; ++t)
                    {
                        const auto& tri = sc.triangles[t];
                        mesh.faces.emplace_back(ids[tri[0]], ids[tri[1]], ids[tri[2]]);
                    }
                });
            return mesh;
        }

        std::map<std::int64_t, SurfaceMesh> assembleAll(const BoundaryCells& cells, int threads)
        {
            std::vector<SurfaceMesh> meshes(cells.labels.size());
            std::vector<EdgeVertexTable> tables(static_cast<std::size_t>(workerCount(meshes.size(), threads)));
            runTasks(meshes.size(), threads, [&](std::size_t i, int worker) {
                meshes[i] = assembleMesh(cells, cells.cellsOf[i], tables[static_cast<std::size_t>(worker)]);
            });
            std::map<std::int64_t, SurfaceMesh> result;
            for (std::size_t i = 0; i < meshes.size(); ++i)
                result.emplace(cells.labels[i], std::move(meshes[i]));
            return result;
        }
    }

    template <LabelVoxel T>
    std::map<std::int64_t, SurfaceMesh> extractLabelSurfaces(const LabelVolumeView<T>& volume, int threads)
    {
        return assembleAll(findBoundaryCells(volume, threads), threads);
    }

    template <LabelVoxel T>
    std::map<std::int64_t, SurfaceMesh> extractLabelSurfaces(const LabelVolumeView<T>& volume,
                                                             const std::vector<std::int64_t>& labels, int threads)
    {
        return assembleAll(findBoundaryCells(volume, threads, &labels), threads);
    }

    std::map<std::int64_t, SurfaceMesh> extractLabelSurfaces(const LabelVolumeRef& volume, int threads)
    {
        return visitLabelVolume(volume, [threads](const auto& view) { return extractLabelSurfaces(view, threads); });
    }

    std::map<std::int64_t, SurfaceMesh> extractLabelSurfaces(const LabelVolumeRef& volume,
                                                             const std::vector<std::int64_t>& labels, int threads)
    {
        return visitLabelVolume(volume,
                                [&labels, threads](const auto& view) { return extractLabelSurfaces(view, labels, threads); });
    }

#define ORBITANE_LABELMAP_INSTANTIATE(T)                                                                             \
    template std::map<std::int64_t, SurfaceMesh> extractLabelSurfaces(const LabelVolumeView<T>&, int);              \
    template std::map<std::int64_t, SurfaceMesh> extractLabelSurfaces(const LabelVolumeView<T>&,                    \
                                                                      const std::vector<std::int64_t>&, int);
    ORBITANE_LABELMAP_INSTANTIATE(std::uint8_t)
    ORBITANE_LABELMAP_INSTANTIATE(std::int8_t)
    ORBITANE_LABELMAP_INSTANTIATE(std::uint16_t)
    ORBITANE_LABELMAP_INSTANTIATE(std::int16_t)
    ORBITANE_LABELMAP_INSTANTIATE(std::uint32_t)
    ORBITANE_LABELMAP_INSTANTIATE(std::int32_t)
#undef ORBITANE_LABELMAP_INSTANTIATE
}
