#include "core/Log.h"

#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace Orbitane::Log {

int g_globalLevel = Notice;

namespace {

struct State
{
	std::mutex mutex;
	std::map<std::string, int> categoryLevels;
	std::vector<std::pair<int, Sink>> sinks;
	int lastHandle = 0;
};

State& state()
{
	static State s;
	return s;
}

}

bool isAccepted(int level, const std::string& category)
{
	if (level < g_globalLevel)
		return false;
	State& s = state();
	std::lock_guard lock(s.mutex);
	// the longest matching prefix decides
	int required = -1;
	std::size_t matched = 0;
	for (const auto& [prefix, minLevel] : s.categoryLevels)
		if (category.starts_with(prefix) && prefix.size() >= matched)
		{
			matched = prefix.size();
			required = minLevel;
		}
	return level >= required;
}

void log(int level, const std::string& category, const std::string& message, const char* file, int line)
{
	Record record{level, category, message, file ? file : "", line};
	std::vector<Sink> sinks;
	{
		State& s = state();
		std::lock_guard lock(s.mutex);
		for (const auto& entry : s.sinks)
			sinks.push_back(entry.second);
	}
	for (const Sink& sink : sinks)
		sink(record);
}

void setCategoryLevel(const std::string& prefix, int minLevel)
{
	State& s = state();
	std::lock_guard lock(s.mutex);
	if (minLevel < 0)
		s.categoryLevels.erase(prefix);
	else
		s.categoryLevels[prefix] = minLevel;
}

int addSink(Sink sink)
{
	State& s = state();
	std::lock_guard lock(s.mutex);
	s.sinks.emplace_back(++s.lastHandle, std::move(sink));
	return s.lastHandle;
}

void removeSink(int handle)
{
	State& s = state();
	std::lock_guard lock(s.mutex);
	std::erase_if(s.sinks, [handle](const auto& e) { return e.first == handle; });
}

}
