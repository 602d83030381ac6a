#pragma once

#include "core/NotCopyable.h"
#include "core/Signal.h"
#include "data/DataComponent.h"

#include <memory>
#include <vector>

namespace Orbitane {

class Data;

/// The components of one data object, in the order they were added.
class DataComponentList : Utils::NotCopyable
{
public:
	explicit DataComponentList(Data* parent) : m_parent(parent) {}

	/// Emitted when a component is appended or removed.
	Signal<> changed;

	/// Adds by the list's rule: a component matching an existing one (same dynamic type; same id for
	/// components defined in Python) is assigned into the existing one, which is returned, without
	/// the change signal. Otherwise the component is appended, told its parent, and the change
	/// signal fires once. Never returns null for a non-null argument.
	DataComponentBase* add(std::unique_ptr<DataComponentBase> component);
	/// Appends without looking for a match: tells the component its parent and emits the change
	/// signal once. For callers that apply the add rule themselves (components defined in Python).
	DataComponentBase* append(std::unique_ptr<DataComponentBase> component);
	/// Removes and returns the component; null if it is not in the list.
	std::unique_ptr<DataComponentBase> remove(const DataComponentBase* component);

	int size() const { return static_cast<int>(m_components.size()); }
	DataComponentBase* at(int i) const { return m_components.at(i).get(); }
	Data* parent() const { return m_parent; }

	/// First component whose dynamic type is exactly T.
	template <typename T>
	T* get() const
	{
		for (const auto& c : m_components)
			if (const DataComponentBase& component = *c; typeid(component) == typeid(T))
				return static_cast<T*>(c.get());
		return nullptr;
	}

	/// Replaces this list's components by clones of other's (used when data is copied).
	void copyFrom(const DataComponentList& other);

private:
	Data* m_parent;
	std::vector<std::unique_ptr<DataComponentBase>> m_components;
};

}
