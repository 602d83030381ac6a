#pragma once

#include <pybind11/pybind11.h>

#include <memory>

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
		})).release();
	}

	/// Null only when no class is bound for T.
	static const py::detail::type_info* get()
	{
		return s_record ? s_record : py::detail::get_type_info(typeid(T));
	}

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

}
