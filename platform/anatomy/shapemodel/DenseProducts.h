#pragma once

#include <Eigen/Core>

namespace Orbitane::ShapeModel {

/// dataᵀ · data: the lower triangle is filled, the rest is zero.
Eigen::MatrixXd gramLower(const Eigen::MatrixXd& data);

/// Rows [first, first + count) of data's leading weights.cols() columns become those rows of
/// data · weights. Each row only reads itself, so the product can overwrite its input.
void multiplyRowsInPlace(Eigen::MatrixXd& data, Eigen::Index first, Eigen::Index count, const Eigen::MatrixXd& weights);

}    // namespace Orbitane::ShapeModel
