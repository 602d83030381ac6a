#include "core/String.h"

#include <cctype>

namespace Orbitane::String {

namespace {

bool isUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool isLower(char c) { return c >= 'a' && c <= 'z'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the well-formed UTF-8 sequence that starts at text[at], or 0 when there is none.
std::size_t utf8SequenceLength(std::string_view text, std::size_t at)
{
	const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
	const unsigned char lead = byte(at);
	if (lead < 0x80)
		return 1;
	std::size_t length = 0;
	unsigned char low = 0x80, high = 0xBF;    // range of the first continuation byte
	if (lead >= 0xC2 && lead <= 0xDF)
		length = 2;
	else if (lead >= 0xE0 && lead <= 0xEF)
	{
		length = 3;
		low = lead == 0xE0 ? 0xA0 : 0x80;     // no overlong forms
		high = lead == 0xED ? 0x9F : 0xBF;    // no surrogates
	}
	else if (lead >= 0xF0 && lead <= 0xF4)
	{
		length = 4;
		low = lead == 0xF0 ? 0x90 : 0x80;
		high = lead == 0xF4 ? 0x8F : 0xBF;    // nothing past U+10FFFF
	}
	else
		return 0;
	if (text.size() - at < length || byte(at + 1) < low || byte(at + 1) > high)
		return 0;
	for (std::size_t i = 2; i < length; ++i)
		if ((byte(at + i) & 0xC0) != 0x80)
			return 0;
	return length;
}

std::string_view trimmed(std::string_view s)
{
	while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
		s.remove_prefix(1);
	while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
		s.remove_suffix(1);
	return s;
}

bool startsWord(std::string_view w, std::size_t i)
{
	char prev = w[i - 1], c = w[i];
	if (isUpper(c))
	{
		if (isLower(prev) || isDigit(prev))
			return true;
		return isUpper(prev) && i + 1 < w.size() && isLower(w[i + 1]);
	}
	// a word after a leading run of digits
	return !isDigit(c) && isDigit(prev) && i == w.find_first_not_of("0123456789");
}

}

std::vector<std::string> split(std::string_view text, char delimiter, int flags)
{
	std::vector<std::string> parts;
	std::size_t start = 0;
	while (true)
	{
		std::size_t end = text.find(delimiter, start);
		std::string_view part =
		    text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
		if (flags & Trim)
			part = trimmed(part);
		if (!(flags & SkipEmpty) || !part.empty())
			parts.emplace_back(part);
		if (end == std::string_view::npos)
			break;
		start = end + 1;
	}
	return parts;
}

std::vector<std::string> splitCamelCase(std::string_view word)
{
	std::vector<std::string> words;
	std::size_t start = 0;
	for (std::size_t i = 1; i < word.size(); ++i)
		if (startsWord(word, i))
		{
			words.emplace_back(word.substr(start, i - start));
			start = i;
		}
	if (start < word.size())
		words.emplace_back(word.substr(start));
	return words;
}

void toLower(std::string& text)
{
	for (char& c : text)
		if (isUpper(c))
			c = static_cast<char>(c - 'A' + 'a');
}

std::string toUpperCopy(std::string_view text)
{
	std::string out(text);
	for (char& c : out)
		if (isLower(c))
			c = static_cast<char>(c - 'a' + 'A');
	return out;
}

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

bool isUtf8(std::string_view text)
{
	for (std::size_t at = 0; at < text.size();)
	{
		const std::size_t length = utf8SequenceLength(text, at);
		if (length == 0)
			return false;
		at += length;
	}
	return true;
}

std::string withValidUtf8(std::string_view text)
{
	std::string out;
	out.reserve(text.size());
	for (std::size_t at = 0; at < text.size();)
	{
		const std::size_t length = utf8SequenceLength(text, at);
		out.append(length ? text.substr(at, length) : std::string_view("\xEF\xBF\xBD"));
		at += length ? length : 1;
	}
	return out;
}

}
