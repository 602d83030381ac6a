#pragma once

// Maps label values to dense indices 0, 1, 2, ... in order of first sight, so that the per-label
// accumulators of a pass can live in flat vectors. 8-bit types use a direct table (a lookup is one
// load); wider types use an open-addressing hash table sized to the labels actually seen, because a
// 16-bit table per chunk of work would cost more to set up than the lookups it saves.

#include "anatomy/labelmap/LabelVolume.h"

#include <cstdint>
#include <type_traits>
#include <vector>

namespace Orbitane::LabelMap {
template <LabelVoxel T>
class LabelIndexer
{
public:
	using Unsigned = std::make_unsigned_t<T>;
	static constexpr bool direct = sizeof(T) == 1;

	LabelIndexer()
	{
		if constexpr (direct)
			table_.assign(std::size_t{1} << (8 * sizeof(T)), -1);
		else
			rehash(64);
	}

	std::int32_t indexOf(T value)
	{
		const auto key = static_cast<Unsigned>(value);
		if constexpr (direct)
		{
			std::int32_t& slot = table_[key];
			if (slot < 0)
				slot = append(value);
			return slot;
		}
		else
		{
			if (lastIndex_ >= 0 && key == lastKey_)
				return lastIndex_;
			std::size_t pos = slotFor(key);
			if (hashIndex_[pos] < 0)
			{
				hashKey_[pos] = key;
				hashIndex_[pos] = append(value);
				if (2 * labels_.size() > hashIndex_.size())
				{
					rehash(2 * hashIndex_.size());
					pos = slotFor(key);
				}
			}
			lastKey_ = key;
			lastIndex_ = hashIndex_[pos];
			return lastIndex_;
		}
	}

	// Label values in order of their indices.
	const std::vector<T>& labels() const { return labels_; }

private:
	std::int32_t append(T value)
	{
		labels_.push_back(value);
		return static_cast<std::int32_t>(labels_.size() - 1);
	}

	std::size_t slotFor(Unsigned key) const
	{
		// Fibonacci hashing takes the high bits, so labels that share low bits still spread.
		const std::size_t mask = hashIndex_.size() - 1;
		std::size_t pos =
		    static_cast<std::size_t>((static_cast<std::uint64_t>(key) * 0x9E3779B97F4A7C15ull) >> hashShift_);
		while (hashIndex_[pos] >= 0 && hashKey_[pos] != key)
			pos = (pos + 1) & mask;
		return pos;
	}

	void rehash(std::size_t capacity)
	{
		hashShift_ = 64;
		for (std::size_t c = capacity; c > 1; c >>= 1)
			--hashShift_;
		hashKey_.assign(capacity, 0);
		hashIndex_.assign(capacity, -1);
		for (std::size_t i = 0; i < labels_.size(); ++i)
		{
			const auto key = static_cast<Unsigned>(labels_[i]);
			const std::size_t pos = slotFor(key);
			hashKey_[pos] = key;
			hashIndex_[pos] = static_cast<std::int32_t>(i);
		}
	}

	std::vector<T> labels_;
	std::vector<std::int32_t> table_;
	std::vector<Unsigned> hashKey_;
	std::vector<std::int32_t> hashIndex_;
	unsigned hashShift_ = 64;
	Unsigned lastKey_ = 0;
	std::int32_t lastIndex_ = -1;
};
}
