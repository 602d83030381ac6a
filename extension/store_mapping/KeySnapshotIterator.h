#pragma once

#include <cstddef>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace binding_detail {

/// The keys of a store as they were when iteration began. The iterators share ownership of the
/// key list, so a Python iterator made from a pair of them needs nothing else to stay alive.
class KeySnapshot
{
public:
	class Iterator
	{
	public:
		using iterator_category = std::forward_iterator_tag;
		using value_type = std::string;
		using difference_type = std::ptrdiff_t;
		using pointer = const std::string*;
		using reference = const std::string&;

		Iterator() = default;
		Iterator(std::shared_ptr<const std::vector<std::string>> keys, std::size_t index)
		    : m_keys(std::move(keys)), m_index(index)
		{}
		const std::string& operator*() const { return (*m_keys)[m_index]; }
		Iterator& operator++()
		{
			++m_index;
			return *this;
		}
		Iterator operator++(int)
		{
			Iterator before = *this;
			++m_index;
			return before;
		}
		bool operator==(const Iterator& other) const { return m_index == other.m_index; }

	private:
		std::shared_ptr<const std::vector<std::string>> m_keys;
		std::size_t m_index = 0;
	};

	explicit KeySnapshot(std::vector<std::string> keys)
	    : m_keys(std::make_shared<const std::vector<std::string>>(std::move(keys)))
	{}
	Iterator begin() const { return {m_keys, 0}; }
	Iterator end() const { return {m_keys, m_keys->size()}; }

private:
	std::shared_ptr<const std::vector<std::string>> m_keys;
};

}
