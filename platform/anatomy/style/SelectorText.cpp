#include "anatomy/style/SelectorText.h"

#include <algorithm>

namespace Orbitane::AnatomyPlugin::SelectorText {

namespace {

bool isAsciiAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::optional<std::string> readQuoted(std::string_view text, std::size_t& pos)
{
	std::string out;
	for (std::size_t i = pos + 1; i < text.size(); ++i)
	{
		const char c = text[i];
		if (c == '"')
		{
			pos = i + 1;
			return out;
		}
		if (c == '\\')
		{
			// only the two characters that need it may be escaped, so every text has one spelling
			if (i + 1 >= text.size() || (text[i + 1] != '"' && text[i + 1] != '\\'))
				return std::nullopt;
			++i;
		}
		out += text[i];
	}
	return std::nullopt;    // unterminated
}

}

bool isWordChar(char c) { return isAsciiAlnum(c) || c == '_' || c == '-'; }

std::optional<std::string> readValue(std::string_view text, std::size_t& pos)
{
	if (pos >= text.size())
		return std::nullopt;
	if (text[pos] == '"')
		return readQuoted(text, pos);
	std::size_t end = pos;
	while (end < text.size() && isWordChar(text[end]))
		++end;
	if (end == pos)
		return std::nullopt;
	std::string word(text.substr(pos, end - pos));
	pos = end;
	return word;
}

std::string writeValue(std::string_view value)
{
	if (!value.empty() && std::all_of(value.begin(), value.end(), isWordChar))
		return std::string(value);
	std::string out = "\"";
	for (char c : value)
	{
		if (c == '"' || c == '\\')
			out += '\\';
		out += c;
	}
	return out + '"';
}

void skipBlanks(std::string_view text, std::size_t& pos)
{
	while (pos < text.size() && isBlank(text[pos]))
		++pos;
}

}
