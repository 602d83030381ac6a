#include "anatomy/labelmap/MaskSurface.h"

#include "anatomy/labelmap/SurfaceCases.h"
#include "core/FreshPages.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

namespace Orbitane::LabelMap {
namespace {
// Cells are packed into 64 bits as bit fields (x + 1, y + 1, z + 1, corner pattern) rather
// than as a linear index, so that unpacking needs no division. Cell (x, y, z) spans voxels
// x..x+1, y..y+1, z..z+1; cells run from -1 to n-1 on each axis so that the surface closes
// over the border.
class CellGrid
{
public:
	static constexpr int patternShift = 56;

	CellGrid(int nx, int ny, int nz)
	{
		const int xBits = bitsFor(nx);
		const int yBits = bitsFor(ny);
		const int zBits = bitsFor(nz);
		if (xBits + yBits + zBits > patternShift)
			throw std::invalid_argument("label volume of " + std::to_string(nx) + " x " + std::to_string(ny) + " x " +
			                            std::to_string(nz) + " voxels is too large for surface extraction");
		yShift_ = xBits;
		zShift_ = xBits + yBits;
		xMask_ = (std::uint64_t{1} << xBits) - 1;
		yMask_ = (std::uint64_t{1} << yBits) - 1;
		zMask_ = (std::uint64_t{1} << zBits) - 1;
	}

	std::uint64_t pack(int x, int y, int z, unsigned pattern) const
	{
		return static_cast<std::uint64_t>(x + 1) | (static_cast<std::uint64_t>(y + 1) << yShift_) |
		       (static_cast<std::uint64_t>(z + 1) << zShift_) | (static_cast<std::uint64_t>(pattern) << patternShift);
	}
	void unpack(std::uint64_t cell, int& x, int& y, int& z, unsigned& pattern) const
	{
		x = static_cast<int>(cell & xMask_) - 1;
		y = static_cast<int>((cell >> yShift_) & yMask_) - 1;
		z = static_cast<int>((cell >> zShift_) & zMask_) - 1;
		pattern = static_cast<unsigned>(cell >> patternShift);
	}

private:
	// Bits needed for the values 0 .. n.
	static int bitsFor(int n) { return std::bit_width(static_cast<unsigned>(n)); }

	int yShift_ = 0;
	int zShift_ = 0;
	std::uint64_t xMask_ = 0;
	std::uint64_t yMask_ = 0;
	std::uint64_t zMask_ = 0;
};

struct MeshSize
{
	std::size_t triangles = 0;
	std::size_t centres = 0;
	std::size_t edgeUses = 0;

	// Every crossed grid edge lies in exactly four boundary cells, so its vertex is counted
	// a quarter in each.
	std::size_t vertices() const { return centres + edgeUses / 4; }
};

std::uint64_t word(const std::uint8_t* bytes)
{
	std::uint64_t w;
	std::memcpy(&w, bytes, sizeof w);
	return w;
}

// Eight bytes at a time: a label's rows are mostly long runs of zeros on either side of it.
RowExtent extentOf(const std::uint8_t* row, int nx)
{
	int first = 0;
	while (first + 8 <= nx && word(row + first) == 0)
		first += 8;
	while (first < nx && row[first] == 0)
		++first;
	if (first == nx)
		return {nx, -1};
	int last = nx - 1;
	while (last - 7 > first && word(row + last - 7) == 0)
		last -= 8;
	while (row[last] == 0)
		--last;
	return {first, last};
}

// Finds the boundary cells of a mask in (z, y, x) order and adds up the size of their mesh.
// A row of cells can only have boundary cells next to the set voxels of its four voxel rows,
// so each row is scanned only over their joint extent: empty space costs next to nothing.
class CellScanner
{
public:
	CellScanner(const LabelVolumeView<std::uint8_t>& mask, const CellGrid& grid, SurfaceScratch& scratch)
	    : mask_(mask),
	      grid_(grid),
	      cells_(scratch.cells),
	      extents_(scratch.rowExtents),
	      zeros_(static_cast<std::size_t>(mask.nx), 0)
	{
		extents_.resize(static_cast<std::size_t>(mask.ny) * static_cast<std::size_t>(mask.nz));
		for (int z = 0; z < mask.nz; ++z)
			for (int y = 0; y < mask.ny; ++y)
				extents_[rowIndex(y, z)] = extentOf(mask.row(y, z), mask.nx);
	}

