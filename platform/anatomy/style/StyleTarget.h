#pragma once

#include "anatomy/style/ContentType.h"
#include "core/Properties.h"

#include <string>

namespace Orbitane::AnatomyPlugin {

/// One styled object as selectors see it: an element of one store of one structure.
struct StyleTarget
{
	ContentType type = ContentType::Keypoints;
	/// Identifier of the structure that holds the element.
	std::string structure;
	/// The element's key in its store.
	std::string key;
	/// The element's attributes; null for an element without any (for instance a missing key).
	const Properties* attributes = nullptr;
};

}
