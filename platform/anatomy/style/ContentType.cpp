#include "anatomy/style/ContentType.h"

#include <array>
#include <utility>

namespace Orbitane::AnatomyPlugin {

namespace {

constexpr std::array<std::pair<ContentType, std::string_view>, 6> names{{
    {ContentType::Keypoints, "keypoints"},
    {ContentType::Planes, "planes"},
    {ContentType::Images, "images"},
    {ContentType::Meshes, "meshes"},
    {ContentType::PointClouds, "pointclouds"},
    {ContentType::Graphs, "graphs"},
}};

}

std::string_view contentTypeName(ContentType type)
{
	for (const auto& [t, name] : names)
		if (t == type)
			return name;
	return {};
}

std::optional<ContentType> contentTypeFromName(std::string_view name)
{
	for (const auto& [t, n] : names)
		if (n == name)
			return t;
	return std::nullopt;
}

}
