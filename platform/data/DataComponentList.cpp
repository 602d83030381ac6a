#include "data/DataComponentList.h"

#include "core/String.h"

#include <typeinfo>

namespace Orbitane {

namespace {

// Components defined in Python all share one native type, so only their ids tell them apart.
bool matches(const DataComponentBase& existing, const DataComponentBase& added)
{
	if (String::contains(typeid(added).name(), "PyDataComponent"))
		return existing.id() == added.id();
	return typeid(existing) == typeid(added);
}

void tellParent(DataComponentBase& component, Data* parent)
{
	if (auto withParent = dynamic_cast<DataComponentWithParentInterface*>(&component))
		withParent->setParent(parent);
}

}

DataComponentBase* DataComponentList::add(std::unique_ptr<DataComponentBase> component)
{
	if (!component)
		return nullptr;
	for (const auto& existing : m_components)
		if (matches(*existing, *component))
		{
			existing->assign(*component);
			return existing.get();
		}
	return append(std::move(component));
}

DataComponentBase* DataComponentList::append(std::unique_ptr<DataComponentBase> component)
{
	if (!component)
		return nullptr;
	tellParent(*component, m_parent);
	DataComponentBase* appended = component.get();
	m_components.push_back(std::move(component));
	// slots may remove it again (or add others): callers check before they use the pointer
	changed.emitSignal();
	return appended;
}

std::unique_ptr<DataComponentBase> DataComponentList::remove(const DataComponentBase* component)
{
	for (auto it = m_components.begin(); it != m_components.end(); ++it)
		if (it->get() == component)
		{
			std::unique_ptr<DataComponentBase> taken = std::move(*it);
			m_components.erase(it);
			tellParent(*taken, nullptr);
			changed.emitSignal();
			return taken;
		}
	return nullptr;
}

void DataComponentList::copyFrom(const DataComponentList& other)
{
	if (&other == this || (m_components.empty() && other.m_components.empty()))
		return;
	std::vector<std::unique_ptr<DataComponentBase>> clones;
	clones.reserve(other.m_components.size());
	for (const auto& c : other.m_components)
		if (auto copy = c->clone())
		{
			tellParent(*copy, m_parent);
			clones.push_back(std::move(copy));
		}
	m_components.swap(clones);
	changed.emitSignal();
}

}
