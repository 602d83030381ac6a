#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

/// Lexical pieces shared by the selector parsers and printers.
namespace Orbitane::AnatomyPlugin::SelectorText {

/// Letters, digits, '_' and '-': the characters a value may use without quotes.
bool isWordChar(char c);

/// Reads a bare word or a double-quoted string (escapes \" and \\) at pos and moves pos past
/// it. Empty, with pos unchanged, when there is neither; a quoted string may be empty.
std::optional<std::string> readValue(std::string_view text, std::size_t& pos);

/// The value as readValue reads it back: bare when it is a non-empty word, quoted otherwise.
std::string writeValue(std::string_view value);

/// Moves pos past blanks (space, tab, line breaks).
void skipBlanks(std::string_view text, std::size_t& pos);

}
