#pragma once

#include <Eigen/Core>

#include <string>
#include <vector>

namespace Orbitane::Registration {

/// A keypoint seen in both collections, in world coordinates.
struct PointCorrespondence
{
	Eigen::Vector3d fixed = Eigen::Vector3d::Zero();
	Eigen::Vector3d moving = Eigen::Vector3d::Zero();
	double weight = 1.0;
};

/// A plane a·x + b·y + c·z + d = 0 seen in both collections; the normal (a, b, c) need not be unit
/// length, but both planes must be oriented alike.
struct PlaneCorrespondence
{
	Eigen::Vector4d fixed = Eigen::Vector4d::Zero();
	Eigen::Vector4d moving = Eigen::Vector4d::Zero();
	double weight = 1.0;
};

/// Outcome of a registration: on success `transform` maps moving world coordinates onto fixed ones,
/// `rms` is the root mean square residual and `spread` the RMS distance of the fixed keypoints from
/// their centroid, the scale a residual of keypoints is judged against (0 where there is none, as
/// for images); on failure `reason` says why and `transform` is the identity.
struct RigidFitResult
{
	bool ok = false;
	std::string reason;
	Eigen::Matrix4d transform = Eigen::Matrix4d::Identity();
	double rms = 0.0;
	double spread = 0.0;

	static RigidFitResult failure(std::string why);
};

/// Rigid least-squares fit over matched keypoints and planes.
RigidFitResult fitRigidPointsAndPlanes(const std::vector<PointCorrespondence>& points,
                                       const std::vector<PlaneCorrespondence>& planes);

/// Rotation, translation and one uniform scale from matched keypoints; never a reflection.
RigidFitResult fitSimilarity(const std::vector<PointCorrespondence>& points);

/// Weighted least-squares rigid or similarity fit of `moving` onto `fixed` (points as columns of
/// equal count). Points of weight zero are carried along but do not influence the fit.
RigidFitResult fitPointSets(const Eigen::Matrix3Xd& moving, const Eigen::Matrix3Xd& fixed,
                            const Eigen::VectorXd& weights, bool withScale);

/// Applies a 4x4 affine transform to points given as columns.
Eigen::Matrix3Xd transformPoints(const Eigen::Matrix4d& transform, const Eigen::Matrix3Xd& points);

}    // namespace Orbitane::Registration
