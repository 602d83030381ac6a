#include "anatomy/shapemodel/Pca.h"

#include "anatomy/shapemodel/DenseProducts.h"

#include <Eigen/Eigenvalues>
#include <Eigen/SVD>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

namespace Orbitane::ShapeModel {

namespace {

void report(const PcaOptions& options, double fraction)
{
	if (options.progress)
		options.progress(fraction);
}

// Squared singular values below this are what rounding leaves of directions without variation
// (centring always makes one): they are not modes.
double noiseFloor(double largestSquared, Eigen::Index shapes)
{
	return largestSquared * 64.0 * std::numeric_limits<double>::epsilon() *
	       static_cast<double>(std::max<Eigen::Index>(shapes, 1));
}

// Fixes each mode's sign (largest component positive) so that models of the same data agree
// whichever route computed them.
void normaliseSigns(Eigen::MatrixXd& modes)
{
	for (Eigen::Index j = 0; j < modes.cols(); ++j)
	{
		Eigen::Index at = 0;
		modes.col(j).cwiseAbs().maxCoeff(&at);
		if (modes(at, j) < 0.0)
			modes.col(j) *= -1.0;
	}
}

// Rows multiplied between two progress reports.
constexpr Eigen::Index kProgressRows = 8192;

// Replaces the leading columns of `data` with data · weights.
void multiplyInPlace(Eigen::MatrixXd& data, const Eigen::MatrixXd& weights, const PcaOptions& options, double from,
                     double to)
{
	const Eigen::Index rows = data.rows();
	for (Eigen::Index r = 0; r < rows; r += kProgressRows)
	{
		const Eigen::Index count = std::min(kProgressRows, rows - r);
		multiplyRowsInPlace(data, r, count, weights);
		if (r + count < rows)
			report(options, from + (to - from) * static_cast<double>(r + count) / static_cast<double>(rows));
	}
	data.conservativeResize(Eigen::NoChange, weights.cols());
}

// The modes are the centred data seen through the Gram matrix's leading eigenvectors; they are
// written over the centred data, which is no longer needed.
void viaGram(Eigen::MatrixXd& centred, const PcaOptions& options, PcaModel& model)
{
	const Eigen::Index n = centred.cols();
	const Eigen::MatrixXd gram = gramLower(centred);
	report(options, 0.4);
	const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eig(gram);    // reads the lower triangle only
	if (eig.info() != Eigen::Success)
		throw std::runtime_error("the eigen-decomposition of the shapes' Gram matrix did not converge");
	report(options, 0.45);

	const Eigen::VectorXd& ascending = eig.eigenvalues();
	const double floor = noiseFloor(ascending(n - 1), n);
	const Eigen::Index k = (ascending.array() > floor).count();
	Eigen::MatrixXd v(n, k);
	model.variances.resize(k);
	for (Eigen::Index i = 0; i < k; ++i)
	{
		v.col(i) = eig.eigenvectors().col(n - 1 - i);
		model.variances(i) = ascending(n - 1 - i) / static_cast<double>(n - 1);
	}
	multiplyInPlace(centred, v, options, 0.45, 0.95);
	// Normalising by the computed length rather than the eigenvalue keeps small modes at unit length.
	centred.colwise().normalize();
	model.modes = std::move(centred);
}

void viaSvd(const Eigen::MatrixXd& centred, PcaModel& model)
{
	const Eigen::BDCSVD<Eigen::MatrixXd, Eigen::ComputeThinU> svd(centred);
	if (svd.info() != Eigen::Success)
		throw std::runtime_error("the singular value decomposition of the shapes did not converge");
	const Eigen::VectorXd squared = svd.singularValues().array().square();
	const Eigen::Index n = centred.cols();
	const Eigen::Index k = squared.size() == 0 ? 0 : (squared.array() > noiseFloor(squared(0), n)).count();
	model.modes = svd.matrixU().leftCols(k);
	model.variances = squared.head(k) / static_cast<double>(std::max<Eigen::Index>(n - 1, 1));
}

}    // namespace

Eigen::VectorXd PcaModel::reconstruct(const Eigen::VectorXd& coefficients) const
{
	if (coefficients.size() > modes.cols())
		throw std::invalid_argument(std::to_string(coefficients.size()) + " coefficients for a model of " +
		                            std::to_string(modes.cols()) + " modes");
	return mean + modes.leftCols(coefficients.size()) * coefficients;
}

Eigen::VectorXd PcaModel::project(const Eigen::VectorXd& shape) const
{
	if (shape.size() != mean.size())
		throw std::invalid_argument("a shape of " + std::to_string(shape.size()) + " coordinates for a model of " +
		                            std::to_string(mean.size()));
	return modes.transpose() * (shape - mean);
}

PcaModel computePca(Eigen::MatrixXd shapes, const PcaOptions& options)
{
	if (shapes.cols() == 0 || shapes.rows() == 0)
		throw std::invalid_argument("no training shapes");
	if (!shapes.allFinite())
		throw std::invalid_argument("a training shape has a non-finite coordinate");

	PcaModel model;
	const Eigen::Index n = shapes.cols();
	report(options, 0.0);
	model.mean = shapes * Eigen::VectorXd::Constant(n, 1.0 / static_cast<double>(n));
	shapes.colwise() -= model.mean;
	report(options, 0.05);

	if (options.route == PcaRoute::Gram || (options.route == PcaRoute::Automatic && n < shapes.rows()))
		viaGram(shapes, options, model);
	else
		viaSvd(shapes, model);
	normaliseSigns(model.modes);
	report(options, 1.0);
	return model;
}

Eigen::MatrixXd stackShapes(const std::vector<PointSet>& shapes)
{
	const Eigen::Index points = shapes.empty() ? 0 : shapes.front().cols();
	Eigen::MatrixXd out(3 * points, static_cast<Eigen::Index>(shapes.size()));
	for (size_t j = 0; j < shapes.size(); ++j)
	{
		if (shapes[j].cols() != points)
			throw std::invalid_argument("shape " + std::to_string(j + 1) + " has " + std::to_string(shapes[j].cols()) +
			                            " points where the first has " + std::to_string(points));
		out.col(static_cast<Eigen::Index>(j)) = shapes[j].reshaped();
	}
	return out;
}

}    // namespace Orbitane::ShapeModel
