#include "data/DataComponentFactory.h"

#include "data/LabelDataComponent.h"

#include <map>
#include <mutex>

namespace Orbitane::DataComponentFactory {

namespace {

struct Registry
{
	std::mutex mutex;
	std::map<std::string, Creator> creators;
};

// Built on first use, so that static initialisers in any library may register.
Registry& registry()
{
	static Registry r;
	return r;
}

const bool g_builtins = [] {
	registerComponent<LabelDataComponent>();
	return true;
}();

}

void registerComponent(const std::string& id, Creator creator)
{
	Registry& r = registry();
	std::lock_guard lock(r.mutex);
	r.creators[id] = std::move(creator);
}

bool isRegistered(const std::string& id)
{
	Registry& r = registry();
	std::lock_guard lock(r.mutex);
	return r.creators.contains(id);
}

std::unique_ptr<DataComponentBase> create(const std::string& id)
{
	Creator creator;
	{
		Registry& r = registry();
		std::lock_guard lock(r.mutex);
		auto it = r.creators.find(id);
		if (it == r.creators.end())
			return nullptr;
		creator = it->second;
	}
	return creator();
}

std::vector<std::string> registeredIds()
{
	Registry& r = registry();
	std::lock_guard lock(r.mutex);
	std::vector<std::string> ids;
	for (const auto& entry : r.creators)
		ids.push_back(entry.first);
	return ids;
}

}
