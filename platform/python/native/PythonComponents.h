#pragma once

#include "PythonReference.h"

#include "data/DataComponent.h"

#include <pybind11/pybind11.h>

#include <memory>
#include <string>

// Data components whose classes are defined in Python. The Python object is the component; a
// list holds it through a PythonComponent, which keeps it alive and forwards the native
// operations to it.
namespace Orbitane::Python {

namespace py = pybind11;

/// Native part of an instance of a Python subclass of DataComponentBase.
class __attribute__((visibility("hidden"))) DataComponentTrampoline : public DataComponentBase
{
public:
	/// The Python class name, unless the class defines its own `id`.
	std::string id() const override;
	std::unique_ptr<DataComponentBase> clone() const override;
	bool assign(const DataComponentBase& other) override;
	bool equals(const DataComponentBase& other) const override;

private:
	py::object self() const;
};

/// What a component list holds for a component defined in Python.
class __attribute__((visibility("hidden"))) PythonComponent : public DataComponentBase
{
public:
	explicit PythonComponent(py::object component)
	    : m_component(std::make_shared<PythonReference>(std::move(component)))
	{}
	~PythonComponent() override;

	/// A deep copy of a Python-defined component. Inside a DeferredCopies scope the copy holds the
	/// source object itself until the scope ends, and its deep copy from then on, so that no
	/// Python code runs while native code copies the data object the component belongs to.
	static std::unique_ptr<PythonComponent> copyOf(py::handle source);

	/// The component itself; use only while holding the interpreter lock.
	const py::object& object() const { return m_component->get(); }

	std::string id() const override;
	/// Holds a deep copy of the Python object (see copyOf).
	std::unique_ptr<DataComponentBase> clone() const override;
	/// Calls the class's `assign(other)` if it has one, else takes over other's attributes.
	bool assign(const DataComponentBase& other) override;
	/// Python equality of the two objects.
	bool equals(const DataComponentBase& other) const override;
	/// Forwarded to the class's own `configure(properties)` / `configuration()`, if it has them.
	void configure(const Properties* p) override;
	void configuration(Properties* p) const override;

private:
	std::shared_ptr<PythonReference> m_component;
	/// Whether m_component is still the source's object, until the deferred deep copy replaces it.
	bool m_deferred = false;
};

/// Whether a Python object is an instance of a Python-defined component class.
bool isPythonDefinedComponent(py::handle object);

/// An argument that only instances of Python-defined component classes convert to
/// (InstanceInternals.h).
struct __attribute__((visibility("hidden"))) PythonDefinedComponentArg
{
	py::object object;
};

/// The `id` of a Python-defined component (a class attribute, property or method).
std::string pythonComponentId(py::handle component);

/// copy.deepcopy for components: native ones clone natively; Python-defined ones get a new
/// instance of their class, initialised natively, with deep copies of their attributes.
py::object deepCopyComponent(py::handle component, py::handle memo);

/// Takes over the state of source (same rule as PythonComponent::assign).
void assignPythonComponent(py::handle target, py::handle source);

}
