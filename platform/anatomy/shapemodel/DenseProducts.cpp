#include "anatomy/shapemodel/DenseProducts.h"

#if ORBITANE_SHAPE_KERNELS
#include "kernels/ShapeKernels.h"
#endif

#include <algorithm>

namespace Orbitane::ShapeModel {

namespace {

// Row blocks small enough to stay in cache make the tall product several times faster than one
// whole-matrix product, and let it overwrite its own input.
constexpr Eigen::Index kRowBlock = 512;

enum class VectorLevel
{
	Baseline,
	V3,    // AVX2, FMA
	V4,    // AVX-512
};

// The copy built for AVX-512 formed the Gram matrix of 200 shapes x 30000 coordinates about three
// times faster than the baseline build, the AVX2 copy about twice; each is used where the
// processor has the units.
VectorLevel vectorLevel()
{
#if ORBITANE_SHAPE_KERNELS
	static const VectorLevel level = [] {
		__builtin_cpu_init();
		if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
		    __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
		    __builtin_cpu_supports("avx512cd"))
			return VectorLevel::V4;
		if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && __builtin_cpu_supports("bmi2"))
			return VectorLevel::V3;
		return VectorLevel::Baseline;
	}();
	return level;
#else
	return VectorLevel::Baseline;
#endif
}

void multiplyBaseline(Eigen::MatrixXd& data, Eigen::Index first, Eigen::Index count, const Eigen::MatrixXd& weights)
{
	Eigen::MatrixXd block(kRowBlock, weights.cols());
	for (Eigen::Index r = first; r < first + count; r += kRowBlock)
	{
		const Eigen::Index b = std::min(kRowBlock, first + count - r);
		block.topRows(b).noalias() = data.middleRows(r, b) * weights;
		data.block(r, 0, b, weights.cols()) = block.topRows(b);
	}
}

}    // namespace

Eigen::MatrixXd gramLower(const Eigen::MatrixXd& data)
{
	Eigen::MatrixXd gram = Eigen::MatrixXd::Zero(data.cols(), data.cols());
	switch (vectorLevel())
	{
#if ORBITANE_SHAPE_KERNELS
		case VectorLevel::V4: orbitane_gram_lower_v4(data.data(), data.rows(), data.cols(), gram.data()); break;
		case VectorLevel::V3: orbitane_gram_lower_v3(data.data(), data.rows(), data.cols(), gram.data()); break;
#endif
		default: gram.selfadjointView<Eigen::Lower>().rankUpdate(data.transpose());
	}
	return gram;
}

void multiplyRowsInPlace(Eigen::MatrixXd& data, Eigen::Index first, Eigen::Index count, const Eigen::MatrixXd& weights)
{
	switch (vectorLevel())
	{
#if ORBITANE_SHAPE_KERNELS
		case VectorLevel::V4:
			orbitane_multiply_in_place_v4(data.data() + first, data.rows(), count, data.cols(), weights.data(),
			                              weights.cols());
			break;
		case VectorLevel::V3:
			orbitane_multiply_in_place_v3(data.data() + first, data.rows(), count, data.cols(), weights.data(),
			                              weights.cols());
			break;
#endif
		default: multiplyBaseline(data, first, count, weights);
	}
}

}    // namespace Orbitane::ShapeModel
