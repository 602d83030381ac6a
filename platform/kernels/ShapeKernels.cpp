#include "kernels/ShapeKernels.h"

#include <Eigen/Core>

#include <algorithm>

// ORBITANE_KERNEL_LEVEL (v3 or v4) names the copy this compilation makes.
#define ORBITANE_KERNEL_JOIN2(name, level) name##_##level
#define ORBITANE_KERNEL_JOIN(name, level) ORBITANE_KERNEL_JOIN2(name, level)
#define ORBITANE_KERNEL(name) ORBITANE_KERNEL_JOIN(name, ORBITANE_KERNEL_LEVEL)

namespace {

// Row blocks small enough to stay in cache make the tall product several times faster than one
// whole-matrix product, and let it overwrite its own input.
constexpr long kRowBlock = 512;

}    // namespace

extern "C" void ORBITANE_KERNEL(orbitane_gram_lower)(const double* data, long stride, long rows, long cols,
                                                     double* gram)
{
	const Eigen::Map<const Eigen::MatrixXd, 0, Eigen::OuterStride<>> a(data, rows, cols, Eigen::OuterStride<>(stride));
	Eigen::Map<Eigen::MatrixXd> g(gram, cols, cols);
	g.setZero();
	g.selfadjointView<Eigen::Lower>().rankUpdate(a.transpose());
}

extern "C" void ORBITANE_KERNEL(orbitane_multiply_in_place)(double* data, long stride, long rows, long cols,
                                                            const double* weights, long k)
{
	Eigen::Map<Eigen::MatrixXd, 0, Eigen::OuterStride<>> a(data, rows, cols, Eigen::OuterStride<>(stride));
	const Eigen::Map<const Eigen::MatrixXd> w(weights, cols, k);
	Eigen::MatrixXd block(kRowBlock, k);
	for (long r = 0; r < rows; r += kRowBlock)
	{
		const long b = std::min(kRowBlock, rows - r);
		block.topRows(b).noalias() = a.middleRows(r, b) * w;
		a.block(r, 0, b, k) = block.topRows(b);
	}
}
