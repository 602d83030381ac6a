#pragma once

#include "anatomy/style/ContentType.h"
#include "anatomy/style/StyleTarget.h"

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

namespace Orbitane::AnatomyPlugin {

/// One query over the elements of a collection: an AND of up to six criteria, each optional.
///
/// Text form (no blanks inside an element):
///
///     element   := "*" | ( type | "*" )? criterion+ | type
///     type      := "keypoints" | "planes" | "images" | "meshes" | "pointclouds" | "graphs"
///     criterion := "#" value                  the structure's identifier equals value
///                | "@" value                  the element's key equals value
///                | "[" value "=" value "]"    the element attribute named first equals second
///                | "[" value "~=" value "]"   the element attribute named first, split at
///                                             blanks, has the word second
///                | "." value                  the element has this class
///     value     := word | quoted
///     word      := one or more of  A-Z a-z 0-9 _ -
///     quoted    := '"' characters '"'         with \" and \\ for a quote and a backslash
///
/// Examples: `meshes`, `#liver`, `keypoints#liver@tip`, `#"Orbitane.Spine.Vertebra.L1"`,
/// `planes[side=left]`, `[tags~=landmark]`, `.highlight.selected`, `*`.
///
/// `#`, `@`, `[=]` and `[~=]` may each appear once; classes any number of times, in any order.
/// The classes of an element are the words of its string attribute "class". Attribute values
/// compare as text: strings as they are, booleans as "true"/"false", integers in decimal,
/// floating-point numbers in their shortest exact decimal form; other values never match.
/// "*" alone matches every element. Anything else (an unknown type, a blank, a repeated
/// criterion, an empty text) is rejected: parse then gives an empty optional; it never throws.
class SelectorElem
{
public:
	using AttributeTest = std::pair<std::string, std::string>;

	/// All criteria absent: matches everything.
	SelectorElem() = default;
	SelectorElem(std::optional<ContentType> type, std::optional<std::string> structure, std::optional<std::string> key,
	             std::optional<AttributeTest> attributeEquals, std::optional<AttributeTest> attributeHasWord,
	             std::set<std::string> classes);

	static std::optional<SelectorElem> parse(const std::string& text);
	/// Reads one element at pos (no blanks skipped) and moves pos past it; empty on bad text.
	static std::optional<SelectorElem> parseAt(std::string_view text, std::size_t& pos);

	/// Canonical text: type, #, @, [=], [~=], then the classes in ascending order; values quoted
	/// only when they need it; "*" when no criterion is set. parse(str()) gives an equal element.
	std::string str() const;

	bool matches(const StyleTarget& target) const;

	const std::optional<ContentType>& type() const { return m_type; }
	const std::optional<std::string>& structure() const { return m_structure; }
	const std::optional<std::string>& key() const { return m_key; }
	const std::optional<AttributeTest>& attributeEquals() const { return m_attributeEquals; }
	const std::optional<AttributeTest>& attributeHasWord() const { return m_attributeHasWord; }
	const std::set<std::string>& classes() const { return m_classes; }

	bool operator==(const SelectorElem& other) const = default;

private:
	std::optional<ContentType> m_type;
	std::optional<std::string> m_structure;
	std::optional<std::string> m_key;
	std::optional<AttributeTest> m_attributeEquals;
	std::optional<AttributeTest> m_attributeHasWord;
	std::set<std::string> m_classes;
};

}
