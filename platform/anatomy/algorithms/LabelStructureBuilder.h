#pragma once

#include "anatomy/labelmap/LabelMask.h"
#include "anatomy/labelmap/LabelStatistics.h"
#include "anatomy/labelmap/MaskSurface.h"
#include "anatomy/structures/GenericAnatomicalStructure.h"
#include "data/SharedImage.h"

#include <Eigen/Core>

#include <memory>
#include <string>
#include <vector>

namespace Orbitane {

/// Where the voxels of a label image lie: world = matrix · (spacing ⊙ index, 1).
struct VoxelFrame
{
	Eigen::Matrix4d matrix = Eigen::Matrix4d::Identity();
	Eigen::Vector3d spacing = Eigen::Vector3d::Ones();
	bool is2D = false;

	Eigen::Vector3d toWorld(const Eigen::Vector3d& index) const;
	/// Whether index space is mirrored in the world, which turns outward faces inward.
	bool mirrors() const;
	double voxelVolume() const { return spacing.prod(); }
};

/// Everything gathered for one structure: its labels' statistics merged, its mask and its surface.
struct LabelGroup
{
	std::string name;
	LabelMap::LabelStatistics statistics;    // label field unused after merging
	LabelMap::MaskRegion region;             // where the mask lies in the label image
	std::shared_ptr<SharedImage> mask;       // label modality, the image's spacing
	LabelMap::SurfaceMesh surface;           // index coordinates of the mask
};

/// Merges statistics of labels that share a name: counts add up, centroids weigh by count, boxes join.
LabelMap::LabelStatistics mergeStatistics(const std::vector<LabelMap::LabelStatistics>& parts);

/// Builds the structure of a group in world coordinates; the group's surface moves into its mesh.
/// Touches no shared state, so that the structures of several groups can be built at once.
std::unique_ptr<GenericAnatomicalStructure> buildLabelStructure(LabelGroup&& group, const VoxelFrame& frame);

}
