#include "keys/AnatomicalKeyRegistry.h"

namespace Orbitane::Bindings {

std::vector<std::string>& keyRegistry()
{
	// Constructed on first use: the key constants register during static initialisation, in an
	// order across files that nothing controls.
	static std::vector<std::string> registry;
	return registry;
}

bool registerKey(const std::string& identifier)
{
	keyRegistry().push_back(identifier);
	return true;
}

}
