#pragma once

#include "InstanceInternals.h"
#include "PythonReference.h"

#include <pybind11/pybind11.h>

#include <memory>
#include <vector>

namespace Orbitane::Python {

/// The Python callables connected to native signals, by signal. A Python object that alone owns
/// the native object of those signals owns the callables too, and the garbage collector must see
/// them: a slot that refers back to the object's own Python object is a cycle it can then collect.
/// Needs the interpreter lock throughout.
namespace PythonSlots {

void add(const void* signal, const std::shared_ptr<PythonReference>& slot);
/// Calls visit on each callable still connected to the signal; stops at the first non-zero result.
int visit(const void* signal, visitproc visit, void* arg);
/// Drops the callables connected to the signal; their slots do nothing from then on.
void clear(const void* signal);

}

/// For py::custom_type_setup of a class bound for T with holder Holder, whose native objects own
/// the signals that signalsOf lists: the class's Python objects report the callables connected to
/// them to the garbage collector, and drop them when they are found in unreachable cycles.
template <typename T, typename Holder, std::vector<const void*> (*signalsOf)(const T&)>
void collectCyclesThroughSlots(PyHeapTypeObject* heapType)
{
	PyTypeObject* type = &heapType->ht_type;
	type->tp_flags |= Py_TPFLAGS_HAVE_GC;
	type->tp_traverse = [](PyObject* self, visitproc visit, void* arg) -> int {
		Py_VISIT(Py_TYPE(self));
		if (!ownsAlone<Holder>(self))
			return 0;
		for (const void* signal : signalsOf(py::handle(self).cast<const T&>()))
			if (int failed = PythonSlots::visit(signal, visit, arg))
				return failed;
		return 0;
	};
	type->tp_clear = [](PyObject* self) -> int {
		if (ownsAlone<Holder>(self))
			for (const void* signal : signalsOf(py::handle(self).cast<const T&>()))
				PythonSlots::clear(signal);
		return 0;
	};
}

}
