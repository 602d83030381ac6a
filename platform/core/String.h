#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace Orbitane::String {

enum SplitFlags : int
{
	SkipEmpty = 1,    ///< drop empty parts
	Trim = 2          ///< strip blanks around each part
};

/// Parts of text between delimiters, in order. With flags 0 every part is kept, also empty ones:
/// "a..b" gives "a", "", "b" and "" gives one empty part.
std::vector<std::string> split(std::string_view text, char delimiter, int flags = 0);

/// Words of a camel-case identifier. A word starts at an upper-case letter that follows a
/// lower-case letter or digit, and at the last capital of a run that is followed by a lower-case
/// letter ("HTTPServer" gives "HTTP", "Server"). Digits stay with the word they follow
/// ("LeftRib12" gives "Left", "Rib12"); a leading digit run is a word of its own.
std::vector<std::string> splitCamelCase(std::string_view word);

/// Lower-cases ASCII letters in place.
void toLower(std::string& text);
/// Copy with ASCII letters upper-cased.
std::string toUpperCopy(std::string_view text);
bool contains(std::string_view text, std::string_view part);

/// True when text is well-formed UTF-8 (no overlong forms, surrogates or code points past U+10FFFF),
/// the only text Python can turn into a str.
bool isUtf8(std::string_view text);
/// Copy of text with every byte that is not part of a well-formed UTF-8 sequence replaced by U+FFFD.
std::string withValidUtf8(std::string_view text);

}
