#pragma once

#include "anatomy/shapemodel/Procrustes.h"

#include <Eigen/Core>

#include <functional>
#include <vector>

namespace Orbitane::ShapeModel {

/// A linear model: shape = mean + modes · coefficients.
struct PcaModel
{
	Eigen::VectorXd mean;
	/// Orthonormal columns, by descending variance.
	Eigen::MatrixXd modes;
	/// Sample variance (divided by shapes − 1) of the training shapes along each mode.
	Eigen::VectorXd variances;

	/// mean + modes · coefficients; coefficients beyond the given ones count as zero.
	/// Throws std::invalid_argument when there are more coefficients than modes.
	Eigen::VectorXd reconstruct(const Eigen::VectorXd& coefficients) const;
	/// The coefficients of the model shape closest to `shape`.
	Eigen::VectorXd project(const Eigen::VectorXd& shape) const;
};

enum class PcaRoute
{
	/// Gram matrix when there are fewer shapes than coordinates, otherwise SVD.
	Automatic,
	/// Eigen-decomposition of the shapes × shapes Gram matrix, then modes by one product.
	Gram,
	/// Singular value decomposition of the centred coordinates × shapes matrix.
	Svd,
};

struct PcaOptions
{
	PcaRoute route = PcaRoute::Automatic;
	/// Receives the fraction done, from 0 to 1.
	std::function<void(double)> progress;
};

/// Principal components of `shapes`, one training shape per column. Directions in which the
/// training shapes do not vary (beyond rounding) carry no mode. The shapes are taken by value
/// so that a matrix moved in lends its memory to the modes. Throws std::invalid_argument when
/// there are no shapes or a coordinate is not finite.
PcaModel computePca(Eigen::MatrixXd shapes, const PcaOptions& options = {});

/// Shape vectors as columns: the points of each set, x, y, z of the first point first.
/// Throws std::invalid_argument when the sets differ in point count.
Eigen::MatrixXd stackShapes(const std::vector<PointSet>& shapes);

}    // namespace Orbitane::ShapeModel
