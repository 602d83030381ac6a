#include "anatomy/style/SelectorElem.h"

#include <fmt/format.h>

#include <algorithm>
#include <sstream>
#include <variant>

namespace Orbitane::AnatomyPlugin {

namespace {

/// The text an attribute compares as; empty for kinds that have no single text form.
std::optional<std::string> attributeText(const Properties::Value& value)
{
	if (auto s = std::get_if<std::string>(&value))
		return *s;
	if (auto b = std::get_if<bool>(&value))
		return *b ? "true" : "false";
	if (auto i = std::get_if<int>(&value))
		return std::to_string(*i);
	if (auto d = std::get_if<double>(&value))
		return fmt::format("{}", *d);
	return std::nullopt;
}

std::optional<std::string> attributeText(const StyleTarget& target, const std::string& name)
{
	if (!target.attributes)
		return std::nullopt;
	const Properties::Value* v = target.attributes->find(name);
	return v ? attributeText(*v) : std::nullopt;
}

bool hasWord(const std::string& text, const std::string& word)
{
	std::istringstream words(text);
	std::string w;
	while (words >> w)
		if (w == word)
			return true;
	return false;
}

}

bool SelectorElem::matches(const StyleTarget& target) const
{
	if (m_type && *m_type != target.type)
		return false;
	if (m_structure && *m_structure != target.structure)
		return false;
	if (m_key && *m_key != target.key)
		return false;
	if (m_attributeEquals && attributeText(target, m_attributeEquals->first) != m_attributeEquals->second)
		return false;
	if (m_attributeHasWord)
	{
		auto text = attributeText(target, m_attributeHasWord->first);
		if (!text || !hasWord(*text, m_attributeHasWord->second))
			return false;
	}
	if (m_classes.empty())
		return true;
	auto classes = attributeText(target, "class");
	return classes &&
	       std::all_of(m_classes.begin(), m_classes.end(), [&](const std::string& c) { return hasWord(*classes, c); });
}

}
