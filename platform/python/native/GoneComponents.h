#pragma once

#include "InstanceInternals.h"

#include "data/DataComponent.h"

#include <pybind11/pybind11.h>

#include <memory>
#include <new>
#include <string>
#include <typeinfo>

namespace Orbitane::Python {

// Components inside a list are the one kind of native object whose Python objects both modules
// make (list access, the display-options accessor) and whose members both bind (id, configuration
// and configure on the base, which reach a component through virtual calls). Such an object cannot
// be asked per call whether its target lives. Once a component ends, its Python objects are
// pointed at a stand-in of its class that never dies: the stand-in's virtual members raise, and
// the members of the class check for it through existing().

/// The ReferenceError's text for a component of class T that is gone; set by
/// pointViewsAtStandInWhenComponentsEnd.
template <typename T>
std::string& goneComponentMessage()
{
	static std::string message;
	return message;
}

template <typename T>
[[noreturn]] void raiseGoneComponent()
{
	PyErr_SetString(PyExc_ReferenceError, goneComponentMessage<T>().c_str());
	throw py::error_already_set();
}

/// What the Python objects of a component of class T point at once it is gone.
template <typename T>
class __attribute__((visibility("hidden"))) GoneComponent final : public T
{
public:
	void configure(const Properties*) override { raiseGoneComponent<T>(); }
	void configuration(Properties*) const override { raiseGoneComponent<T>(); }
	std::string id() const override { raiseGoneComponent<T>(); }
	std::unique_ptr<DataComponentBase> clone() const override { raiseGoneComponent<T>(); }
	bool assign(const DataComponentBase&) override { raiseGoneComponent<T>(); }
	bool equals(const DataComponentBase&) const override { raiseGoneComponent<T>(); }

	/// Built on first use and never destroyed: Python objects may still point at it while the
	/// interpreter shuts down.
	static GoneComponent& standIn()
	{
		alignas(GoneComponent) static unsigned char storage[sizeof(GoneComponent)];
		static GoneComponent* gone = ::new (static_cast<void*>(storage)) GoneComponent();
		return *gone;
	}

private:
	GoneComponent() = default;
};

/// component itself; raises ReferenceError for the stand-in of a component that is gone.
template <typename T>
T& existing(T& component)
{
	if (&component == &GoneComponent<T>::standIn())
		raiseGoneComponent<T>();
	return component;
}
template <typename T>
const T& existing(const T& component)
{
	return existing(const_cast<T&>(component));
}

namespace GoneComponentsDetail {

template <typename T>
void pointViewsAtStandIn(const DataComponentBase& component)
{
	// Components may end during shutdown, or on a thread without the interpreter lock.
	if (!Py_IsInitialized() || Py_IsFinalizing())
		return;
	try
	{
		py::gil_scoped_acquire gil;
		// Every component class derives from the base first, so a T and its base part share one
		// address. Only objects bound as exactly T are switched: those of other classes have
		// stand-ins of their own.
		pointViewsElsewhere(&component, typeid(T), static_cast<T*>(&GoneComponent<T>::standIn()));
	}
	catch (...)
	{
		// a destructor is running: losing the switch is better than terminating
	}
}

}

/// Points the Python objects bound as class T of every component that ends at T's stand-in, whose
/// members raise ReferenceError ("This <name> no longer exists: ..."). Once per module and class;
/// later calls do nothing.
template <typename T>
void pointViewsAtStandInWhenComponentsEnd(const std::string& name)
{
	static const bool connected = [&name] {
		goneComponentMessage<T>() = "This " + name +
		                            " no longer exists: it was removed from its DataComponentList, or the data "
		                            "object that held the list was deleted.";
		DataComponentBase::anyDestroyed().connect(&GoneComponentsDetail::pointViewsAtStandIn<T>);
		return true;
	}();
	(void)connected;
}

}
