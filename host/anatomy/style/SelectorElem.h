#pragma once

#include <optional>
#include <string>

namespace Orbitane::AnatomyPlugin {

/// One query over the objects of a collection.
class SelectorElem
{
public:
	static std::optional<SelectorElem> parse(const std::string& text);
	std::string str() const;
};

}
