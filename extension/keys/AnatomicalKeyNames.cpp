#include "keys/AnatomicalKeyNames.h"

#include "core/String.h"

namespace Orbitane::Bindings {

std::string toSnakeCase(const std::string& part)
{
	std::string snake;
	for (std::string word : String::splitCamelCase(part))
	{
		String::toLower(word);
		snake += word;
		snake += '_';
	}
	if (!snake.empty())
		snake.pop_back();
	return snake;
}

}
