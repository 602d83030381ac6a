#include "data/DataComponentFactory.h"

#include "data/LabelDataComponent.h"

#include <map>
#include <mutex>
#include <optional>
#include <typeindex>

namespace Orbitane::DataComponentFactory {

namespace {

struct Entry
{
	Creator creator;
	/// What the creator makes, known once it made one.
	std::optional<std::type_index> type;
};

struct Registry
{
	std::mutex mutex;
	std::map<std::string, Entry> creators;
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
	r.creators[id] = Entry{std::move(creator), std::nullopt};
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
		creator = it->second.creator;
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

bool makesType(const std::type_info& type)
{
	Registry& r = registry();
	std::lock_guard lock(r.mutex);
	for (auto& [id, entry] : r.creators)
	{
		if (!entry.type)
			if (auto probe = entry.creator())
			{
				const DataComponentBase& made = *probe;
				entry.type = std::type_index(typeid(made));
			}
		if (entry.type == std::type_index(type))
			return true;
	}
	return false;
}

}