	MeshSize scan()
	{
		for (int z = -1; z < mask_.nz; ++z)
			for (int y = -1; y < mask_.ny; ++y)
				scanRow(y, z);
		return size_;
	}

private:
	static constexpr int block = 32;

	// The four voxel rows that a row of cells spans, (y, z), (y+1, z), (y, z+1), (y+1, z+1):
	// corner c of a cell lies in row c >> 1, column x + (c & 1).
	struct RowQuad
	{
		const std::uint8_t* rows[4];
	};

	bool inside(int y, int z) const { return y >= 0 && y < mask_.ny && z >= 0 && z < mask_.nz; }
	std::size_t rowIndex(int y, int z) const
	{
		return static_cast<std::size_t>(z) * static_cast<std::size_t>(mask_.ny) + static_cast<std::size_t>(y);
	}

	const std::uint8_t* voxelRow(int y, int z) const { return inside(y, z) ? mask_.row(y, z) : zeros_.data(); }

	// Joint extent of the four rows; rows beyond the mask are empty.
	RowExtent quadExtent(int y, int z) const
	{
		RowExtent joint{mask_.nx, -1};
		for (int dz = 0; dz < 2; ++dz)
			for (int dy = 0; dy < 2; ++dy)
				if (inside(y + dy, z + dz))
				{
					const RowExtent& e = extents_[rowIndex(y + dy, z + dz)];
					joint.first = std::min(joint.first, e.first);
					joint.last = std::max(joint.last, e.last);
				}
		return joint;
	}

	void scanRow(int y, int z)
	{
		const RowExtent extent = quadExtent(y, z);
		if (extent.first > extent.last)
			return;
		const RowQuad quad{{voxelRow(y, z), voxelRow(y + 1, z), voxelRow(y, z + 1), voxelRow(y + 1, z + 1)}};
		const int nx = mask_.nx;
		// cells extent.first - 1 .. extent.last touch the set columns
		int x = extent.first - 1;
		if (x < 0)
		{
			emitIfMixed(edgePattern(quad, 0, 1), -1, y, z);
			x = 0;
		}
		const int end = std::min(extent.last, nx - 2);    // last cell with both columns inside
		// Inside the extent most blocks still lie wholly inside or outside the mask: a
		// vectorised pass gives the patterns of a block, and one word test skips 8 cells.
		for (; x + block - 1 <= end; x += block)
		{
			if (uniformBlock(quad, x))
				continue;
			std::uint8_t patterns[block];
			std::uint8_t mixed[block];
			blockPatterns(quad, x, patterns, mixed);
			for (int w = 0; w < block; w += 8)
			{
				std::uint64_t word;
				std::memcpy(&word, mixed + w, sizeof word);
				for (; word != 0; word &= word - 1)
				{
					const int k = w + std::countr_zero(word) / 8;
					emit(patterns[k], x + k, y, z);
				}
			}
		}
		for (; x <= end; ++x)
			emitIfMixed(cellPattern(quad, x), x, y, z);
		if (extent.last == nx - 1)
			emitIfMixed(edgePattern(quad, nx - 1, 0), nx - 1, y, z);
	}
	static unsigned cellPattern(const RowQuad& q, int x)
	{
		unsigned pattern = 0;
		for (int c = 0; c < 8; ++c)
			pattern |= static_cast<unsigned>(q.rows[c >> 1][x + (c & 1)] != 0) << c;
		return pattern;
	}

