#pragma once

// What both Python modules need from the binding library's internals about the Python objects of
// bound classes (pybind11::detail), in one header that both include:
// - refusing members of an object that Python made without running __init__: the library then
//   hands the members freshly allocated, unconstructed storage, and it has no public switch for that;
// - ending the Python objects of a native object that is gone while others still hold them: the
//   library has no public way to find the Python objects of a native address, nor to point one
//   elsewhere or to make it forget its address;
// - telling the garbage collector what an object owns: whether a Python object is the only owner of
//   its native object is known only to its holder.

#include <pybind11/pybind11.h>

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <typeinfo>
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

/// Makes every Python object that refers to target as the bound type `type` without owning it refer
/// to standIn instead, and forgets it under target's address, so that a later native object at that
/// address gets Python objects of its own. standIn must outlive every such Python object. Needs the
/// interpreter lock.
__attribute__((visibility("hidden"))) inline void pointViewsElsewhere(const void* target, const std::type_info& type,
                                                                      void* standIn)
{
	const py::detail::type_info* tinfo = py::detail::get_type_info(type);
	if (!tinfo)
		return;
	std::vector<py::detail::instance*> views;
	py::detail::with_instance_map(target, [&](py::detail::instance_map& instances) {
		auto [first, last] = instances.equal_range(target);
		for (auto it = first; it != last; ++it)
			views.push_back(it->second);
	});
	for (py::detail::instance* view : views)
	{
		py::detail::value_and_holder vh = view->get_value_and_holder(tinfo, false);
		// (a view of another class has no value and holder of this one, not even storage to test)
		// owned objects die together with their target and need nothing
		if (!vh.inst || !vh || vh.value_ptr() != target || view->owned || vh.holder_constructed())
			continue;
		if (vh.instance_registered())
			py::detail::deregister_instance(view, vh.value_ptr(), tinfo);
		vh.set_instance_registered(false);
		vh.value_ptr() = standIn;
	}
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

}
