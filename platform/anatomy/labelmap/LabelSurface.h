#pragma once

// Closed triangle surfaces of the labels of a label image.
//
// Method: marching cubes on each label's binary mask (label vs. everything else, with zeros assumed
// beyond the volume border), using a corner-pattern table that is derived from two rules instead of
// the classic hand-made table (see SurfaceCases.h): ambiguous faces keep diagonal label voxels apart,
// and each surface loop inside a cell becomes one disc whose triangulation never creates an edge that
// a neighbouring cell could also create. Together these make every mesh a closed, consistently
// oriented 2-manifold whatever the configuration: touching labels, labels at the border, one-voxel
// structures, voxels that touch only along an edge or at a corner (they become separate components,
// the label being treated as 6-connected) and 2-D images (a slab one voxel thick). Vertices lie on
// the midpoints between voxel centres (or at a loop centre), so no triangle is degenerate.
// Surface nets with per-component vertex splitting were rejected: a cell whose single surface piece
// meets one ambiguous face twice still gives an edge shared by four quads.
//
// Speed: the statistics pass gives each label's bounding box; each label is then meshed from its mask
// cropped to that box (see MaskSurface.h), labels in parallel, so the cost beyond one pass over the
// volume follows the labels' boxes. The result is the same for any thread count.

#include "anatomy/labelmap/LabelVolume.h"
#include "anatomy/labelmap/MaskSurface.h"

#include <cstdint>
#include <map>
#include <vector>

namespace Orbitane::LabelMap {
// One mesh per non-zero label value present in the volume. threads = 0 uses all hardware threads.
template <LabelVoxel T>
std::map<std::int64_t, SurfaceMesh> extractLabelSurfaces(const LabelVolumeView<T>& volume, int threads = 0);

// Only the listed labels; listed values that do not occur in the volume get no entry.
template <LabelVoxel T>
std::map<std::int64_t, SurfaceMesh> extractLabelSurfaces(const LabelVolumeView<T>& volume,
                                                         const std::vector<std::int64_t>& labels, int threads = 0);

std::map<std::int64_t, SurfaceMesh> extractLabelSurfaces(const LabelVolumeRef& volume, int threads = 0);
std::map<std::int64_t, SurfaceMesh> extractLabelSurfaces(const LabelVolumeRef& volume,
                                                         const std::vector<std::int64_t>& labels, int threads = 0);
}
