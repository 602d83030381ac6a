#pragma once

#include <pybind11/pybind11.h>

namespace Orbitane::Python {

namespace py = pybind11;

/// A Python object kept by native code. Whoever drops it may not hold the interpreter lock, so the
/// release takes it; once the interpreter is gone the reference is leaked instead.
class __attribute__((visibility("hidden"))) PythonReference
{
public:
	explicit PythonReference(py::object object) : m_object(std::move(object)) {}
	PythonReference(const PythonReference&) = delete;
	PythonReference& operator=(const PythonReference&) = delete;
	~PythonReference();

	/// Use only while holding the interpreter lock. Null once cleared.
	const py::object& get() const { return m_object; }
	/// Drops the object early, for the garbage collector breaking a cycle through it. Needs the
	/// interpreter lock.
	void clear() { m_object = py::object(); }

private:
	py::object m_object;
};

}
