#include "core/ParallelTasks.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace Orbitane {
int resolveThreadCount(int threads)
{
	if (threads > 0)
		return threads;
	return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

std::size_t chunkCountFor(std::size_t items, int threads)
{
	constexpr std::size_t chunksPerThread = 4;
	const std::size_t wanted = threads > 1 ? static_cast<std::size_t>(threads) * chunksPerThread : 1;
	return std::max<std::size_t>(1, std::min(items, wanted));
}

ChunkRange chunkRange(std::size_t items, std::size_t chunks, std::size_t chunk)
{
	return {items * chunk / chunks, items * (chunk + 1) / chunks};
}

int workerCount(std::size_t count, int threads)
{
	return static_cast<int>(
	    std::max<std::size_t>(1, std::min<std::size_t>(count, static_cast<std::size_t>(resolveThreadCount(threads)))));
}

void runTasks(std::size_t count, int threads, const std::function<void(std::size_t, int)>& task)
{
	const int workers = workerCount(count, threads);
	if (workers <= 1)
	{
		for (std::size_t i = 0; i < count; ++i)
			task(i, 0);
		return;
	}

	std::atomic<std::size_t> next{0};
	std::atomic<bool> failed{false};
	std::exception_ptr firstError;
	std::mutex errorMutex;
	auto work = [&](int worker) {
		for (std::size_t i = next++; i < count && !failed; i = next++)
		{
			try
			{
				task(i, worker);
			}
			catch (...)
			{
				std::lock_guard lock(errorMutex);
				if (!firstError)
					firstError = std::current_exception();
				failed = true;
			}
		}
	};

	std::vector<std::jthread> pool;
	pool.reserve(static_cast<std::size_t>(workers) - 1);
	for (int t = 1; t < workers; ++t)
		pool.emplace_back(work, t);
	work(0);
	pool.clear();    // joins
	if (firstError)
		std::rethrow_exception(firstError);
}

std::vector<std::size_t> largestFirst(const std::vector<std::size_t>& costs)
{
	std::vector<std::size_t> order(costs.size());
	for (std::size_t i = 0; i < order.size(); ++i)
		order[i] = i;
	std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return costs[a] > costs[b]; });
	return order;
}
}
