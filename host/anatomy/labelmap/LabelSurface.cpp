#include "anatomy/labelmap/LabelSurface.h"

#include "anatomy/labelmap/BoundaryCells.h"
#include "anatomy/labelmap/EdgeVertexTables.h"
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
            // Extent of the vertices' lower voxel corners in x and y.
            int x0 = std::numeric_limits<int>::max();
            int x1 = std::numeric_limits<int>::min();
            int y0 = std::numeric_limits<int>::max();
            int y1 = std::numeric_limits<int>::min();
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
                    int x, y, z;
                    unsigned pattern;
                    grid.unpack(cell, x, y, z, pattern);
                    size.x0 = std::min(size.x0, x);
                    size.x1 = std::max(size.x1, x + 1);
                    size.y0 = std::min(size.y0, y);
                    size.y1 = std::max(size.y1, y + 1);
                    const SurfaceCase& sc = cases[pattern];
                    size.triangles += sc.triangleCount;
                    size.vertices += sc.centreCount;
                    edgeUses += sc.edgeCount;
                });
            size.vertices += edgeUses / 4;
            return size;
        }

        struct WorkerTables
        {
            EdgeVertexPlanes planes;
            EdgeVertexHash hash;
        };

        template <typename Table>
        void fillMesh(const CellGrid& grid, const CellLists& lists, Table& table, SurfaceMesh& mesh)
        {
            const auto& cases = surfaceCases();
            const auto& edges = cubeEdges();
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
        }

        SurfaceMesh assembleMesh(const BoundaryCells& cells, const CellLists& lists, WorkerTables& tables)
        {
            const MeshSize size = measure(cells.grid, lists);
            SurfaceMesh mesh;
            if (size.triangles == 0)
                return mesh;
            if (size.vertices > std::numeric_limits<std::int32_t>::max())
                throw std::runtime_error("label surface has too many vertices for 32-bit face indices");
            mesh.vertices.reserve(size.vertices);
            mesh.faces.reserve(size.triangles);

            // Dense planes unless the label's extent dwarfs its surface (scattered voxels, a large
            // thin shell in a 2-D image): then the hash keeps memory proportional to the surface.
            constexpr std::size_t slotsPerVertex = 16;
            constexpr std::size_t alwaysDense = std::size_t{1} << 20;
            const std::size_t planeSlots = EdgeVertexPlanes::slotsFor(size.x0, size.x1, size.y0, size.y1);
            if (planeSlots <= std::max(alwaysDense, slotsPerVertex * size.vertices))
            {
                tables.planes.startLabel(size.x0, size.x1, size.y0, size.y1);
                fillMesh(cells.grid, lists, tables.planes, mesh);
            }
            else
            {
                tables.hash.startLabel(cells.nx, cells.ny, size.vertices);
                fillMesh(cells.grid, lists, tables.hash, mesh);
            }
            return mesh;
        }

        std::map<std::int64_t, SurfaceMesh> assembleAll(const BoundaryCells& cells, int threads)
        {
            std::vector<SurfaceMesh> meshes(cells.labels.size());
            std::vector<WorkerTables> tables(static_cast<std::size_t>(workerCount(meshes.size(), threads)));
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
