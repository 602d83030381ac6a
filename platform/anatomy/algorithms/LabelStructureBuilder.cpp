#include "anatomy/algorithms/LabelStructureBuilder.h"

#include "data/Mesh.h"
#include "data/SharedImageSet.h"

#include <Eigen/Geometry>

#include <array>
#include <climits>
#include <utility>

namespace Orbitane {

namespace {

const std::string kSegmentation = "Orbitane.Segmentation";
const std::string kPosition = "Orbitane.Position";
const std::string kBoundingBox = "Orbitane.BoundingBox.";

struct Corner
{
	const char* name;
	int x, y, z;    // 0: low end of the axis, 1: high end
};

// Left/Right along x, Upper/Lower along y, Front/Back along z (see GenericASCFromMultiLabelMap.h).
constexpr std::array<Corner, 8> kCorners3D{{{"UpperLeftFront", 0, 0, 0},
                                            {"UpperRightFront", 1, 0, 0},
                                            {"LowerLeftFront", 0, 1, 0},
                                            {"LowerRightFront", 1, 1, 0},
                                            {"UpperLeftBack", 0, 0, 1},
                                            {"UpperRightBack", 1, 0, 1},
                                            {"LowerLeftBack", 0, 1, 1},
                                            {"LowerRightBack", 1, 1, 1}}};
constexpr std::array<Corner, 4> kCorners2D{
    {{"UpperLeft", 0, 0, 0}, {"UpperRight", 1, 0, 0}, {"LowerLeft", 0, 1, 0}, {"LowerRight", 1, 1, 0}}};

Eigen::Matrix4d translation(const Eigen::Vector3d& t)
{
	Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
	m.block<3, 1>(0, 3) = t;
	return m;
}

/// Takes the surface over in place: a large label's surface runs to tens of megabytes.
std::unique_ptr<Mesh> worldMesh(LabelMap::SurfaceMesh&& surface, const Eigen::Vector3i& offset, const VoxelFrame& frame)
{
	const Eigen::Vector3d shift = offset.cast<double>();
	for (Eigen::Vector3d& v : surface.vertices)
		v = frame.toWorld(v + shift);
	if (frame.mirrors())
		for (Eigen::Vector3i& f : surface.faces)
			std::swap(f[1], f[2]);
	return std::make_unique<Mesh>(std::move(surface.vertices), std::move(surface.faces));
}

std::unique_ptr<SharedImageSet> maskImage(std::shared_ptr<SharedImage> mask, const Eigen::Vector3i& offset,
                                          const VoxelFrame& frame)
{
	auto set = std::make_unique<SharedImageSet>();
	set->add(std::move(mask));
	set->setModality(Modality::LABEL);
	// the mask's first voxel sits at its offset in the label image
	set->setMatrixToWorld(frame.matrix * translation(frame.spacing.cwiseProduct(offset.cast<double>())));
	return set;
}

void addBoundingBox(GenericAnatomicalStructure& s, const LabelMap::LabelStatistics& stats, const VoxelFrame& frame)
{
	const Eigen::Vector3d low = stats.boxMin.cast<double>() - Eigen::Vector3d::Constant(0.5);
	const Eigen::Vector3d high = stats.boxMax.cast<double>() + Eigen::Vector3d::Constant(0.5);
	auto add = [&](const Corner& c, double z) {
		Eigen::Vector3d index(c.x ? high.x() : low.x(), c.y ? high.y() : low.y(), z);
		s.keypoints.set(kBoundingBox + c.name, frame.toWorld(index));
	};
	if (frame.is2D)
		for (const Corner& c : kCorners2D)
			add(c, 0.0);
	else
		for (const Corner& c : kCorners3D)
			add(c, c.z ? high.z() : low.z());
}

}

Eigen::Vector3d VoxelFrame::toWorld(const Eigen::Vector3d& index) const
{
	return (matrix * spacing.cwiseProduct(index).homogeneous()).head<3>();
}

bool VoxelFrame::mirrors() const { return (matrix.topLeftCorner<3, 3>() * spacing.asDiagonal()).determinant() < 0; }

LabelMap::LabelStatistics mergeStatistics(const std::vector<LabelMap::LabelStatistics>& parts)
{
	LabelMap::LabelStatistics merged = parts.front();
	merged.centroid *= static_cast<double>(merged.voxelCount);
	for (std::size_t i = 1; i < parts.size(); ++i)
	{
		const auto& p = parts[i];
		merged.voxelCount += p.voxelCount;
		merged.centroid += p.centroid * static_cast<double>(p.voxelCount);
		merged.boxMin = merged.boxMin.cwiseMin(p.boxMin);
		merged.boxMax = merged.boxMax.cwiseMax(p.boxMax);
	}
	merged.centroid /= static_cast<double>(merged.voxelCount);
	return merged;
}

std::unique_ptr<GenericAnatomicalStructure> buildLabelStructure(LabelGroup&& group, const VoxelFrame& frame)
{
	auto s = std::make_unique<GenericAnatomicalStructure>(group.name);
	s->is2D = frame.is2D;
	const Eigen::Vector3d centroid = frame.toWorld(group.statistics.centroid);
	s->setMatrixToWorld(translation(centroid), false);

	s->meshes.set(kSegmentation, worldMesh(std::move(group.surface), group.region.offset, frame));
	if (auto* entry = s->images.set(kSegmentation, maskImage(std::move(group.mask), group.region.offset, frame)))
	{
		const std::int64_t count = group.statistics.voxelCount;
		if (count <= INT_MAX)
			entry->attributes().setParam("voxelCount", static_cast<int>(count));
		else
			entry->attributes().setParam("voxelCount", static_cast<double>(count));
		entry->attributes().setParam("volume", static_cast<double>(count) * frame.voxelVolume());
	}
	s->keypoints.set(kPosition, centroid);
	addBoundingBox(*s, group.statistics, frame);
	return s;
}

}
