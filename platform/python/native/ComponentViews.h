#pragma once

#include "InstanceInternals.h"
#include "View.h"

#include "core/LifeToken.h"
#include "data/DataComponent.h"

#include <pybind11/pybind11.h>

#include <string>
#include <unordered_map>
#include <utility>

namespace Orbitane::Python {

// Components inside a list are the one kind of native object whose Python objects both modules
// make (list access, the display-options accessor) and whose members both bind (id, configuration
// and configure on the base, the subclasses' own members in the module of each). A component's
// Python object does not own it, so it keeps a watch of the component's life, in a table that both
// modules reach through the binding library's shared data; every bound member takes its component
// as a ComponentView, which checks that watch before each access.

/// How a component's Python object that outlived its component raises: ReferenceError, naming
/// the object's class.
struct __attribute__((visibility("hidden"))) ComponentGone
{
	py::handle cls;

	[[noreturn]] void raise() const;

	/// The view of native, the component of the Python object object, with the watch the object
	/// keeps; an object that keeps none owns its component (Python made it).
	template <typename T>
	static View<T, ComponentGone> viewOf(py::handle object, T& native);
};

/// What every bound member of a component class takes instead of the component itself.
template <typename T>
using ComponentView = View<T, ComponentGone>;

/// The view of a component's Python object, for code that is given the object itself.
template <typename T>
ComponentView<T> componentView(py::handle object)
{
	return ComponentGone::viewOf(object, object.cast<T&>());
}

namespace ComponentViewsDetail {

/// The life each Python object of a component inside a list watches, by object. Only the
/// interpreter's thread, holding its lock, reads or changes it.
using Watches = std::unordered_map<const PyObject*, LifeToken::Watch>;

inline Watches& watches()
{
	static Watches& table = py::get_or_create_shared_data<Watches>("orbitane.component_views");
	return table;
}

/// Records the life object watches; the entry goes with the object, whose address a later object
/// may take.
inline void watch(py::handle object, LifeToken::Watch life)
{
	const PyObject* key = object.ptr();
	if (!watches().insert_or_assign(key, std::move(life)).second)
		return;
	try
	{
		py::weakref(object, py::cpp_function([key](py::handle weak) {
			            watches().erase(key);
			            weak.dec_ref();
		            }))
		    .release();
	}
	catch (...)
	{
		watches().erase(key);
		throw;
	}
}

inline void forgetObjectsOf(const DataComponentBase& component)
{
	// Components may end during shutdown, or on a thread without the interpreter lock.
	if (!Py_IsInitialized() || Py_IsFinalizing())
		return;
	try
	{
		py::gil_scoped_acquire gil;
		// a component may end while an exception of the caller's is on its way to Python
		py::error_scope pending;
		auto* base = reinterpret_cast<PyTypeObject*>(py::type::of<DataComponentBase>().ptr());
		// Objects that others made (py::cast by reference) watch nothing yet; from now on they
		// watch a life that has ended.
		for (py::handle object : forgetUnownedObjects(&component, base))
			if (!watches().contains(object.ptr()))
				watch(object, LifeToken::Watch());
	}
	catch (...)
	{
		// a destructor is running: losing the forgetting is better than terminating
	}
}

}

template <typename T>
View<T, ComponentGone> ComponentGone::viewOf(py::handle object, T& native)
{
	const auto& table = ComponentViewsDetail::watches();
	auto recorded = table.find(object.ptr());
	LifeToken::Watch life = recorded != table.end() ? recorded->second : native.lifeWatch();
	return View<T, ComponentGone>(native, std::move(life), ComponentGone{py::type::handle_of(object)});
}

inline void ComponentGone::raise() const
{
	const std::string name = cls.attr("__name__").cast<std::string>();
	const std::string message = "This " + name +
	                            " no longer exists: it was removed from its DataComponentList, or the data "
	                            "object that held the list was deleted.";
	PyErr_SetString(PyExc_ReferenceError, message.c_str());
	throw py::error_already_set();
}

/// The Python object of a native component inside a list: the one it has, or a new one that
/// watches its life. keptAlive (the list's Python object, or nothing) lives at least as long as a
/// new object.
inline py::object listedComponent(DataComponentBase& component, py::handle keptAlive)
{
	py::object object = keptAlive ? py::cast(&component, py::return_value_policy::reference_internal, keptAlive)
	                              : py::cast(&component, py::return_value_policy::reference);
	ComponentViewsDetail::watch(object, component.lifeWatch());
	return object;
}

/// What a bound function returns for a native component inside a list (null: None); signatures
/// show T.
template <typename T>
struct ListedComponent
{
	T* component;

	py::object toPython(py::handle keptAlive) const
	{
		return component ? listedComponent(*component, keptAlive) : py::object(py::none());
	}
};

/// Once its component ends, the binding library forgets a component's Python objects, so that a
/// later component at that address gets its own; objects that others made watch an ended life
/// from then on. Once per process (the parent package); later calls do nothing.
inline void forgetObjectsWhenComponentsEnd()
{
	static const bool connected = [] {
		DataComponentBase::anyDestroyed().connect(&ComponentViewsDetail::forgetObjectsOf);
		return true;
	}();
	(void)connected;
}

}
