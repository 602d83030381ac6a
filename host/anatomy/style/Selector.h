#pragma once

#include "anatomy/style/SelectorElem.h"

#include <optional>
#include <string>
#include <vector>

namespace Orbitane::AnatomyPlugin {

/// An OR of selector elements.
class Selector
{
public:
	explicit Selector(SelectorElem elem);
	explicit Selector(std::vector<SelectorElem> elems);
	static std::optional<Selector> parse(const std::string& text);
	const std::string& str() const { return m_text; }

private:
	std::vector<SelectorElem> m_elems;
	std::string m_text;
};

}
