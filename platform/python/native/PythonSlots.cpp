#include "PythonSlots.h"

#include <unordered_map>

namespace Orbitane::Python::PythonSlots {

namespace {

using Slots = std::vector<std::weak_ptr<PythonReference>>;

struct Registry
{
	std::unordered_map<const void*, Slots> slots;
	/// Signals that die leave expired entries behind; they are swept whenever the map has doubled.
	std::size_t sweptSize = 0;
};

Registry& registry()
{
	static Registry r;
	return r;
}

void sweepDeadSignals(Registry& r)
{
	std::erase_if(r.slots, [](auto& entry) {
		std::erase_if(entry.second, [](const std::weak_ptr<PythonReference>& s) { return s.expired(); });
		return entry.second.empty();
	});
	r.sweptSize = r.slots.size();
}

}

void add(const void* signal, const std::shared_ptr<PythonReference>& slot)
{
	Registry& r = registry();
	Slots& slots = r.slots[signal];
	std::erase_if(slots, [](const std::weak_ptr<PythonReference>& s) { return s.expired(); });
	slots.push_back(slot);
	if (r.slots.size() > 2 * r.sweptSize + 64)
		sweepDeadSignals(r);
}

int visit(const void* signal, visitproc visit, void* arg)
{
	auto found = registry().slots.find(signal);
	if (found == registry().slots.end())
		return 0;
	for (const std::weak_ptr<PythonReference>& weak : found->second)
		if (auto slot = weak.lock(); slot && slot->get())
			Py_VISIT(slot->get().ptr());
	return 0;
}

void clear(const void* signal)
{
	auto found = registry().slots.find(signal);
	if (found == registry().slots.end())
		return;
	// dropping a callable may run Python code that connects or clears slots
	Slots slots = std::move(found->second);
	registry().slots.erase(found);
	for (const std::weak_ptr<PythonReference>& weak : slots)
		if (auto slot = weak.lock())
			slot->clear();
}

}
