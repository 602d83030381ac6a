#pragma once

// The closed surface of the set voxels of one binary mask (see LabelSurface.h for the method).
//
// One pass over the mask's cells finds those whose eight corners are not all alike, keeps them with
// their corner pattern and adds up the exact size of the mesh; a second pass over just those cells
// writes vertices and triangles into buffers of that size. Everything the two passes need besides
// the mesh itself lives in a SurfaceScratch that one thread reuses for mask after mask, so that a
// run over many labels touches little fresh memory.

#include "anatomy/labelmap/EdgeVertexTables.h"
#include "anatomy/labelmap/LabelVolume.h"

#include <Eigen/Core>

#include <cstdint>
#include <vector>

namespace Orbitane::LabelMap {
struct SurfaceMesh
{
	// Voxel index coordinates (x, y, z), voxel centres at integer coordinates.
	std::vector<Eigen::Vector3d> vertices;
	// Counter-clockwise seen from outside the label (outward normals by the right-hand rule).
	std::vector<Eigen::Vector3i> faces;
};

// Moves every vertex by `offset`, e.g. from a mask's index coordinates to those of its volume.
void translate(SurfaceMesh& mesh, const Eigen::Vector3i& offset);

// Columns first .. last of a voxel row hold every set voxel of it (first > last: none).
struct RowExtent
{
	int first;
	int last;
};

// Working memory of one thread; holds nothing between calls that the result depends on.
struct SurfaceScratch
{
	std::vector<std::uint64_t> cells;     // packed boundary cells of the current mask, in (z, y, x) order
	std::vector<RowExtent> rowExtents;    // of the mask's voxel rows, (z, y) order
	EdgeVertexPlanes planes;
	EdgeVertexHash hash;
};

// Surface of the voxels that are not zero, in the mask's index coordinates; voxels beyond the
// mask count as zero, so the surface is closed wherever the set voxels reach the border.
// Throws std::invalid_argument for a mask that cannot be read or is too large to mesh.
SurfaceMesh extractMaskSurface(const LabelVolumeView<std::uint8_t>& mask, SurfaceScratch& scratch);
}
