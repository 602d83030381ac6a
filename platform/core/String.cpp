#include "core/String.h"

#include <cctype>

namespace Orbitane::String {

namespace {

bool isUpper(char c) { return c >= 'A' && c <= 'Z'; }
bool isLower(char c) { return c >= 'a' && c <= 'z'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

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
		std::string_view part = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
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

}
