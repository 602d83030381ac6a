#pragma once

#include "core/Configurable.h"

#include <string>

namespace Orbitane::AnatomyPlugin {

/// A named, switchable group of style rules.
class StyleSheet : public Configurable
{
public:
	explicit StyleSheet(const std::string& name);
};

}
