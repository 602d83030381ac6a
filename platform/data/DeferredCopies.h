#pragma once

#include <functional>
#include <type_traits>

namespace Orbitane {

/// Components defined in another language (Python) run that language's code when they are
/// copied, and that code may free what native code is copying from at that moment (the mesh, its
/// structure, the collection). While a DeferredCopies scope lives on a thread, such components
/// copy only a reference to their source and defer the rest of the copy to the scope's end, when
/// the native copy is finished and owns everything it needs. Bindings open a scope around every
/// call that copies data objects.
class DeferredCopies
{
public:
	/// The deferred part of a copy: it may run foreign code and returns what completes the copy,
	/// which is called only if the copy still exists by then.
	using Finisher = std::function<std::function<void()>()>;

	DeferredCopies();
	/// Finishes what finish() did not, ignoring errors (the scope is left by an exception).
	~DeferredCopies();
	DeferredCopies(const DeferredCopies&) = delete;
	DeferredCopies& operator=(const DeferredCopies&) = delete;

	/// Finishes the copies deferred since the scope began, including those that finishing
	/// defers in turn; the first error is thrown once all are finished.
	void finish();

	/// Whether a copy made now on this thread should be deferred.
	static bool active();
	/// Defers the rest of `copy`'s copy to the innermost scope's end.
	static void defer(const void* copy, Finisher finisher);
	/// `copy` is being destroyed: its deferred part is dropped, and not completed if running.
	static void cancel(const void* copy);

private:
	std::size_t m_start;
	bool m_finished = false;
};

/// Calls f inside a DeferredCopies scope and finishes the deferred copies before returning.
template <typename F>
auto withDeferredCopies(F&& f)
{
	DeferredCopies copies;
	if constexpr (std::is_void_v<std::invoke_result_t<F>>)
	{
		f();
		copies.finish();
	}
	else
	{
		auto result = f();
		copies.finish();
		return result;
	}
}

}
