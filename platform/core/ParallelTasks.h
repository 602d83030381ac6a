#pragma once

// Minimal fork-join helper for the passes over label maps, meshes and shapes. Work is cut into more
// chunks than threads so that slabs with many labels do not leave the other threads idle; callers
// keep one result per chunk and merge them in chunk order, which makes every result independent of
// the thread count.

#include <cstddef>
#include <functional>
#include <vector>

namespace Orbitane {
// 0 means "all hardware threads"; the result is at least 1.
int resolveThreadCount(int threads);

// Number of chunks to cut `items` items into for `threads` threads (at least 1, at most items).
std::size_t chunkCountFor(std::size_t items, int threads);

// Half-open item range of chunk `chunk` out of `chunks` over `items` items.
struct ChunkRange
{
	std::size_t begin;
	std::size_t end;
};
ChunkRange chunkRange(std::size_t items, std::size_t chunks, std::size_t chunk);

// Runs task(i, worker) for every i in [0, count) on up to `threads` threads, each index exactly
// once; worker (0 .. threads-1) tells which thread runs it, so that tasks can reuse per-thread
// scratch memory. The first exception thrown by a task is rethrown on the calling thread after
// all threads have joined.
void runTasks(std::size_t count, int threads, const std::function<void(std::size_t, int)>& task);

// How many workers runTasks will use for `count` tasks.
int workerCount(std::size_t count, int threads);

// The indices of `costs`, the largest first (equal costs in index order). Handing tasks out in this
// order keeps one large task, taken last, from running alone while the other threads are idle.
std::vector<std::size_t> largestFirst(const std::vector<std::size_t>& costs);
}
