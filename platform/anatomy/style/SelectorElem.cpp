#include "anatomy/style/SelectorElem.h"

#include "anatomy/style/SelectorText.h"

namespace Orbitane::AnatomyPlugin {

namespace {

using Text = std::string_view;

/// What one criterion adds to an element under construction; false on bad text or a repeat.
struct ElemBuilder
{
	std::optional<ContentType> type;
	std::optional<std::string> structure;
	std::optional<std::string> key;
	std::optional<SelectorElem::AttributeTest> equals;
	std::optional<SelectorElem::AttributeTest> hasWord;
	std::set<std::string> classes;

	SelectorElem build()
	{
		return {type, std::move(structure), std::move(key), std::move(equals), std::move(hasWord), std::move(classes)};
	}
};

bool setOnce(std::optional<std::string>& slot, std::optional<std::string> value)
{
	if (slot || !value)
		return false;
	slot = std::move(value);
	return true;
}

bool readAttributeTest(Text text, std::size_t& pos, ElemBuilder& b)
{
	++pos;    // '['
	auto name = SelectorText::readValue(text, pos);
	if (!name || pos >= text.size())
		return false;
	bool word = false;
	if (text.substr(pos, 2) == "~=")
	{
		word = true;
		pos += 2;
	}
	else if (text[pos] == '=')
		++pos;
	else
		return false;
	auto value = SelectorText::readValue(text, pos);
	if (!value || pos >= text.size() || text[pos] != ']')
		return false;
	++pos;
	auto& slot = word ? b.hasWord : b.equals;
	if (slot)
		return false;
	slot.emplace(std::move(*name), std::move(*value));
	return true;
}

bool readCriterion(Text text, std::size_t& pos, ElemBuilder& b)
{
	const char c = text[pos];
	if (c == '[')
		return readAttributeTest(text, pos, b);
	if (c != '#' && c != '@' && c != '.')
		return false;
	++pos;
	auto value = SelectorText::readValue(text, pos);
	if (c == '#')
		return setOnce(b.structure, std::move(value));
	if (c == '@')
		return setOnce(b.key, std::move(value));
	if (!value)
		return false;
	b.classes.insert(std::move(*value));
	return true;
}

enum class Head
{
	Absent,
	Present,
	Invalid
};

/// The leading "*" or content type, if any.
Head readHead(Text text, std::size_t& pos, ElemBuilder& b)
{
	if (text[pos] == '*')
	{
		++pos;
		return Head::Present;
	}
	if (!SelectorText::isWordChar(text[pos]))
		return Head::Absent;
	std::size_t end = pos;
	while (end < text.size() && SelectorText::isWordChar(text[end]))
		++end;
	b.type = contentTypeFromName(text.substr(pos, end - pos));
	pos = end;
	return b.type ? Head::Present : Head::Invalid;
}

bool isCriterionStart(char c) { return c == '#' || c == '@' || c == '[' || c == '.'; }

}

SelectorElem::SelectorElem(std::optional<ContentType> type, std::optional<std::string> structure,
                           std::optional<std::string> key, std::optional<AttributeTest> attributeEquals,
                           std::optional<AttributeTest> attributeHasWord, std::set<std::string> classes)
    : m_type(type),
      m_structure(std::move(structure)),
      m_key(std::move(key)),
      m_attributeEquals(std::move(attributeEquals)),
      m_attributeHasWord(std::move(attributeHasWord)),
      m_classes(std::move(classes))
{}

std::optional<SelectorElem> SelectorElem::parseAt(std::string_view text, std::size_t& pos)
{
	if (pos >= text.size())
		return std::nullopt;
	std::size_t p = pos;
	ElemBuilder b;
	const Head head = readHead(text, p, b);
	if (head == Head::Invalid)
		return std::nullopt;
	bool any = head == Head::Present;
	while (p < text.size() && isCriterionStart(text[p]))
	{
		if (!readCriterion(text, p, b))
			return std::nullopt;
		any = true;
	}
	if (!any)
		return std::nullopt;
	pos = p;
	return b.build();
}

std::optional<SelectorElem> SelectorElem::parse(const std::string& text)
{
	std::size_t pos = 0;
	SelectorText::skipBlanks(text, pos);
	auto elem = parseAt(text, pos);
	SelectorText::skipBlanks(text, pos);
	if (!elem || pos != text.size())
		return std::nullopt;
	return elem;
}

std::string SelectorElem::str() const
{
	using SelectorText::writeValue;
	std::string out;
	if (m_type)
		out += contentTypeName(*m_type);
	if (m_structure)
		out += "#" + writeValue(*m_structure);
	if (m_key)
		out += "@" + writeValue(*m_key);
	if (m_attributeEquals)
		out += "[" + writeValue(m_attributeEquals->first) + "=" + writeValue(m_attributeEquals->second) + "]";
	if (m_attributeHasWord)
		out += "[" + writeValue(m_attributeHasWord->first) + "~=" + writeValue(m_attributeHasWord->second) + "]";
	for (const std::string& c : m_classes)
		out += "." + writeValue(c);
	return out.empty() ? "*" : out;
}

}
