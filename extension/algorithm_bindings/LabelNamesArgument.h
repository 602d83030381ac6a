#pragma once

#include "support/DictCopy.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <map>
#include <string>
#include <utility>

namespace Orbitane::Bindings {

/// The names given to generic_asc_from_label_map, by label value.
struct LabelNames
{
	std::map<int, std::string> byValue;
};

}

namespace pybind11::detail {

/// Converts like the binding library's own map conversion, with the same signature text, but
/// reads a dict through a private copy: converting a key may run Python code (its __index__)
/// that changes the caller's dict, while the library's conversion walks the live dict through
/// borrowed references that such a change frees.
template <>
struct type_caster<Orbitane::Bindings::LabelNames>
{
	using Map = std::map<int, std::string>;
	PYBIND11_TYPE_CASTER(Orbitane::Bindings::LabelNames, make_caster<Map>::name);

	bool load(handle source, bool convert)
	{
		object readable = PyDict_Check(source.ptr()) ? Orbitane::Bindings::copyOfDict(source)
		                                             : reinterpret_borrow<object>(source);
		make_caster<Map> names;
		if (!names.load(readable, convert))
			return false;
		value.byValue = cast_op<Map&&>(std::move(names));
		return true;
	}

	static handle cast(const Orbitane::Bindings::LabelNames& names, return_value_policy policy, handle parent)
	{
		return make_caster<Map>::cast(names.byValue, policy, parent);
	}
};

}
