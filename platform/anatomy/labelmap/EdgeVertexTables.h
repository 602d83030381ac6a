#pragma once

// The two ways of remembering the vertex on each crossed grid edge while one surface is assembled.
// Cells arrive in (z, y, x) order, and the first cell to contain an edge makes its vertex (see
// ownedEdges in MaskSurface.cpp); the later ones look it up. Both tables offer
//     std::uint32_t& slot(x, y, z, axis)
// for the edge from voxel (x, y, z) along `axis`, which the first cell sets and the later ones read.
// Each thread keeps one of each and reuses it for all the surfaces it builds.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Orbitane::LabelMap {
// Dense slots for the two voxel planes that the current plane of cells touches, over the x-y
// extent x0..x1, y0..y1. Planes alternate by z parity: by the time a plane's slots are written
// again, no cell that reads them remains, so nothing is ever cleared. Fastest, but its size
// follows the extent, so it is only used where that is not much larger than the surface.
class EdgeVertexPlanes
{
public:
	static std::size_t slotsFor(int x0, int x1, int y0, int y1)
	{
		return 2 * 3 * static_cast<std::size_t>(x1 - x0 + 1) * static_cast<std::size_t>(y1 - y0 + 1);
	}

	void start(int x0, int x1, int y0, int y1)
	{
		x0_ = x0;
		y0_ = y0;
		width_ = static_cast<std::size_t>(x1 - x0 + 1);
		height_ = static_cast<std::size_t>(y1 - y0 + 1);
		const std::size_t needed = slotsFor(x0, x1, y0, y1);
		if (slots_.size() < needed)
			slots_.resize(needed);
	}

	std::uint32_t& slot(int x, int y, int z, int axis)
	{
		return slots_[((static_cast<std::size_t>(z & 1) * height_ + static_cast<std::size_t>(y - y0_)) * width_ +
		               static_cast<std::size_t>(x - x0_)) *
		                  3 +
		              static_cast<std::size_t>(axis)];
	}

private:
	int x0_ = 0;
	int y0_ = 0;
	std::size_t width_ = 0;
	std::size_t height_ = 0;
	std::vector<std::uint32_t> slots_;
};

// Open addressing over linear grid indices, sized to twice the vertex count, so its memory
// follows the surface whatever the extent. A window of `capacity` consecutive keys keeps its
// order in the table and only whole windows are scattered, so neighbouring cells still find
// their edges in neighbouring slots.
class EdgeVertexHash
{
public:
	void start(int nx, int ny, std::size_t vertices)
	{
		strideX_ = static_cast<std::uint64_t>(nx) + 2;    // voxel coordinates -1 .. n
		strideY_ = static_cast<std::uint64_t>(ny) + 2;
		std::size_t capacity = 16;
		windowBits_ = 4;
		while (capacity < 2 * vertices)
		{
			capacity *= 2;
			++windowBits_;
		}
		keys_.assign(capacity, empty);
		values_.resize(capacity);
	}

	// Finds the edge's slot, or claims a free one for it.
	std::uint32_t& slot(int x, int y, int z, int axis)
	{
		const std::uint64_t key =
		    ((static_cast<std::uint64_t>(z + 1) * strideY_ + static_cast<std::uint64_t>(y + 1)) * strideX_ +
		     static_cast<std::uint64_t>(x + 1)) *
		        3 +
		    static_cast<std::uint64_t>(axis);
		const std::size_t mask = keys_.size() - 1;
		const std::uint64_t window = key >> windowBits_;
		std::size_t pos = static_cast<std::size_t>((key + ((window * 0x9E3779B97F4A7C15ull) >> 32)) & mask);
		while (keys_[pos] != key && keys_[pos] != empty)
			pos = (pos + 1) & mask;
		keys_[pos] = key;
		return values_[pos];
	}

private:
	static constexpr std::uint64_t empty = ~std::uint64_t{0};
	std::uint64_t strideX_ = 0;
	std::uint64_t strideY_ = 0;
	unsigned windowBits_ = 4;
	std::vector<std::uint64_t> keys_;
	std::vector<std::uint32_t> values_;
};
}
