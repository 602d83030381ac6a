#include "anatomy/registration/RigidFit.h"

#include <Eigen/Eigenvalues>
#include <Eigen/SVD>

#include <cmath>
#include <utility>

namespace Orbitane::Registration {

namespace {

// Relative size below which a singular value counts as zero: far above rounding noise, far below
// any genuinely informative configuration.
constexpr double kRankTolerance = 1e-9;

struct Rotation
{
	Eigen::Matrix3d matrix;
	Eigen::Vector3d singularValues;
	double traceDS = 0.0;    // trace(D·S) of the Umeyama scale estimate
};

// The proper rotation R maximising trace(Rᵀ·H) for H = Σ fixed·movingᵀ; a reflection is never
// returned, the smallest singular direction absorbs the sign instead.
Rotation rotationFromCovariance(const Eigen::Matrix3d& h)
{
	Eigen::JacobiSVD<Eigen::Matrix3d> svd(h, Eigen::ComputeFullU | Eigen::ComputeFullV);
	const Eigen::Matrix3d& u = svd.matrixU();
	const Eigen::Matrix3d& v = svd.matrixV();
	Eigen::Vector3d d(1.0, 1.0, (u * v.transpose()).determinant() < 0.0 ? -1.0 : 1.0);
	Rotation r;
	r.matrix = u * d.asDiagonal() * v.transpose();
	r.singularValues = svd.singularValues();
	r.traceDS = svd.singularValues().dot(d);
	return r;
}

bool rotationDetermined(const Eigen::Vector3d& singularValues)
{
	return singularValues(0) > 0.0 && singularValues(1) > kRankTolerance * singularValues(0);
}

Eigen::Matrix4d compose(const Eigen::Matrix3d& linear, const Eigen::Vector3d& translation)
{
	Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
	m.topLeftCorner<3, 3>() = linear;
	m.topRightCorner<3, 1>() = translation;
	return m;
}

bool validWeight(double w) { return std::isfinite(w) && w >= 0.0; }

std::string checkPoints(const std::vector<PointCorrespondence>& points)
{
	for (const auto& p : points)
	{
		if (!p.fixed.allFinite() || !p.moving.allFinite())
			return "a keypoint has a non-finite coordinate";
		if (!validWeight(p.weight))
			return "a keypoint has a negative or non-finite weight";
	}
	return {};
}

struct UnitPlane
{
	Eigen::Vector3d fixedNormal, movingNormal;
	double fixedOffset = 0.0, movingOffset = 0.0, weight = 0.0;
};

// Scales each plane to a unit normal so that offsets become signed distances in world units.
std::string normalisePlanes(const std::vector<PlaneCorrespondence>& planes, std::vector<UnitPlane>& out)
{
	for (const auto& p : planes)
	{
		if (!p.fixed.allFinite() || !p.moving.allFinite())
			return "a plane has a non-finite coefficient";
		if (!validWeight(p.weight))
			return "a plane has a negative or non-finite weight";
		const double nf = p.fixed.head<3>().norm(), nm = p.moving.head<3>().norm();
		UnitPlane u{p.fixed.head<3>() / nf, p.moving.head<3>() / nm, p.fixed(3) / nf, p.moving(3) / nm, p.weight};
		if (!(nf > 0.0) || !(nm > 0.0) || !u.fixedNormal.allFinite() || !u.movingNormal.allFinite() ||
		    !std::isfinite(u.fixedOffset) || !std::isfinite(u.movingOffset))
			return "a plane has a zero normal";
		if (u.weight > 0.0)
			out.push_back(u);
	}
	return {};
}

struct Centroids
{
	Eigen::Vector3d fixed = Eigen::Vector3d::Zero(), moving = Eigen::Vector3d::Zero();
	double weight = 0.0;
	// weighted mean squared distances of the points from their centroids
	double movingSpread = 0.0, fixedSpread = 0.0;
};

double spread(const Eigen::Matrix3Xd& points, const Eigen::Vector3d& centroid, const Eigen::VectorXd& w, double total)
{
	return ((points.colwise() - centroid).colwise().squaredNorm().transpose().cwiseProduct(w)).sum() / total;
}

// Equal points leave a spread of rounding noise only, far below the coordinates' own magnitude.
bool coincide(const Eigen::Matrix3Xd& points, double spread)
{
	const double magnitude = points.size() ? points.cwiseAbs().maxCoeff() : 0.0;
	return !(spread > 1e-24 * magnitude * magnitude);
}

Centroids centroids(const Eigen::Matrix3Xd& moving, const Eigen::Matrix3Xd& fixed, const Eigen::VectorXd& w)
{
	Centroids c;
	c.weight = w.sum();
	if (c.weight <= 0.0)
		return c;
	c.fixed = fixed * w / c.weight;
	c.moving = moving * w / c.weight;
	c.movingSpread = spread(moving, c.moving, w, c.weight);
	c.fixedSpread = spread(fixed, c.fixed, w, c.weight);
	return c;
}

Eigen::Matrix3d crossCovariance(const Eigen::Matrix3Xd& moving, const Eigen::Matrix3Xd& fixed, const Eigen::VectorXd& w,
                                const Centroids& c)
{
	return (fixed.colwise() - c.fixed) * w.asDiagonal() * (moving.colwise() - c.moving).transpose();
}

void splitPoints(const std::vector<PointCorrespondence>& points, Eigen::Matrix3Xd& moving, Eigen::Matrix3Xd& fixed,
                 Eigen::VectorXd& weights)
{
	const auto n = static_cast<Eigen::Index>(points.size());
	moving.resize(3, n);
	fixed.resize(3, n);
	weights.resize(n);
	for (Eigen::Index i = 0; i < n; ++i)
	{
		moving.col(i) = points[static_cast<size_t>(i)].moving;
		fixed.col(i) = points[static_cast<size_t>(i)].fixed;
		weights(i) = points[static_cast<size_t>(i)].weight;
	}
}

// Translation by linear least squares over point residuals and plane offsets, given the rotation.
// A moving plane (n, d) maps under x' = R·x + t to (R·n, d − (R·n)·t).
bool solveTranslation(const Eigen::Matrix3Xd& moving, const Eigen::Matrix3Xd& fixed, const Eigen::VectorXd& w,
                      const std::vector<UnitPlane>& planes, const Eigen::Matrix3d& r, Eigen::Vector3d& t)
{
	Eigen::Matrix3d normal = Eigen::Matrix3d::Identity() * w.sum();
	Eigen::Vector3d rhs = (fixed - r * moving) * w;
	for (const auto& p : planes)
	{
		const Eigen::Vector3d n = r * p.movingNormal;
		normal += p.weight * n * n.transpose();
		rhs += p.weight * n * (p.movingOffset - p.fixedOffset);
	}
	Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eig(normal);
	const Eigen::Vector3d lambda = eig.eigenvalues();
	if (!(lambda(2) > 0.0) || lambda(0) <= kRankTolerance * lambda(2))
		return false;
	t = eig.eigenvectors() * (eig.eigenvectors().transpose() * rhs).cwiseQuotient(lambda);
	return true;
}

double residualRms(const Eigen::Matrix3Xd& moving, const Eigen::Matrix3Xd& fixed, const Eigen::VectorXd& w,
                   const std::vector<UnitPlane>& planes, const Eigen::Matrix3d& r, const Eigen::Vector3d& t)
{
	double sum = ((fixed - ((r * moving).colwise() + t)).colwise().squaredNorm().transpose().cwiseProduct(w)).sum();
	double weight = w.sum();
	for (const auto& p : planes)
	{
		const Eigen::Vector3d n = r * p.movingNormal;
		const double mappedOffset = p.movingOffset - n.dot(t);
		sum += p.weight * std::pow(mappedOffset - p.fixedOffset, 2);
		weight += p.weight;
	}
	return weight > 0.0 ? std::sqrt(sum / weight) : 0.0;
}

Eigen::Index positiveCount(const Eigen::VectorXd& w) { return (w.array() > 0.0).count(); }

}    // namespace

RigidFitResult RigidFitResult::failure(std::string why)
{
	RigidFitResult r;
	r.reason = std::move(why);
	return r;
}

Eigen::Matrix3Xd transformPoints(const Eigen::Matrix4d& transform, const Eigen::Matrix3Xd& points)
{
	return (transform.topLeftCorner<3, 3>() * points).colwise() + transform.topRightCorner<3, 1>();
}

RigidFitResult fitPointSets(const Eigen::Matrix3Xd& moving, const Eigen::Matrix3Xd& fixed,
                            const Eigen::VectorXd& weights, bool withScale)
{
	if (moving.cols() != fixed.cols() || weights.size() != moving.cols())
		return RigidFitResult::failure("point sets and weights differ in count");
	if (!moving.allFinite() || !fixed.allFinite())
		return RigidFitResult::failure("a keypoint has a non-finite coordinate");
	if (!weights.allFinite() || (weights.array() < 0.0).any())
		return RigidFitResult::failure("a keypoint has a negative or non-finite weight");
	if (positiveCount(weights) < 3)
		return RigidFitResult::failure("at least three keypoints are needed, got " +
		                               std::to_string(positiveCount(weights)));

	const Centroids c = centroids(moving, fixed, weights);
	const Rotation rot = rotationFromCovariance(crossCovariance(moving, fixed, weights, c));
	if (coincide(moving, c.movingSpread) || coincide(fixed, c.fixedSpread) || !(rot.singularValues(0) > 0.0))
		return RigidFitResult::failure("all keypoints coincide");
	if (!rotationDetermined(rot.singularValues))
		return RigidFitResult::failure("keypoints are collinear, so the rotation about their line is not determined");

	const double scale = withScale ? rot.traceDS / (c.movingSpread * c.weight) : 1.0;
	if (!(scale > 0.0))
		return RigidFitResult::failure("the scale is not determined");
	const Eigen::Matrix3d linear = scale * rot.matrix;
	const Eigen::Vector3d t = c.fixed - linear * c.moving;

	RigidFitResult result;
	result.ok = true;
	result.transform = compose(linear, t);
	result.rms = residualRms(moving, fixed, weights, {}, linear, t);
	result.spread = std::sqrt(c.fixedSpread);
	return result;
}

RigidFitResult fitSimilarity(const std::vector<PointCorrespondence>& points)
{
	if (auto why = checkPoints(points); !why.empty())
		return RigidFitResult::failure(why);
	Eigen::Matrix3Xd moving, fixed;
	Eigen::VectorXd weights;
	splitPoints(points, moving, fixed, weights);
	return fitPointSets(moving, fixed, weights, true);
}

RigidFitResult fitRigidPointsAndPlanes(const std::vector<PointCorrespondence>& points,
                                       const std::vector<PlaneCorrespondence>& planes)
{
	if (auto why = checkPoints(points); !why.empty())
		return RigidFitResult::failure(why);
	std::vector<UnitPlane> unitPlanes;
	if (auto why = normalisePlanes(planes, unitPlanes); !why.empty())
		return RigidFitResult::failure(why);

	Eigen::Matrix3Xd moving, fixed;
	Eigen::VectorXd weights;
	splitPoints(points, moving, fixed, weights);
	if (positiveCount(weights) == 0 && unitPlanes.empty())
		return RigidFitResult::failure("no keypoints or planes in common");

	const Centroids c = centroids(moving, fixed, weights);
	// Normals are unit directions while centred points carry lengths; scaling the normals by the
	// points' spread lets one plane count about as much as one keypoint for the rotation.
	const double normalScale = c.movingSpread > 0.0 ? c.movingSpread : 1.0;
	Eigen::Matrix3d h = c.weight > 0.0 ? crossCovariance(moving, fixed, weights, c) : Eigen::Matrix3d::Zero();
	for (const auto& p : unitPlanes)
		h += p.weight * normalScale * p.fixedNormal * p.movingNormal.transpose();

	const Rotation rot = rotationFromCovariance(h);
	if (!rotationDetermined(rot.singularValues))
		return RigidFitResult::failure(
		    unitPlanes.empty()
		        ? "keypoints are collinear or coincide, so the rotation is not determined"
		        : "the rotation is not determined: keypoints are collinear and the plane normals do not fix the "
		          "remaining axis");

	Eigen::Vector3d t;
	if (!solveTranslation(moving, fixed, weights, unitPlanes, rot.matrix, t))
		return RigidFitResult::failure(
		    "the translation is not determined: without keypoints the plane normals must span all three "
		    "directions");

	RigidFitResult result;
	result.ok = true;
	result.transform = compose(rot.matrix, t);
	result.rms = residualRms(moving, fixed, weights, unitPlanes, rot.matrix, t);
	result.spread = std::sqrt(c.fixedSpread);
	return result;
}

}    // namespace Orbitane::Registration
