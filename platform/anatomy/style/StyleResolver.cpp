#include "anatomy/style/StyleResolver.h"

#include "anatomy/structures/AnatomicalStructureCollection.h"
#include "anatomy/style/StylePropertyTable.h"
#include "data/DataComponentList.h"

namespace Orbitane::AnatomyPlugin {

namespace {

void applyMatchingRules(const StyleSheet& sheet, const StyleTarget& target, Properties& result)
{
	for (const StyleSheet::Rule& rule : sheet.rules())
		if (!rule.selector || rule.selector->matches(target))
			for (const auto& [name, value] : rule.declaration.entries())
				result.set(name, value);
}

void applyObjectAttributes(const Properties& attributes, Properties& result)
{
	for (const StylePropertyInfo& info : knownStyleProperties())
	{
		if (info.name == allowObjectAttributesOverride)
			continue;
		const std::string name(info.name);
		if (const Properties::Value* v = attributes.find(name))
			result.set(name, *v);
	}
}

template <typename Store>
const Properties* attributesIn(const Store& store, const std::string& key)
{
	auto entry = store.find(key);
	return entry ? &entry->attributes() : nullptr;
}

const Properties* elementAttributes(const AnatomicalStructure& s, ContentType store, const std::string& key)
{
	switch (store)
	{
		case ContentType::Keypoints: return attributesIn(s.keypoints, key);
		case ContentType::Planes: return attributesIn(s.planes, key);
		case ContentType::Images: return attributesIn(s.images, key);
		case ContentType::Meshes: return attributesIn(s.meshes, key);
		case ContentType::PointClouds: return attributesIn(s.pointclouds, key);
		case ContentType::Graphs: return attributesIn(s.graphs, key);
	}
	return nullptr;
}

/// Without display options there are no sheets, and so nothing switches the attributes on either.
Properties cascade(const ASCDisplayOptions* options, const StyleTarget& target)
{
	Properties result;
	if (!options)
		return result;
	for (const StyleSheet& sheet : options->styleSheets())
		if (sheet.enabled)
			applyMatchingRules(sheet, target, result);
	bool allowOverride = false;
	if (target.attributes && result.param(std::string(allowObjectAttributesOverride), allowOverride) && allowOverride)
		applyObjectAttributes(*target.attributes, result);
	return result;
}

}

Properties resolveStyle(const ASCDisplayOptions& options, const StyleTarget& target)
{
	return cascade(&options, target);
}

Properties resolveStyle(const AnatomicalStructureCollection& collection, const AnatomicalStructure& structure,
                        ContentType store, const std::string& key)
{
	const StyleTarget target{store, structure.identifier(), key, elementAttributes(structure, store, key)};
	return cascade(collection.components().get<ASCDisplayOptions>(), target);
}

}
