#pragma once

// Everything of the parent package that reaches into the binding library's internals
// (pybind11::detail), in this one header, which the extension includes too:
// - refusing members of an object that Python made without running __init__: the library then
//   hands the members freshly allocated, unconstructed storage, and it has no public switch for that;
// - forgetting the Python objects of a native object that is gone while others still hold them: the
//   library has no public way to find the Python objects of a native address, nor to make one forget
//   its address, and it would hand such an object out again for a later native object there;
// - telling the garbage collector what an object owns: whether a Python object is the only owner of
//   its native object is known only to its holder;
// - conversions of our own, which the library's design makes specialisations of
//   pybind11::detail::type_caster: views as arguments (View.h), components handed out by their list
//   (ComponentViews.h), and an argument that only components defined in Python convert to. Each
//   shows the native class in signatures, as the library's own conversion of that class would.

#include "PythonComponents.h"
#include "View.h"

#include <pybind11/pybind11.h>

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace Orbitane::Python {

namespace py = pybind11;

namespace InstanceInternals {

/// Classes whose members refuse uninitialised objects, each with an allocation hook of its own so
/// that the refusal can name the class. More classes than this are refused under a generic name.
inline constexpr std::size_t guardedClassCapacity = 256;
inline std::array<PyTypeObject*, guardedClassCapacity> guardedClasses{};
inline std::size_t guardedClassCount = 0;

[[noreturn]] inline void refuseUninitialised(PyTypeObject* cls)
{
	std::string name = "object";
	if (cls)
		name = py::handle(reinterpret_cast<PyObject*>(cls)).attr("__qualname__").cast<std::string>();
	throw py::type_error(name + " object is not initialised: it was made by __new__() without __init__()");
}

template <std::size_t I>
void* refuseAllocation(std::size_t)
{
	refuseUninitialised(guardedClasses[I]);
}

inline void* refuseAllocationUnnamed(std::size_t) { refuseUninitialised(nullptr); }

template <std::size_t... I>
constexpr std::array<void* (*)(std::size_t), sizeof...(I)> allocationHooks(std::index_sequence<I...>)
{
	return {&refuseAllocation<I>...};
}

}

/// Makes every class bound so far refuse, with a TypeError naming it, to run a member on an object
/// whose __init__ never ran (Class.__new__(Class)). The class named is the one whose member was
/// called, which for an inherited member is the base that binds it. The binding library allocates an object's native
/// storage only on construction, or else lazily, unconstructed, through this hook at the first member
/// call; construction and unpickling never reach it. Each module calls it once its classes are
/// bound; classes guarded before are left as they are.
__attribute__((visibility("hidden"))) inline void refuseMembersOfUninitialisedObjects()
{
	using namespace InstanceInternals;
	static constexpr auto hooks = allocationHooks(std::make_index_sequence<guardedClassCapacity>());
	py::detail::with_internals([](py::detail::internals& internals) {
		for (auto& [cpptype, record] : internals.registered_types_cpp)
		{
			(void)cpptype;
			if (record->operator_new)
				continue;
			if (guardedClassCount == guardedClassCapacity)
			{
				record->operator_new = &refuseAllocationUnnamed;
				continue;
			}
			guardedClasses[guardedClassCount] = record->type;
			record->operator_new = hooks[guardedClassCount++];
		}
	});
}

/// Makes the binding library forget every Python object of class cls (or a subclass) that refers to
/// target without owning it, so that a later native object at that address gets Python objects of its
/// own, and gives those objects. Their native pointer is left as it is: they must not be used to reach
/// target any more. Needs the interpreter lock.
__attribute__((visibility("hidden"))) inline std::vector<py::handle> forgetUnownedObjects(const void* target,
                                                                                          PyTypeObject* cls)
{
	std::vector<py::detail::instance*> found;
	py::detail::with_instance_map(target, [&](py::detail::instance_map& instances) {
		auto [first, last] = instances.equal_range(target);
		for (auto it = first; it != last; ++it)
			found.push_back(it->second);
	});
	std::vector<py::handle> forgotten;
	for (py::detail::instance* object : found)
	{
		// owned objects die together with their target and need nothing
		if (object->owned || !PyType_IsSubtype(Py_TYPE(object), cls))
			continue;
		for (const py::detail::type_info* tinfo : py::detail::all_type_info(Py_TYPE(object)))
		{
			py::detail::value_and_holder vh = object->get_value_and_holder(tinfo, false);
			// (an object without a part of this class has no value and holder of it, not even storage to test)
			if (!vh.inst || !vh || vh.value_ptr() != target || vh.holder_constructed() || !vh.instance_registered())
				continue;
			py::detail::deregister_instance(object, vh.value_ptr(), tinfo);
			vh.set_instance_registered(false);
			forgotten.push_back(reinterpret_cast<PyObject*>(object));
		}
	}
	return forgotten;
}

/// Whether the Python object self, of a class bound with holder type `Holder` or of a subclass,
/// owns its native object and nobody else does: only then is what the native object holds
/// reachable through self alone, for the garbage collector to see. Subclasses' holders are read as
/// Holder, as the binding library itself does when it converts them to their base's holder.
template <typename Holder>
__attribute__((visibility("hidden"))) bool ownsAlone(PyObject* self)
{
	auto* instance = reinterpret_cast<py::detail::instance*>(self);
	py::detail::value_and_holder vh = instance->get_value_and_holder();
	if (!vh || !vh.value_ptr() || !vh.holder_constructed())
		return false;
	if constexpr (requires(const Holder& h) { h.use_count(); })
		return vh.template holder<Holder>().use_count() == 1;
	else
		return instance->owned;
}

template <typename T>
struct ListedComponent;

}

namespace pybind11::detail {

/// A View argument: loaded as T would be, then watched as its Gone says (View.h).
template <typename T, typename Gone>
class type_caster<Orbitane::Python::View<T, Gone>>
{
	using Native = std::remove_const_t<T>;
	using Value = Orbitane::Python::View<T, Gone>;

public:
	static constexpr auto name = make_caster<Native>::name;

	bool load(handle source, bool convert)
	{
		make_caster<Native> native;
		// A None would load as a null pointer: there is nothing to view.
		if (!native.load(source, convert) || !native.value)
			return false;
		m_value.emplace(Gone::viewOf(source, *static_cast<T*>(native.value)));
		return true;
	}

	template <typename>
	using cast_op_type = Value;
	operator Value() const { return *m_value; }

private:
	std::optional<Value> m_value;
};

/// A component handed out by its list (ComponentViews.h). A function bound with
/// reference_internal makes the component's Python object keep the function's self alive.
template <typename T>
struct type_caster<Orbitane::Python::ListedComponent<T>>
{
	static constexpr auto name = make_caster<T>::name;

	static handle cast(const Orbitane::Python::ListedComponent<T>& source, return_value_policy policy, handle parent)
	{
		return source.toPython(policy == return_value_policy::reference_internal ? parent : handle()).release();
	}
};

/// Takes only instances of Python-defined component classes, so that an overload taking it never
/// hides the overloads for native component types.
template <>
struct type_caster<Orbitane::Python::PythonDefinedComponentArg>
{
	PYBIND11_TYPE_CASTER(Orbitane::Python::PythonDefinedComponentArg, const_name("orbitane.DataComponentBase"));

	bool load(handle src, bool)
	{
		if (!Orbitane::Python::isPythonDefinedComponent(src))
			return false;
		value.object = reinterpret_borrow<object>(src);
		return true;
	}
	static handle cast(const Orbitane::Python::PythonDefinedComponentArg& v, return_value_policy, handle)
	{
		return v.object.inc_ref();
	}
};

}
