#pragma once

#include "anatomy/style/SelectorElem.h"
#include "anatomy/style/StyleTarget.h"

#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace Orbitane::AnatomyPlugin {

/// An OR of selector elements: it matches an element that any of its elements matches.
///
/// Text form: the elements' texts separated by commas, with blanks allowed around each comma
/// and at both ends, e.g. `meshes#liver, keypoints@tip, .highlight`. See SelectorElem for the
/// text of one element. The canonical text joins the elements with ", ".
///
/// The elements keep the order in which they were given; an element equal to an earlier one is
/// dropped, so every element appears once. Two selectors are equal when they hold equal
/// elements in the same order. A selector always has at least one element.
class Selector
{
public:
	/// Throws std::invalid_argument for an empty list: a selector that matches nothing is never
	/// what a style rule wants, and it would have no text to be saved as.
	explicit Selector(SelectorElem elem);
	explicit Selector(std::vector<SelectorElem> elems);

	/// Empty for every text the grammar rejects (never throws).
	static std::optional<Selector> parse(const std::string& text);

	const std::string& str() const { return m_text; }
	const std::vector<SelectorElem>& elements() const { return m_elems; }

	bool matches(const StyleTarget& target) const;

	/// This selector with elem appended (unless it already holds an equal element).
	Selector operator||(const SelectorElem& elem) const;

	bool operator==(const Selector& other) const { return m_elems == other.m_elems; }

private:
	void append(SelectorElem elem);

	std::vector<SelectorElem> m_elems;
	std::string m_text;
	/// Texts of the elements; equal texts mean equal elements, so duplicates are found without
	/// comparing each new element with every earlier one (selectors come from files, too).
	std::unordered_set<std::string> m_elemTexts;
};

/// The selector made of a followed by b.
Selector operator||(const SelectorElem& a, const SelectorElem& b);

}
