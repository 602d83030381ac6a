#include "anatomy/labelmap/LabelStatistics.h"

#include "anatomy/labelmap/LabelIndexer.h"
#include "core/ParallelTasks.h"

#include <algorithm>
#include <limits>
#include <map>

namespace Orbitane::LabelMap {
namespace {
// Integer sums keep the merge exact, so the centroid does not depend on how the volume was split.
struct Accumulator
{
	std::int64_t count = 0;
	std::int64_t sum[3] = {0, 0, 0};
	int lo[3] = {std::numeric_limits<int>::max(), std::numeric_limits<int>::max(), std::numeric_limits<int>::max()};
	int hi[3] = {std::numeric_limits<int>::min(), std::numeric_limits<int>::min(), std::numeric_limits<int>::min()};

	// Voxels x0 .. x1-1 of row (y, z).
	void addRun(int x0, int x1, int y, int z)
	{
		const std::int64_t n = x1 - x0;
		count += n;
		sum[0] += n * x0 + n * (n - 1) / 2;
		sum[1] += n * y;
		sum[2] += n * z;
		lo[0] = std::min(lo[0], x0);
		hi[0] = std::max(hi[0], x1 - 1);
		lo[1] = std::min(lo[1], y);
		hi[1] = std::max(hi[1], y);
		lo[2] = std::min(lo[2], z);
		hi[2] = std::max(hi[2], z);
	}

	void merge(const Accumulator& other)
	{
		count += other.count;
		for (int a = 0; a < 3; ++a)
		{
			sum[a] += other.sum[a];
			lo[a] = std::min(lo[a], other.lo[a]);
			hi[a] = std::max(hi[a], other.hi[a]);
		}
	}
};

template <LabelVoxel T>
struct ChunkResult
{
	LabelIndexer<T> indexer;
	std::vector<Accumulator> accumulators;
};

// End of the run of `value` that starts at x. Blocks are compared whole first because label
// images consist mostly of long runs; the fixed-size inner loop vectorises.
template <LabelVoxel T>
int runEnd(const T* row, int x, int nx, T value)
{
	constexpr int block = 32 / static_cast<int>(sizeof(T));
	while (x + block <= nx)
	{
		bool differs = false;
		for (int k = 0; k < block; ++k)
			differs |= row[x + k] != value;
		if (differs)
			break;
		x += block;
	}
	while (x < nx && row[x] == value)
		++x;
	return x;
}

template <LabelVoxel T>
void scanRows(const LabelVolumeView<T>& volume, std::size_t rowBegin, std::size_t rowEnd, ChunkResult<T>& out)
{
	T cachedLabel = 0;
	Accumulator* cached = nullptr;
	for (std::size_t r = rowBegin; r < rowEnd; ++r)
	{
		const int y = static_cast<int>(r % static_cast<std::size_t>(volume.ny));
		const int z = static_cast<int>(r / static_cast<std::size_t>(volume.ny));
		const T* row = volume.row(y, z);
		for (int x = 0; x < volume.nx;)
		{
			const T value = row[x];
			const int end = runEnd(row, x + 1, volume.nx, value);
			if (value != 0)
			{
				if (cached == nullptr || value != cachedLabel)
				{
					const auto index = static_cast<std::size_t>(out.indexer.indexOf(value));
					if (index >= out.accumulators.size())
						out.accumulators.resize(index + 1);
					cached = &out.accumulators[index];
					cachedLabel = value;
				}
				cached->addRun(x, end, y, z);
			}
			x = end;
		}
	}
}

LabelStatistics finish(std::int64_t label, const Accumulator& acc)
{
	LabelStatistics s;
	s.label = label;
	s.voxelCount = acc.count;
	const double n = static_cast<double>(acc.count);
	s.centroid = Eigen::Vector3d(static_cast<double>(acc.sum[0]) / n, static_cast<double>(acc.sum[1]) / n,
	                             static_cast<double>(acc.sum[2]) / n);
	s.boxMin = Eigen::Vector3i(acc.lo[0], acc.lo[1], acc.lo[2]);
	s.boxMax = Eigen::Vector3i(acc.hi[0], acc.hi[1], acc.hi[2]);
	return s;
}
}

template <LabelVoxel T>
std::vector<LabelStatistics> computeLabelStatistics(const LabelVolumeView<T>& volume, int threads)
{
	validateVolume(volume);
	const std::size_t rows = static_cast<std::size_t>(volume.ny) * static_cast<std::size_t>(volume.nz);
	const int threadCount = resolveThreadCount(threads);
	const std::size_t chunks = chunkCountFor(rows, threadCount);
	std::vector<ChunkResult<T>> results(chunks);
	runTasks(chunks, threadCount, [&](std::size_t c, int) {
		const ChunkRange range = chunkRange(rows, chunks, c);
		scanRows(volume, range.begin, range.end, results[c]);
	});

	std::map<std::int64_t, Accumulator> merged;
	for (const ChunkResult<T>& result : results)
		for (std::size_t i = 0; i < result.accumulators.size(); ++i)
			merged[static_cast<std::int64_t>(result.indexer.labels()[i])].merge(result.accumulators[i]);

	std::vector<LabelStatistics> statistics;
	statistics.reserve(merged.size());
	for (const auto& [label, acc] : merged)
		statistics.push_back(finish(label, acc));
	return statistics;
}

std::vector<LabelStatistics> computeLabelStatistics(const LabelVolumeRef& volume, int threads)
{
	return visitLabelVolume(volume, [threads](const auto& view) { return computeLabelStatistics(view, threads); });
}

template std::vector<LabelStatistics> computeLabelStatistics(const LabelVolumeView<std::uint8_t>&, int);
template std::vector<LabelStatistics> computeLabelStatistics(const LabelVolumeView<std::int8_t>&, int);
template std::vector<LabelStatistics> computeLabelStatistics(const LabelVolumeView<std::uint16_t>&, int);
template std::vector<LabelStatistics> computeLabelStatistics(const LabelVolumeView<std::int16_t>&, int);
template std::vector<LabelStatistics> computeLabelStatistics(const LabelVolumeView<std::uint32_t>&, int);
template std::vector<LabelStatistics> computeLabelStatistics(const LabelVolumeView<std::int32_t>&, int);
}
