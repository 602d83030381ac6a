#include "anatomy/style/StyleSheet.h"

#include <string>
#include <variant>

namespace Orbitane::AnatomyPlugin {

namespace {

constexpr const char* rulesKey = "rules";
constexpr const char* selectorKey = "selector";
constexpr const char* declarationKey = "declaration";

/// A rule read back from its configuration; empty when the stored selector no longer parses,
/// since applying that rule to everything would change what it styles.
std::optional<StyleSheet::Rule> readRule(const Properties& p)
{
	StyleSheet::Rule rule;
	if (p.has(selectorKey))
	{
		std::string text;
		if (!p.param(selectorKey, text))
			return std::nullopt;
		rule.selector = Selector::parse(text);
		if (!rule.selector)
			return std::nullopt;
	}
	if (const Properties* declaration = p.subProperties(declarationKey))
		rule.declaration = *declaration;
	return rule;
}

}

void StyleSheet::writeRules(Properties& p) const
{
	Properties& out = p.subProperties(rulesKey);
	out.clear();
	int index = 0;
	for (const Rule& rule : m_rules)
	{
		Properties entry;
		if (rule.selector)
			entry.setParam(selectorKey, rule.selector->str());
		entry.setParam(declarationKey, rule.declaration);
		out.setParam(std::to_string(index++), entry);
	}
}

void StyleSheet::readRules(const Properties& rules)
{
	std::list<Rule> read;
	for (const auto& [key, value] : rules.entries())
		if (auto nested = std::get_if<NestedProperties>(&value))
			if (auto rule = readRule(nested->get()))
				read.push_back(std::move(*rule));
	m_rules = std::move(read);
}

void StyleSheet::configure(const Properties* p)
{
	Configurable::configure(p);
	if (!p)
		return;
	if (const Properties* rules = p->subProperties(rulesKey))
		readRules(*rules);
}

}
