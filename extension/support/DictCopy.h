#pragma once

#include <pybind11/pybind11.h>

namespace Orbitane::Bindings {

/// A shallow copy of a dict, to iterate while converting its items: a conversion may run Python
/// code (an element's __array__, a key's __index__) that changes or empties the caller's dict,
/// which would free the keys and values that a live iteration refers to.
inline pybind11::dict copyOfDict(pybind11::handle dict)
{
	auto copy = pybind11::reinterpret_steal<pybind11::dict>(PyDict_Copy(dict.ptr()));
	if (!copy)
		throw pybind11::error_already_set();
	return copy;
}

}
