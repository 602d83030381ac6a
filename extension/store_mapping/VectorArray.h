#pragma once

#include <pybind11/eigen.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <Eigen/Core>

#include <algorithm>

namespace binding_detail {

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

}

namespace pybind11::detail {

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
		PyObject* out = numpy.PyArray_NewFromDescr_(numpy.PyArray_Type_, descriptor, 1, shape, nullptr, nullptr, 0, nullptr);
		if (!out)
			return handle();
		std::copy_n(source.value.data(), N, reinterpret_cast<double*>(array_proxy(out)->data));
		return out;
	}
};

}
