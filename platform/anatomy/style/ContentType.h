#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Orbitane::AnatomyPlugin {

/// The kinds of content a structure holds, one per element store. Selectors name them by the
/// store names: "keypoints", "planes", "images", "meshes", "pointclouds", "graphs".
enum class ContentType
{
	Keypoints,
	Planes,
	Images,
	Meshes,
	PointClouds,
	Graphs
};

/// The store name of a content type, as selectors write it.
std::string_view contentTypeName(ContentType type);
/// The content type with this store name (exact, lower case); empty for any other text.
std::optional<ContentType> contentTypeFromName(std::string_view name);

}
