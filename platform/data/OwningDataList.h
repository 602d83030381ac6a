#pragma once

#include "data/Data.h"

#include <memory>
#include <vector>

namespace Orbitane {

/// An ordered list that owns its data objects.
class OwningDataList
{
public:
	OwningDataList() = default;
	OwningDataList(OwningDataList&&) noexcept = default;
	OwningDataList& operator=(OwningDataList&&) noexcept = default;

	void add(std::unique_ptr<Data> data) { m_items.push_back(std::move(data)); }
	int size() const { return static_cast<int>(m_items.size()); }
	bool empty() const { return m_items.empty(); }
	Data* at(int i) const { return m_items.at(i).get(); }
	/// Takes entry i out; the list keeps the others in order.
	std::unique_ptr<Data> take(int i);

	/// Takes out the first entry that is a T, or returns null.
	template <typename T>
	std::unique_ptr<T> takeFirst()
	{
		for (int i = 0; i < size(); ++i)
			if (dynamic_cast<T*>(m_items[i].get()))
				return std::unique_ptr<T>(static_cast<T*>(take(i).release()));
		return nullptr;
	}

private:
	std::vector<std::unique_ptr<Data>> m_items;
};

}
