#pragma once

#include "PythonReference.h"
#include "PythonSlots.h"

#include "core/Signal.h"

#include <pybind11/pybind11.h>

#include <functional>
#include <memory>

namespace Orbitane::Python {

namespace py = pybind11;

/// Python face of one native signal (orbitane.Signal). It refers to the signal without owning it;
/// the binding that hands it out keeps the signal's owner alive.
class __attribute__((visibility("hidden"))) SignalHandle
{
public:
	template <typename... Args, typename ToPython>
	static SignalHandle of(Signal<Args...>& signal, ToPython toPython)
	{
		SignalHandle h;
		h.m_connect = [&signal, toPython](py::function f) {
			auto slot = std::make_shared<PythonReference>(std::move(f));
			PythonSlots::add(&signal, slot);
			return signal.connect([slot, toPython](Args... args) {
				py::gil_scoped_acquire gil;
				// the garbage collector may have dropped the callable to break a cycle
				if (slot->get())
					slot->get()(toPython(args)...);
			});
		};
		h.m_disconnect = [&signal](int id) { return signal.disconnect(id); };
		h.m_count = [&signal] { return signal.numConnections(); };
		return h;
	}
	/// For signals whose arguments convert to Python as they are.
	template <typename... Args>
	static SignalHandle of(Signal<Args...>& signal)
	{
		return of(signal, [](const auto& v) { return v; });
	}

	int connect(py::function f) const { return m_connect(std::move(f)); }
	bool disconnect(int id) const { return m_disconnect(id); }
	std::size_t numConnections() const { return m_count(); }

private:
	std::function<int(py::function)> m_connect;
	std::function<bool(int)> m_disconnect;
	std::function<std::size_t()> m_count;
};

}
