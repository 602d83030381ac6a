#include "data/DeferredCopies.h"

#include <exception>
#include <unordered_map>
#include <utility>
#include <vector>

namespace Orbitane {

namespace {

struct Pending
{
	const void* copy;
	DeferredCopies::Finisher finisher;
};

struct ThreadState
{
	int depth = 0;
	std::vector<Pending> pending;
	std::unordered_map<const void*, std::size_t> indexOf;
	/// The copies being finished, innermost last; an entry is cleared when its copy dies meanwhile.
	std::vector<const void*> running;
};

thread_local ThreadState t_state;

// One deferred copy, taken off the list before its finisher runs, since the finisher's foreign
// code may defer, cancel and finish other copies.
void finishOne(ThreadState& s, Pending p)
{
	s.indexOf.erase(p.copy);
	s.running.push_back(p.copy);
	const std::size_t slot = s.running.size() - 1;
	struct Pop
	{
		ThreadState& s;
		~Pop() { s.running.pop_back(); }
	} pop{s};
	std::function<void()> complete = p.finisher();
	if (s.running[slot])
		complete();
}

}

DeferredCopies::DeferredCopies() : m_start(t_state.pending.size()) { ++t_state.depth; }

DeferredCopies::~DeferredCopies()
{
	if (!m_finished)
		try
		{
			finish();
		}
		catch (...)
		{}
	--t_state.depth;
}

void DeferredCopies::finish()
{
	m_finished = true;
	ThreadState& s = t_state;
	std::exception_ptr first;
	while (s.pending.size() > m_start)
	{
		Pending p = std::move(s.pending.back());
		s.pending.pop_back();
		if (!p.copy)
			continue;
		try
		{
			finishOne(s, std::move(p));
		}
		catch (...)
		{
			if (!first)
				first = std::current_exception();
		}
	}
	if (first)
		std::rethrow_exception(first);
}

bool DeferredCopies::active() { return t_state.depth > 0; }

void DeferredCopies::defer(const void* copy, Finisher finisher)
{
	ThreadState& s = t_state;
	s.indexOf[copy] = s.pending.size();
	s.pending.push_back({copy, std::move(finisher)});
}

void DeferredCopies::cancel(const void* copy)
{
	ThreadState& s = t_state;
	if (auto it = s.indexOf.find(copy); it != s.indexOf.end())
	{
		Pending& p = s.pending[it->second];
		p.copy = nullptr;
		p.finisher = nullptr;
		s.indexOf.erase(it);
	}
	for (const void*& running : s.running)
		if (running == copy)
			running = nullptr;
}

}