	// A cell at the end of the row: only column `x` lies in the mask, as its corners with
	// x offset `side`.
	static unsigned edgePattern(const RowQuad& q, int x, int side)
	{
		unsigned pattern = 0;
		for (int r = 0; r < 4; ++r)
			pattern |= static_cast<unsigned>(q.rows[r][x] != 0) << (2 * r + side);
		return pattern;
	}

	// Whether the block's 32 cells lie wholly outside or wholly inside a 0/1 mask (columns x ..
	// x + block of the four rows all 0, or all 1); a shortcut only, blocks of other values are
	// classified cell by cell. Inside a label's box most blocks are such, and testing words costs
	// far less than building the patterns of 32 cells.
	static bool uniformBlock(const RowQuad& q, int x)
	{
		constexpr std::uint64_t ones = 0x0101010101010101ull;
		std::uint64_t any = 0, all = ~std::uint64_t{0};
		for (const std::uint8_t* row : q.rows)
		{
			for (int w = 0; w < block; w += 8)
			{
				const std::uint64_t v = word(row + x + w);
				any |= v;
				all &= v;
			}
			any |= row[x + block];
			all &= row[x + block] * ones;
		}
		return any == 0 || (all == ones && any == ones);
	}

	// patterns[k] of cell x + k, and mixed[k] = 1 when its corners are not all alike (reads
	// columns x .. x + block). The fixed trip count lets the compiler vectorise it.
	static void blockPatterns(const RowQuad& q, int x, std::uint8_t* patterns, std::uint8_t* mixed)
	{
		const std::uint8_t* a = q.rows[0] + x;
		const std::uint8_t* b = q.rows[1] + x;
		const std::uint8_t* c = q.rows[2] + x;
		const std::uint8_t* d = q.rows[3] + x;
		for (int k = 0; k < block; ++k)
		{
			const auto p = static_cast<std::uint8_t>((a[k] != 0) | (a[k + 1] != 0) << 1 | (b[k] != 0) << 2 |
			                                         (b[k + 1] != 0) << 3 | (c[k] != 0) << 4 | (c[k + 1] != 0) << 5 |
			                                         (d[k] != 0) << 6 | (d[k + 1] != 0) << 7);
			patterns[k] = p;
			mixed[k] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(p + 1) > 1);
		}
	}

	void emitIfMixed(unsigned pattern, int x, int y, int z)
	{
		if (pattern != 0 && pattern != 255)
			emit(pattern, x, y, z);
	}

	void emit(unsigned pattern, int x, int y, int z)
	{
		if (cells_.size() == cells_.capacity())
			growCells();
		cells_.push_back(grid_.pack(x, y, z, pattern));
		const SurfaceCase& sc = cases_[pattern];
		size_.triangles += sc.triangleCount;
		size_.centres += sc.centreCount;
		size_.edgeUses += sc.edgeCount;
	}

	// Doubles the cell list ahead of push_back, so that its fresh memory is mapped in one call.
	void growCells()
	{
		cells_.reserve(std::max<std::size_t>(2 * cells_.capacity(), 4096));
		const std::size_t used = cells_.size();
		mapPagesForWriting(cells_.data() + used, (cells_.capacity() - used) * sizeof(std::uint64_t));
	}

