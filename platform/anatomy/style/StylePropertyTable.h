#pragma once

#include <span>
#include <string_view>

namespace Orbitane::AnatomyPlugin {

/// One known style property: the keys that style declarations use.
struct StylePropertyInfo
{
	/// Camel-case name from which scripting front ends derive their own spelling.
	std::string_view sourceName;
	/// The property name as declarations and element attributes spell it.
	std::string_view name;
	/// What the property does and which kinds of objects support it.
	std::string_view description;
};

/// Every known style property, in a fixed order (general ones first, per object kind after).
std::span<const StylePropertyInfo> knownStyleProperties();

/// Name of the property that lets element attributes override style sheets.
inline constexpr std::string_view allowObjectAttributesOverride = "allow_object_attributes_override";

}
