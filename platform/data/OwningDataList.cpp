#include "data/OwningDataList.h"

#include <fmt/format.h>

#include <stdexcept>

namespace Orbitane {

std::unique_ptr<Data> OwningDataList::take(int i)
{
	if (i < 0 || i >= size())
		throw std::out_of_range(fmt::format("entry {} out of range for a list of {} data objects", i, size()));
	std::unique_ptr<Data> taken = std::move(m_items[i]);
	m_items.erase(m_items.begin() + i);
	return taken;
}

}
