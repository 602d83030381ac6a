#pragma once

// Everything of the module that reaches into the binding library's internals (pybind11::detail),
// in this one file, so that an upgrade of the library can break nothing else:
// - conversions of our own, which the library's design makes specialisations of
//   pybind11::detail::type_caster: self and new objects through a remembered class record, and
//   store vectors as bare numpy arrays (the public conversions look the class up, or build a
//   capsule, on every call of the hot paths; py::array_t would also change the signature text),
//   and maps read from a copy of the dict (the library's own conversion walks the live dict, which
//   Python code run by the conversion can change under it).
// What both modules need of the library's internals about their Python objects (refusing objects
// whose __init__ never ran, forgetting the Python objects of components that are gone, views as
// arguments) is the parent package's python/native/InstanceInternals.h.

#include "support/DictCopy.h"

#include <pybind11/eigen.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <Eigen/Core>

#include <algorithm>
#include <memory>
#include <typeinfo>
#include <utility>

namespace binding_detail {

namespace py = pybind11;

/// The binding library's record of the Python class bound for `T`, kept from the moment the class
/// is registered. Without it every call that reads `self` or returns a new `T` looks the class up
/// by its C++ type in the library's hash tables, and on the hot paths (a structure's store
/// property, a wrapper's item access) those lookups cost more than the work itself.
/// The record is forgotten when the Python class is destroyed, so it never dangles; while it is
/// unset, the casts below fall back to the library's own lookup.
template <typename T>
class ClassRecord
{
public:
	static void remember(py::handle cls)
	{
		const py::detail::type_info* record = py::detail::get_type_info(reinterpret_cast<PyTypeObject*>(cls.ptr()));
		s_record = record;
		// The weak reference lives until the class dies; its callback then drops the record (unless
		// a later registration has replaced it) and releases the weak reference itself. The callback
		// needs only the record's address, to tell it from a later one.
		py::weakref(cls, py::cpp_function([address = static_cast<const void*>(record)](py::handle weak) {
			            if (s_record == address)
				            s_record = nullptr;
			            weak.dec_ref();
		            }))
		    .release();
	}

	/// Null only when no class is bound for T.
	static const py::detail::type_info* get() { return s_record ? s_record : py::detail::get_type_info(typeid(T)); }

private:
	static inline const py::detail::type_info* s_record = nullptr;
};

/// Argument type for `self` of a bound `T`, converted through ClassRecord<T>. It takes the same
/// objects, and shows the same name in signatures, as `T&` would.
template <typename T>
class Self
{
public:
	explicit Self(T* object = nullptr) : m_object(object) {}
	T& operator*() const { return *m_object; }
	T* operator->() const { return m_object; }

private:
	T* m_object;
};

/// Return type for a new `T` that the Python object will own, converted through ClassRecord<T>;
/// it shows the same name in signatures as `T` would.
template <typename T>
struct NewObject
{
	std::unique_ptr<T> object;
};

/// A fixed-size vector of a store on its way to Python, where it becomes a new one-dimensional
/// float64 array that owns a copy of the values. The binding library's own conversion of an Eigen
/// vector heap-allocates a second copy, a capsule to own it and lists of shape and strides, which
/// together cost more than the rest of an element read; this one asks numpy for an array of N
/// doubles and fills it. Signatures show the same type as for the Eigen vector.
template <int N>
struct VectorArray
{
	Eigen::Matrix<double, N, 1> value;
};

/// A map argument read from a private copy of the dict it is given, with the same signature text as
/// the map itself. Converting a key may run Python code (its __index__) that changes the caller's
/// dict, while the library's own conversion walks the live dict through borrowed references that
/// such a change frees.
template <typename Map>
struct MapFromDictCopy
{
	Map value;
};

}

namespace pybind11::detail {

template <typename T>
class type_caster<binding_detail::Self<T>>
{
public:
	static constexpr auto name = make_caster<T>::name;

	bool load(handle source, bool convert)
	{
		type_caster_generic caster(binding_detail::ClassRecord<T>::get());
		// A None self would load as a null pointer; there is no object to call the member on.
		if (!caster.load(source, convert) || !caster.value)
			return false;
		m_value = binding_detail::Self<T>(static_cast<T*>(caster.value));
		return true;
	}

	template <typename>
	using cast_op_type = binding_detail::Self<T>;
	operator binding_detail::Self<T>() const { return m_value; }

private:
	binding_detail::Self<T> m_value;
};

template <typename T>
class type_caster<binding_detail::NewObject<T>>
{
public:
	static constexpr auto name = make_caster<T>::name;

	/// The same transfer of ownership as for a returned std::unique_ptr<T>: the new Python object
	/// takes over the holder, so nothing is copied.
	static handle cast(binding_detail::NewObject<T>&& source, return_value_policy, handle)
	{
		const type_info* record = binding_detail::ClassRecord<T>::get();
		if (record && record->holder_enum_v != holder_enum_t::std_unique_ptr)
			throw cast_error("NewObject needs a class held by std::unique_ptr");
		std::unique_ptr<T>& holder = source.object;
		return type_caster_generic::cast(holder.get(), return_value_policy::take_ownership, {}, record, nullptr,
		                                 nullptr, &holder);
	}
};

template <int N>
class type_caster<binding_detail::VectorArray<N>>
{
public:
	static constexpr auto name = make_caster<Eigen::Matrix<double, N, 1>>::name;

	static handle cast(const binding_detail::VectorArray<N>& source, return_value_policy, handle)
	{
		const npy_api& numpy = npy_api::get();
		const Py_intptr_t shape[1] = {N};
		// The new array takes over the descriptor reference and, given no data, allocates and owns
		// its buffer. On failure numpy has set the Python error that the caller reports.
		PyObject* descriptor = numpy.PyArray_DescrFromType_(npy_api::NPY_DOUBLE_);
		if (!descriptor)
			return handle();
		PyObject* out =
		    numpy.PyArray_NewFromDescr_(numpy.PyArray_Type_, descriptor, 1, shape, nullptr, nullptr, 0, nullptr);
		if (!out)
			return handle();
		std::copy_n(source.value.data(), N, reinterpret_cast<double*>(array_proxy(out)->data));
		return out;
	}
};

template <typename Map>
struct type_caster<binding_detail::MapFromDictCopy<Map>>
{
	PYBIND11_TYPE_CASTER(binding_detail::MapFromDictCopy<Map>, make_caster<Map>::name);

	bool load(handle source, bool convert)
	{
		object readable =
		    PyDict_Check(source.ptr()) ? Orbitane::Bindings::copyOfDict(source) : reinterpret_borrow<object>(source);
		make_caster<Map> map;
		if (!map.load(readable, convert))
			return false;
		value.value = cast_op<Map&&>(std::move(map));
		return true;
	}

	static handle cast(const binding_detail::MapFromDictCopy<Map>& map, return_value_policy policy, handle parent)
	{
		return make_caster<Map>::cast(map.value, policy, parent);
	}
};

}
