#pragma once

#include "anatomy/stores/KeyValueStore.h"
#include "support/BindingInternals.h"

#include <Eigen/Core>

#include <memory>

namespace binding_detail {

/// How an element of a store crosses to Python and back: vectors by value (numpy arrays),
/// objects as new shared objects copied from the stored ones, so that Python never holds a
/// pointer into a store. `Python` is what arrives from Python, `Returned` what goes back.
template <typename T>
struct Element
{
	using Python = T;
	using Returned = VectorArray<T::RowsAtCompileTime>;
	static Returned toPython(const T& value) { return {value}; }
};

template <typename O>
struct Element<std::unique_ptr<O>>
{
	using Python = std::shared_ptr<O>;
	using Returned = std::shared_ptr<O>;
	/// None for an entry without an object, or for an image set whose clone yields nothing.
	static std::shared_ptr<O> toPython(const std::unique_ptr<O>& stored)
	{
		if (!stored)
			return nullptr;
		return Orbitane::KeyValueStoreDetail::copyObject(*stored);
	}
};

}