	const LabelVolumeView<std::uint8_t>& mask_;
	const CellGrid& grid_;
	std::vector<std::uint64_t>& cells_;
	std::vector<RowExtent>& extents_;
	std::vector<std::uint8_t> zeros_;
	const std::array<SurfaceCase, 256>& cases_ = surfaceCases();
	MeshSize size_;
};

// The first cell in (z, y, x) order to contain a grid edge is the one that has it at its
// upper corner in both other axes, and as every cell around a crossed edge is a boundary
// cell, that cell is always met first: it makes the edge's vertex.
unsigned ownedEdges()
{
	unsigned owned = 0;
	const auto& edges = cubeEdges();
	for (int e = 0; e < 12; ++e)
		if (edges[e].corner == (7 & ~(1u << edges[e].axis)))
			owned |= 1u << e;
	return owned;
}

template <typename Table>
void fillMesh(const CellGrid& grid, const std::vector<std::uint64_t>& cells, Table& table, SurfaceMesh& mesh)
{
	const auto& cases = surfaceCases();
	const auto& edges = cubeEdges();
	const unsigned owned = ownedEdges();
	int ids[SurfaceCase::firstCentreToken + SurfaceCase::maxCentres];
	for (const std::uint64_t cell : cells)
	{
		int x, y, z;
		unsigned pattern;
		grid.unpack(cell, x, y, z, pattern);
		const SurfaceCase& sc = cases[pattern];
		for (unsigned mask = sc.edgeMask; mask != 0; mask &= mask - 1)
		{
			const int e = std::countr_zero(mask);
			const CubeEdge& edge = edges[e];
			const int vx = x + (edge.corner & 1);
			const int vy = y + (edge.corner >> 1 & 1);
			const int vz = z + (edge.corner >> 2 & 1);
			std::uint32_t& slot = table.slot(vx, vy, vz, edge.axis);
			if (owned >> e & 1)
			{
				slot = static_cast<std::uint32_t>(mesh.vertices.size());
				Eigen::Vector3d p(vx, vy, vz);
				p[edge.axis] += 0.5;
				mesh.vertices.push_back(p);
			}
			ids[e] = static_cast<int>(slot);
		}
		for (int c = 0; c < sc.centreCount; ++c)
		{
			ids[SurfaceCase::firstCentreToken + c] = static_cast<int>(mesh.vertices.size());
			const auto& offset = sc.centres[c];
			mesh.vertices.emplace_back(x + offset[0], y + offset[1], z + offset[2]);
		}
		for (int t = 0; t < sc.triangleCount; ++t)
		{
			const auto& tri = sc.triangles[t];
			mesh.faces.emplace_back(ids[tri[0]], ids[tri[1]], ids[tri[2]]);
		}
	}
}
}

SurfaceMesh extractMaskSurface(const LabelVolumeView<std::uint8_t>& mask, SurfaceScratch& scratch)
{
	validateVolume(mask);
	const CellGrid grid(mask.nx, mask.ny, mask.nz);
	scratch.cells.clear();
	const MeshSize size = CellScanner(mask, grid, scratch).scan();
	SurfaceMesh mesh;
	if (size.triangles == 0)
		return mesh;
	if (size.vertices() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
		throw std::runtime_error("label surface has too many vertices for 32-bit face indices");
	mesh.vertices.reserve(size.vertices());
	mesh.faces.reserve(size.triangles);
	mapPagesForWriting(mesh.vertices.data(), size.vertices() * sizeof(Eigen::Vector3d));
	mapPagesForWriting(mesh.faces.data(), size.triangles * sizeof(Eigen::Vector3i));

	// Dense planes unless the mask's extent dwarfs its surface (scattered voxels, a large thin
	// shell in a 2-D image): then the hash keeps memory proportional to the surface.
	constexpr std::size_t slotsPerVertex = 16;
	constexpr std::size_t alwaysDense = std::size_t{1} << 20;
	const std::size_t planeSlots = EdgeVertexPlanes::slotsFor(-1, mask.nx, -1, mask.ny);
	if (planeSlots <= std::max(alwaysDense, slotsPerVertex * size.vertices()))
	{
		scratch.planes.start(-1, mask.nx, -1, mask.ny);
		fillMesh(grid, scratch.cells, scratch.planes, mesh);
	}
	else
	{
		scratch.hash.start(mask.nx, mask.ny, size.vertices());
		fillMesh(grid, scratch.cells, scratch.hash, mesh);
	}
	return mesh;
}

void translate(SurfaceMesh& mesh, const Eigen::Vector3i& offset)
{
	const Eigen::Vector3d shift = offset.cast<double>();
	for (Eigen::Vector3d& v : mesh.vertices)
		v += shift;
}
}
