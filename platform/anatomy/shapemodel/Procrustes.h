#pragma once

#include <Eigen/Core>

#include <functional>
#include <vector>

namespace Orbitane::ShapeModel {

/// Points as columns.
using PointSet = Eigen::Matrix3Xd;

/// The least-squares rigid (or, with `withScale`, similarity) transform mapping `source` onto
/// `target`, as a 4x4 matrix. Points are paired by column; `weights` (one per point, empty for
/// all ones) select the points that drive the fit, points of weight zero are only carried along.
/// Throws std::invalid_argument naming the cause when the fit is not determined.
Eigen::Matrix4d alignProcrustes(const PointSet& source, const PointSet& target, const Eigen::VectorXd& weights = {},
                                bool withScale = false);

/// `points` moved by a 4x4 affine transform.
PointSet transformed(const Eigen::Matrix4d& transform, const PointSet& points);

struct GeneralisedProcrustesOptions
{
	bool withScale = false;
	/// Shapes aligned between two re-estimations of the mean.
	int batchSize = 16;
	/// The iteration stops once a full pass moves the mean by less than this root mean square
	/// distance per point, relative to the mean's size (root mean square distance from its centroid).
	double tolerance = 1e-8;
	int maxPasses = 100;
	/// Receives the fraction done, from 0 to 1.
	std::function<void(double)> progress;
};

struct GeneralisedProcrustesResult
{
	PointSet mean;
	std::vector<Eigen::Matrix4d> transforms;    // shape i → mean frame
	std::vector<PointSet> aligned;              // shape i in the mean frame
	int passes = 0;
	bool converged = false;
};

/// Aligns every shape to a mean that is re-estimated after each batch of shapes, starting from
/// `initialMean`, until a full pass leaves it settled. The mean stays in the frame of
/// `initialMean` (and, with scale, keeps its size), so the result does not drift.
/// Throws std::invalid_argument when the shapes and the mean differ in point count or a shape
/// cannot be aligned.
GeneralisedProcrustesResult generalisedProcrustes(const std::vector<PointSet>& shapes, const PointSet& initialMean,
                                                  const Eigen::VectorXd& weights = {},
                                                  const GeneralisedProcrustesOptions& options = {});

}    // namespace Orbitane::ShapeModel
