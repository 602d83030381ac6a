#include "anatomy/labelmap/LabelSurface.h"

#include "anatomy/labelmap/LabelMask.h"
#include "anatomy/labelmap/LabelStatistics.h"
#include "core/ParallelTasks.h"

#include <algorithm>

namespace Orbitane::LabelMap {
namespace {
struct Worker
{
	std::vector<std::uint8_t> mask;
	SurfaceScratch scratch;
};

SurfaceMesh labelSurface(const LabelVolumeRef& volume, const LabelStatistics& label, Worker& worker)
{
	const MaskRegion region = maskRegion(label.boxMin, label.boxMax);
	worker.mask.assign(region.voxelCount(), 0);
	markLabel(volume, label.label, label.boxMin, label.boxMax, region, worker.mask.data());
	const LabelVolumeView<std::uint8_t> mask{worker.mask.data(), region.dims.x(), region.dims.y(), region.dims.z()};
	SurfaceMesh mesh = extractMaskSurface(mask, worker.scratch);
	translate(mesh, region.offset);
	return mesh;
}

std::map<std::int64_t, SurfaceMesh> surfacesOf(const LabelVolumeRef& volume, const std::vector<LabelStatistics>& labels,
                                               int threads)
{
	std::vector<SurfaceMesh> meshes(labels.size());
	std::vector<Worker> workers(static_cast<std::size_t>(workerCount(labels.size(), threads)));
	std::vector<std::size_t> boxes;
	for (const LabelStatistics& label : labels)
		boxes.push_back(maskRegion(label.boxMin, label.boxMax).voxelCount());
	const std::vector<std::size_t> order = largestFirst(boxes);
	runTasks(labels.size(), threads, [&](std::size_t task, int worker) {
		const std::size_t i = order[task];
		meshes[i] = labelSurface(volume, labels[i], workers[static_cast<std::size_t>(worker)]);
	});
	std::map<std::int64_t, SurfaceMesh> result;
	for (std::size_t i = 0; i < labels.size(); ++i)
		result.emplace(labels[i].label, std::move(meshes[i]));
	return result;
}
}

std::map<std::int64_t, SurfaceMesh> extractLabelSurfaces(const LabelVolumeRef& volume, int threads)
{
	return surfacesOf(volume, computeLabelStatistics(volume, threads), threads);
}

std::map<std::int64_t, SurfaceMesh> extractLabelSurfaces(const LabelVolumeRef& volume,
                                                         const std::vector<std::int64_t>& labels, int threads)
{
	std::vector<LabelStatistics> wanted = computeLabelStatistics(volume, threads);
	std::erase_if(wanted, [&](const LabelStatistics& s) {
		return std::find(labels.begin(), labels.end(), s.label) == labels.end();
	});
	return surfacesOf(volume, wanted, threads);
}

template <LabelVoxel T>
std::map<std::int64_t, SurfaceMesh> extractLabelSurfaces(const LabelVolumeView<T>& volume, int threads)
{
	return extractLabelSurfaces(refOf(volume), threads);
}

template <LabelVoxel T>
std::map<std::int64_t, SurfaceMesh> extractLabelSurfaces(const LabelVolumeView<T>& volume,
                                                         const std::vector<std::int64_t>& labels, int threads)
{
	return extractLabelSurfaces(refOf(volume), labels, threads);
}

#define ORBITANE_LABELMAP_INSTANTIATE(T)                                                                               \
	template std::map<std::int64_t, SurfaceMesh> extractLabelSurfaces(const LabelVolumeView<T>&, int);                 \
	template std::map<std::int64_t, SurfaceMesh> extractLabelSurfaces(const LabelVolumeView<T>&,                       \
	                                                                  const std::vector<std::int64_t>&, int);
ORBITANE_LABELMAP_INSTANTIATE(std::uint8_t)
ORBITANE_LABELMAP_INSTANTIATE(std::int8_t)
ORBITANE_LABELMAP_INSTANTIATE(std::uint16_t)
ORBITANE_LABELMAP_INSTANTIATE(std::int16_t)
ORBITANE_LABELMAP_INSTANTIATE(std::uint32_t)
ORBITANE_LABELMAP_INSTANTIATE(std::int32_t)
#undef ORBITANE_LABELMAP_INSTANTIATE
}
