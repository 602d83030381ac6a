#include "anatomy/algorithms/GenericASCFromMultiLabelMap.h"

#include "anatomy/algorithms/LabelStructureBuilder.h"
#include "core/Log.h"
#include "core/ParallelTasks.h"
#include "data/DataComponentList.h"

#include <climits>
#include <map>
#include <optional>
#include <set>

namespace Orbitane::AnatomicalStructureProcessing {

namespace {

using LabelMap::LabelStatistics;
using LabelMap::LabelVolumeRef;

const std::string kLogCategory = "AnatomyPlugin.GenericASCFromMultiLabelMap";

std::optional<LabelMap::VoxelType> voxelType(PixelType t)
{
	switch (t)
	{
		case PixelType::UInt8: return LabelMap::VoxelType::UInt8;
		case PixelType::Int8: return LabelMap::VoxelType::Int8;
		case PixelType::UInt16: return LabelMap::VoxelType::UInt16;
		case PixelType::Int16: return LabelMap::VoxelType::Int16;
		case PixelType::UInt32: return LabelMap::VoxelType::UInt32;
		case PixelType::Int32: return LabelMap::VoxelType::Int32;
		default: return std::nullopt;
	}
}

/// The name a label value gets, and whether the caller gave it; nothing when the label does not
/// become a structure.
struct LabelName
{
	std::string name;
	bool given;
};

std::optional<LabelName> labelName(std::int64_t value, const LabelDataComponent* labels, bool onlyConfigured)
{
	if (value < INT_MIN || value > INT_MAX)
		return onlyConfigured ? std::nullopt : std::optional<LabelName>({"Label " + std::to_string(value), false});
	if (labels)
		if (auto config = labels->labelConfig(static_cast<int>(value)))
			return LabelName{config->name, true};
	if (onlyConfigured)
		return std::nullopt;
	return LabelName{LabelDataComponent::defaultLabelConfig(static_cast<int>(value)).name, false};
}

/// Labels named alike merge by intent, but a default name only stands in for a missing one: when
/// the caller gave it to another label, the unnamed label moves to a name nobody gave.
std::string unclaimedName(const std::string& defaultName, const std::set<std::string>& givenNames)
{
	std::string name = defaultName + " (unnamed)";
	for (int n = 2; givenNames.count(name); ++n)
		name = defaultName + " (unnamed " + std::to_string(n) + ")";
	return name;
}

struct NamedGroup
{
	std::string name;
	std::vector<LabelStatistics> parts;
};

/// Groups the present labels by name, ordered by the smallest label value of each group.
std::vector<NamedGroup> groupByName(const std::vector<LabelStatistics>& stats, const LabelDataComponent* labels,
                                    bool onlyConfigured)
{
	std::vector<std::optional<LabelName>> names;
	std::set<std::string> givenNames;
	for (const LabelStatistics& s : stats)
	{
		names.push_back(labelName(s.label, labels, onlyConfigured));
		if (names.back() && names.back()->given)
			givenNames.insert(names.back()->name);
	}
	std::vector<NamedGroup> groups;
	std::map<std::string, std::size_t> indexOfName;
	for (std::size_t i = 0; i < stats.size(); ++i)
	{
		if (!names[i])
			continue;
		const bool captured = !names[i]->given && givenNames.count(names[i]->name);
		const std::string name = captured ? unclaimedName(names[i]->name, givenNames) : names[i]->name;
		auto [it, added] = indexOfName.try_emplace(name, groups.size());
		if (added)
			groups.push_back({name, {}});
		groups[it->second].parts.push_back(stats[i]);
	}
	return groups;
}

LabelGroup gatherGroup(const LabelVolumeRef& volume, const NamedGroup& named, const VoxelFrame& frame,
                       LabelMap::SurfaceScratch& scratch)
{
	LabelGroup group;
	group.name = named.name;
	group.statistics = mergeStatistics(named.parts);
	group.region = LabelMap::maskRegion(group.statistics.boxMin, group.statistics.boxMax, frame.is2D);
	group.mask = std::make_shared<SharedImage>(PixelType::UInt8, group.region.dims, frame.spacing, Modality::LABEL);
	auto* voxels = group.mask->typedData<std::uint8_t>();
	for (const LabelStatistics& part : named.parts)
		LabelMap::markLabel(volume, part.label, part.boxMin, part.boxMax, group.region, voxels);
	const Eigen::Vector3i& dims = group.region.dims;
	group.surface = LabelMap::extractMaskSurface({voxels, dims.x(), dims.y(), dims.z()}, scratch);
	return group;
}

/// Groups are independent of each other: one task each, reading the volume and writing its own structure.
std::vector<std::unique_ptr<GenericAnatomicalStructure>> buildStructures(const LabelVolumeRef& volume,
                                                                         const std::vector<NamedGroup>& named,
                                                                         const VoxelFrame& frame, int threads)
{
	std::vector<std::unique_ptr<GenericAnatomicalStructure>> structures(named.size());
	std::vector<LabelMap::SurfaceScratch> scratch(static_cast<std::size_t>(workerCount(named.size(), threads)));
	// a group's work grows with the boxes of its labels
	std::vector<std::size_t> boxes;
	for (const NamedGroup& group : named)
	{
		std::size_t voxels = 0;
		for (const LabelStatistics& part : group.parts)
			voxels += LabelMap::maskRegion(part.boxMin, part.boxMax, frame.is2D).voxelCount();
		boxes.push_back(voxels);
	}
	const std::vector<std::size_t> order = largestFirst(boxes);
	runTasks(named.size(), threads, [&](std::size_t task, int worker) {
		const std::size_t i = order[task];
		structures[i] =
		    buildLabelStructure(gatherGroup(volume, named[i], frame, scratch[static_cast<std::size_t>(worker)]), frame);
	});
	return structures;
}

}

GenericASCFromMultiLabelMap::GenericASCFromMultiLabelMap(const SharedImageSet* labelImages, GenericASC* target,
                                                         const LabelDataComponent* labels)
    : m_images(labelImages), m_target(target), m_labels(labels)
{
	registerParameter(threads);
	registerParameter(onlyConfiguredLabels);
	if (!m_labels && m_images)
		m_labels = m_images->components().get<LabelDataComponent>();
}

void GenericASCFromMultiLabelMap::compute()
{
	m_status = Unknown;
	m_output = OwningDataList();
	auto image = m_images ? m_images->get(-1) : nullptr;
	if (!image)
	{
		fail(IncompleteInput, kLogCategory, "The label map conversion needs an image set with at least one image");
		return;
	}
	auto type = voxelType(image->pixelType());
	if (!type)
	{
		fail(InvalidInput, kLogCategory, "The label map conversion needs an image of an integer voxel type");
		return;
	}
	const Eigen::Vector3i& dims = image->dimensions();
	const LabelVolumeRef volume{*type, image->data(), dims.x(), dims.y(), dims.z()};
	const VoxelFrame frame{m_images->matrixToWorld(), image->spacing(), image->is2D()};

	auto stats = LabelMap::computeLabelStatistics(volume, threads);
	auto structures = buildStructures(volume, groupByName(stats, m_labels, onlyConfiguredLabels), frame, threads);

	std::unique_ptr<GenericASC> created;
	GenericASC* collection = m_target;
	if (!collection)
	{
		created = std::make_unique<GenericASC>(frame.is2D);
		created->setName(m_images->name());
		collection = created.get();
	}
	for (auto& structure : structures)
	{
		const std::string name = structure->identifier();
		if (!collection->addAnatomicalStructure(std::move(structure)))
			Log::logIfAccepted(Log::Error, kLogCategory, "The collection refused the structure '" + name + "'",
			                   __FILE__, __LINE__);
	}
	if (created)
		m_output.add(std::move(created));
	m_status = Success;
}

}
