#include "anatomy/style/StyleSheet.h"

#include <algorithm>

namespace Orbitane::AnatomyPlugin {

StyleSheet::StyleSheet(const std::string& sheetName) : name("name", sheetName)
{
	registerParameter(enabled);
	registerParameter(name);
}

StyleSheet::StyleSheet(const StyleSheet& other)
    : Configurable(other), enabled("enabled", true), name("name", other.name.get()), m_rules(other.m_rules)
{
	registerParameter(enabled);
	registerParameter(name);
	enabled = other.enabled.get();
}

StyleSheet::StyleSheet(StyleSheet&& other)
    : Configurable(other), enabled("enabled", true), name("name", other.name.get()), m_rules(std::move(other.m_rules))
{
	registerParameter(enabled);
	registerParameter(name);
	enabled = other.enabled.get();
}

StyleSheet& StyleSheet::operator=(const StyleSheet& other)
{
	if (this != &other)
	{
		enabled = other.enabled.get();
		name = other.name.get();
		m_rules = other.m_rules;
	}
	return *this;
}

StyleSheet::~StyleSheet()
{
	m_life.end();
	anyDestroyed().emitSignal(*this);
}

Signal<const StyleSheet&>& StyleSheet::anyDestroyed()
{
	static Signal<const StyleSheet&> signal;
	return signal;
}

bool StyleSheet::appendOrModify(const std::optional<Selector>& selector, const std::function<void(Properties&)>& fn)
{
	auto it = std::find_if(m_rules.begin(), m_rules.end(), [&](const Rule& r) { return r.selector == selector; });
	const bool appended = it == m_rules.end();
	if (appended)
		it = m_rules.insert(m_rules.end(), Rule{selector, {}});
	if (fn)
		fn(it->declaration);
	return appended;
}

}
