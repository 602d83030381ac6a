#include "anatomy/style/Selector.h"

#include "anatomy/style/SelectorText.h"

#include <algorithm>
#include <stdexcept>

namespace Orbitane::AnatomyPlugin {

Selector::Selector(SelectorElem elem) { append(std::move(elem)); }

Selector::Selector(std::vector<SelectorElem> elems)
{
	if (elems.empty())
		throw std::invalid_argument("A Selector needs at least one SelectorElem.");
	for (SelectorElem& e : elems)
		append(std::move(e));
}

void Selector::append(SelectorElem elem)
{
	std::string text = elem.str();
	if (m_elemTexts.contains(text))
		return;
	if (!m_elems.empty())
		m_text += ", ";
	m_text += text;
	m_elemTexts.insert(std::move(text));
	m_elems.push_back(std::move(elem));
}

std::optional<Selector> Selector::parse(const std::string& text)
{
	std::vector<SelectorElem> elems;
	std::size_t pos = 0;
	for (;;)
	{
		SelectorText::skipBlanks(text, pos);
		auto elem = SelectorElem::parseAt(text, pos);
		if (!elem)
			return std::nullopt;
		elems.push_back(std::move(*elem));
		SelectorText::skipBlanks(text, pos);
		if (pos == text.size())
			return Selector(std::move(elems));
		if (text[pos] != ',')
			return std::nullopt;
		++pos;
	}
}

bool Selector::matches(const StyleTarget& target) const
{
	return std::any_of(m_elems.begin(), m_elems.end(), [&](const SelectorElem& e) { return e.matches(target); });
}

Selector Selector::operator||(const SelectorElem& elem) const
{
	Selector result = *this;
	result.append(elem);
	return result;
}

Selector operator||(const SelectorElem& a, const SelectorElem& b) { return Selector(std::vector<SelectorElem>{a, b}); }

}
