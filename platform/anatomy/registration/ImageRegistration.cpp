#include "anatomy/registration/ImageRegistration.h"

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>
#include <Eigen/Geometry>
#include <Eigen/LU>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace Orbitane::Registration {

namespace {

// A level of the image pyramid: an owned float copy with its geometry and the inverse mapping
// from world points to continuous voxel indices.
struct Volume
{
	std::vector<float> data;
	Eigen::Array3i dims = Eigen::Array3i::Zero();
	Eigen::Vector3d spacing = Eigen::Vector3d::Ones();
	Eigen::Matrix4d matrix = Eigen::Matrix4d::Identity();

	size_t index(int x, int y, int z) const
	{
		return static_cast<size_t>(x) +
		       static_cast<size_t>(dims(0)) *
		           (static_cast<size_t>(y) + static_cast<size_t>(dims(1)) * static_cast<size_t>(z));
	}
	Eigen::Vector3d world(int x, int y, int z) const
	{
		return matrix.topLeftCorner<3, 3>() * spacing.cwiseProduct(Eigen::Vector3d(x, y, z)) +
		       matrix.topRightCorner<3, 1>();
	}
	// index = worldToIndex.linear · world + worldToIndex.offset
	Eigen::Matrix3d indexLinear() const
	{
		return spacing.cwiseInverse().asDiagonal() * matrix.topLeftCorner<3, 3>().inverse();
	}
	Eigen::Vector3d indexOffset() const { return -indexLinear() * matrix.topRightCorner<3, 1>(); }
};

std::string describe(const char* side, size_t i) { return std::string(side) + " image " + std::to_string(i + 1); }

std::string checkView(const ImageView& view)
{
	const auto& d = view.dims;
	if (d[0] < 4 || d[1] < 4 || d[2] < 4)
		return "is not a 3-D volume of at least 4 voxels along each axis";
	const size_t count = static_cast<size_t>(d[0]) * static_cast<size_t>(d[1]) * static_cast<size_t>(d[2]);
	const size_t have = std::visit([](auto s) { return s.size(); }, view.voxels);
	if (have != count)
		return "holds " + std::to_string(have) + " voxels where its dimensions need " + std::to_string(count);
	if (!view.spacing.allFinite() || (view.spacing.array() <= 0.0).any())
		return "has a spacing that is not positive";
	const Eigen::Matrix3d linear = view.matrixToWorld.topLeftCorner<3, 3>();
	if (!view.matrixToWorld.allFinite() || !(std::abs(linear.determinant()) > 1e-12 * std::pow(linear.norm(), 3)))
		return "has a singular or non-finite matrix to world";
	return {};
}

Volume copyVolume(const ImageView& view)
{
	Volume v;
	v.dims = Eigen::Array3i(view.dims[0], view.dims[1], view.dims[2]);
	v.spacing = view.spacing;
	v.matrix = view.matrixToWorld;
	std::visit([&](auto s) { v.data.assign(s.begin(), s.end()); }, view.voxels);
	return v;
}

bool allFinite(const Volume& v)
{
	return std::all_of(v.data.begin(), v.data.end(), [](float x) { return std::isfinite(x); });
}

std::vector<float> gaussianKernel(double sigma)
{
	const int radius = std::max(1, static_cast<int>(std::ceil(3.0 * sigma)));
	std::vector<float> k(static_cast<size_t>(2 * radius + 1));
	double sum = 0.0;
	for (int i = -radius; i <= radius; ++i)
		sum += k[static_cast<size_t>(i + radius)] = static_cast<float>(std::exp(-0.5 * i * i / (sigma * sigma)));
	for (auto& x : k)
		x = static_cast<float>(x / sum);
	return k;
}

// One separable pass along `axis`, extending the border voxels outwards.
void blurAxis(Volume& v, int axis, const std::vector<float>& kernel)
{
	const int radius = static_cast<int>(kernel.size() / 2);
	const std::vector<float> src = v.data;
	const Eigen::Array3i d = v.dims;
	for (int z = 0; z < d(2); ++z)
		for (int y = 0; y < d(1); ++y)
			for (int x = 0; x < d(0); ++x)
			{
				Eigen::Array3i p(x, y, z);
				const int centre = p(axis);
				float acc = 0.0f;
				for (int k = -radius; k <= radius; ++k)
				{
					p(axis) = std::clamp(centre + k, 0, d(axis) - 1);
					acc += kernel[static_cast<size_t>(k + radius)] * src[v.index(p(0), p(1), p(2))];
				}
				v.data[v.index(x, y, z)] = acc;
			}
}

// Gaussian smoothing with a standard deviation in world units, the same along every axis.
Volume smooth(Volume v, double sigmaWorld)
{
	for (int axis = 0; axis < 3; ++axis)
		blurAxis(v, axis, gaussianKernel(sigmaWorld / v.spacing(axis)));
	return v;
}

Volume halve(const Volume& fine)
{
	const Volume blurred = smooth(fine, fine.spacing.maxCoeff());
	Volume coarse;
	coarse.dims = (fine.dims + 1) / 2;
	coarse.spacing = fine.spacing * 2.0;
	coarse.matrix = fine.matrix;
	coarse.data.resize(static_cast<size_t>(coarse.dims.prod()));
	for (int z = 0; z < coarse.dims(2); ++z)
		for (int y = 0; y < coarse.dims(1); ++y)
			for (int x = 0; x < coarse.dims(0); ++x)
				coarse.data[coarse.index(x, y, z)] = blurred.data[blurred.index(2 * x, 2 * y, 2 * z)];
	return coarse;
}

// Trilinear interpolation with the border extended outwards; `gradient` receives the derivative
// by continuous index, zero along axes where the point lies outside.
double sampleTrilinear(const Volume& v, const Eigen::Vector3d& p, Eigen::Vector3d& gradient)
{
	int base[3];
	double f[3];
	bool inside[3];
	for (int a = 0; a < 3; ++a)
	{
		const double hi = v.dims(a) - 1;
		double x = p(a);
		inside[a] = x > 0.0 && x < hi;
		if (!(x > 0.0))
			x = 0.0;
		else if (x > hi)
			x = hi;
		base[a] = std::min(static_cast<int>(x), v.dims(a) - 2);
		f[a] = x - base[a];
	}
	const size_t sx = 1, sy = static_cast<size_t>(v.dims(0)), sz = sy * static_cast<size_t>(v.dims(1));
	const float* c = v.data.data() + v.index(base[0], base[1], base[2]);
	const double c000 = c[0], c100 = c[sx], c010 = c[sy], c110 = c[sx + sy];
	const double c001 = c[sz], c101 = c[sx + sz], c011 = c[sy + sz], c111 = c[sx + sy + sz];
	const double c00 = c000 + f[0] * (c100 - c000), c10 = c010 + f[0] * (c110 - c010);
	const double c01 = c001 + f[0] * (c101 - c001), c11 = c011 + f[0] * (c111 - c011);
	const double c0 = c00 + f[1] * (c10 - c00), c1 = c01 + f[1] * (c11 - c01);
	if (inside[0])
	{
		const double d0 = (c100 - c000) + f[1] * ((c110 - c010) - (c100 - c000));
		const double d1 = (c101 - c001) + f[1] * ((c111 - c011) - (c101 - c001));
		gradient(0) = d0 + f[2] * (d1 - d0);
	}
	else
		gradient(0) = 0.0;
	gradient(1) = inside[1] ? (c10 - c00) + f[2] * ((c11 - c01) - (c10 - c00)) : 0.0;
	gradient(2) = inside[2] ? c1 - c0 : 0.0;
	return c0 + f[2] * (c1 - c0);
}

// The motion being estimated maps fixed world points into the moving image: y = R·x + t.
struct Motion
{
	Eigen::Matrix3d rotation = Eigen::Matrix3d::Identity();
	Eigen::Vector3d translation = Eigen::Vector3d::Zero();

	// Rotation increments act about `centre` so that they barely couple with translation.
	Motion updated(const Eigen::Matrix<double, 6, 1>& step, const Eigen::Vector3d& centre) const
	{
		const Eigen::Vector3d w = step.head<3>();
		const Eigen::Matrix3d dr = w.norm() > 0.0 ? Eigen::AngleAxisd(w.norm(), w.normalized()).toRotationMatrix()
		                                          : Eigen::Matrix3d::Identity();
		return {dr * rotation, centre + dr * (translation - centre) + step.tail<3>()};
	}
};

// The fixed voxels of one pair at one level with the moving volume they are compared against.
struct PairLevel
{
	Volume moving;
	Eigen::Matrix3d movingIndexLinear;
	Eigen::Vector3d movingIndexOffset;
	std::vector<Eigen::Vector3d> points;
	std::vector<float> values;
	double weight = 1.0;    // makes pairs of different intensity range and size count alike
};

struct Evaluation
{
	double cost = 0.0;
	double squaredSum = 0.0;
	long samples = 0;
	Eigen::Matrix<double, 6, 6> hessian = Eigen::Matrix<double, 6, 6>::Zero();
	Eigen::Matrix<double, 6, 1> gradient = Eigen::Matrix<double, 6, 1>::Zero();
};

void accumulate(const PairLevel& pair, const Motion& m, const Eigen::Vector3d& centre, Evaluation& e)
{
	Eigen::Vector3d gIndex;
	Eigen::Matrix<double, 6, 1> j;
	double cost = 0.0;
	Eigen::Matrix<double, 6, 6> h = Eigen::Matrix<double, 6, 6>::Zero();
	Eigen::Matrix<double, 6, 1> g = Eigen::Matrix<double, 6, 1>::Zero();
	for (size_t i = 0; i < pair.points.size(); ++i)
	{
		const Eigen::Vector3d y = m.rotation * pair.points[i] + m.translation;
		const double r =
		    sampleTrilinear(pair.moving, pair.movingIndexLinear * y + pair.movingIndexOffset, gIndex) - pair.values[i];
		cost += r * r;
		if (r == 0.0 && gIndex.isZero())
			continue;
		const Eigen::Vector3d gWorld = pair.movingIndexLinear.transpose() * gIndex;
		j << (y - centre).cross(gWorld), gWorld;
		h.selfadjointView<Eigen::Lower>().rankUpdate(j);
		g += r * j;
	}
	e.cost += pair.weight * cost;
	e.squaredSum += cost;
	e.samples += static_cast<long>(pair.points.size());
	e.hessian += pair.weight * h.selfadjointView<Eigen::Lower>().toDenseMatrix();
	e.gradient += pair.weight * g;
}

Evaluation evaluate(const std::vector<PairLevel>& pairs, const Motion& m, const Eigen::Vector3d& centre)
{
	Evaluation e;
	for (const auto& p : pairs)
		accumulate(p, m, centre, e);
	return e;
}

struct Refinement
{
	Motion motion;
	Evaluation evaluation;
};

// Levenberg–Marquardt on the six rigid parameters; `tolerance` is the largest displacement, in
// world units, below which a step counts as converged.
Refinement refine(const std::vector<PairLevel>& pairs, Motion m, const Eigen::Vector3d& centre, double radius,
                  double tolerance, int iterations, const std::function<void()>& onIteration)
{
	Evaluation current = evaluate(pairs, m, centre);
	double lambda = 1e-3;
	for (int it = 0; it < iterations; ++it)
	{
		if (onIteration)
			onIteration();
		Eigen::Matrix<double, 6, 6> a = current.hessian;
		const double floor = 1e-12 * std::max(a.trace(), std::numeric_limits<double>::min());
		a.diagonal() += lambda * (current.hessian.diagonal().array() + floor).matrix();
		const Eigen::Matrix<double, 6, 1> step = a.ldlt().solve(-current.gradient);
		if (!step.allFinite())
			break;
		const Motion candidate = m.updated(step, centre);
		const Evaluation next = evaluate(pairs, candidate, centre);
		const double displacement = step.tail<3>().norm() + step.head<3>().norm() * radius;
		if (next.cost < current.cost)
		{
			m = candidate;
			current = next;
			lambda = std::max(lambda * 0.25, 1e-7);
			if (displacement < tolerance)
				break;
		}
		else
		{
			lambda *= 8.0;
			if (lambda > 1e6 || displacement < tolerance)
				break;
		}
	}
	return {m, current};
}

struct Moments
{
	double mass = 0.0;
	Eigen::Vector3d first = Eigen::Vector3d::Zero();
	Eigen::Matrix3d second = Eigen::Matrix3d::Zero();

	Eigen::Vector3d centroid() const { return first / mass; }
	Eigen::Matrix3d covariance() const { return second / mass - centroid() * centroid().transpose(); }
};

// Intensity above the volume's minimum acts as mass, so masks and bright objects on a dark
// background both give their object's centroid and axes.
void addMoments(const Volume& v, Moments& m)
{
	const float lowest = *std::min_element(v.data.begin(), v.data.end());
	for (int z = 0; z < v.dims(2); ++z)
		for (int y = 0; y < v.dims(1); ++y)
			for (int x = 0; x < v.dims(0); ++x)
			{
				const double w = v.data[v.index(x, y, z)] - lowest;
				if (w <= 0.0)
					continue;
				const Eigen::Vector3d p = v.world(x, y, z);
				m.mass += w;
				m.first += w * p;
				m.second += w * p * p.transpose();
			}
}

// Candidate starts: centroids matched with the identity rotation, and every proper pairing of
// the principal axes (their signs are ambiguous).
std::vector<Motion> startingMotions(const Moments& fixed, const Moments& moving)
{
	const Eigen::Vector3d cf = fixed.centroid(), cm = moving.centroid();
	std::vector<Motion> starts{{Eigen::Matrix3d::Identity(), cm - cf}};
	Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> ef(fixed.covariance()), em(moving.covariance());
	for (int signs = 0; signs < 8; ++signs)
	{
		const Eigen::Vector3d s(signs & 1 ? -1.0 : 1.0, signs & 2 ? -1.0 : 1.0, signs & 4 ? -1.0 : 1.0);
		const Eigen::Matrix3d r = em.eigenvectors() * s.asDiagonal() * ef.eigenvectors().transpose();
		if (r.determinant() > 0.0)
			starts.push_back({r, cm - r * cf});
	}
	return starts;
}

long strideFor(const Volume& v, long maxSamples)
{
	const double ratio =
	    static_cast<double>(v.dims.cast<long>().prod()) / static_cast<double>(std::max(1L, maxSamples));
	return std::max(1L, static_cast<long>(std::ceil(std::cbrt(ratio))));
}

PairLevel makePairLevel(const Volume& fixedRaw, const Volume& movingRaw, long maxSamples)
{
	// Both sides get the same isotropic blur: a blur that differed between them, or that followed
	// the voxel axes of grids turned against each other, would bias the optimum.
	const double sigma = std::max(fixedRaw.spacing.maxCoeff(), movingRaw.spacing.maxCoeff());
	const Volume fixed = smooth(fixedRaw, sigma);
	PairLevel p;
	p.moving = smooth(movingRaw, sigma);
	p.movingIndexLinear = p.moving.indexLinear();
	p.movingIndexOffset = p.moving.indexOffset();
	const int stride = static_cast<int>(strideFor(fixed, maxSamples));
	for (int z = 0; z < fixed.dims(2); z += stride)
		for (int y = 0; y < fixed.dims(1); y += stride)
			for (int x = 0; x < fixed.dims(0); x += stride)
			{
				p.points.push_back(fixed.world(x, y, z));
				p.values.push_back(fixed.data[fixed.index(x, y, z)]);
			}
	const auto [lo, hi] = std::minmax_element(fixed.data.begin(), fixed.data.end());
	const double range = *hi > *lo ? static_cast<double>(*hi - *lo) : 1.0;
	p.weight = 1.0 / (range * range * static_cast<double>(p.points.size()));
	return p;
}

using Pyramid = std::vector<Volume>;    // finest first

int levelsPossible(const Volume& finest, int maxLevels)
{
	int levels = 1;
	Eigen::Array3i d = finest.dims;
	while (levels < maxLevels && ((d + 1) / 2).minCoeff() >= 8)
	{
		d = (d + 1) / 2;
		++levels;
	}
	return levels;
}

Pyramid buildPyramid(Volume finest, int levels)
{
	Pyramid p;
	p.push_back(std::move(finest));
	while (static_cast<int>(p.size()) < levels)
		p.push_back(halve(p.back()));
	return p;
}

bool constantIntensity(const Volume& v)
{
	const auto [lo, hi] = std::minmax_element(v.data.begin(), v.data.end());
	return !(*hi > *lo);
}

struct Inputs
{
	std::vector<Pyramid> fixed, moving;
	int levels = 0;
	std::string error;
};

Inputs prepare(const std::vector<ImageView>& fixed, const std::vector<ImageView>& moving, int maxLevels)
{
	Inputs in;
	in.levels = std::max(1, maxLevels);
	std::vector<Volume> f, m;
	for (size_t i = 0; i < fixed.size() + moving.size() && in.error.empty(); ++i)
	{
		const bool isFixed = i < fixed.size();
		const ImageView& view = isFixed ? fixed[i] : moving[i - fixed.size()];
		const std::string name = describe(isFixed ? "fixed" : "moving", isFixed ? i : i - fixed.size());
		if (auto why = checkView(view); !why.empty())
		{
			in.error = name + " " + why;
			break;
		}
		Volume v = copyVolume(view);
		if (!allFinite(v))
			in.error = name + " has non-finite voxels";
		else if (constantIntensity(v))
			in.error = name + " has constant intensity";
		in.levels = std::min(in.levels, levelsPossible(v, maxLevels));
		(isFixed ? f : m).push_back(std::move(v));
	}
	if (!in.error.empty())
		return in;
	for (auto& v : f)
		in.fixed.push_back(buildPyramid(std::move(v), in.levels));
	for (auto& v : m)
		in.moving.push_back(buildPyramid(std::move(v), in.levels));
	return in;
}

std::vector<PairLevel> pairsAtLevel(const Inputs& in, int level, long maxSamples)
{
	std::vector<PairLevel> pairs;
	for (size_t i = 0; i < in.fixed.size(); ++i)
		pairs.push_back(makePairLevel(in.fixed[i][static_cast<size_t>(level)], in.moving[i][static_cast<size_t>(level)],
		                              maxSamples));
	return pairs;
}

Eigen::Matrix4d toMatrix(const Motion& m)
{
	Eigen::Matrix4d g = Eigen::Matrix4d::Identity();
	g.topLeftCorner<3, 3>() = m.rotation;
	g.topRightCorner<3, 1>() = m.translation;
	return g;
}

}    // namespace

RigidFitResult registerRigidImages(const std::vector<ImageView>& fixed, const std::vector<ImageView>& moving,
                                   const ImageRegistrationOptions& options)
{
	if (fixed.empty() || moving.empty())
		return RigidFitResult::failure("no images in common");
	if (fixed.size() != moving.size())
		return RigidFitResult::failure("fixed and moving images differ in number");
	const Inputs in = prepare(fixed, moving, options.maxLevels);
	if (!in.error.empty())
		return RigidFitResult::failure(in.error);

	Moments fixedMoments, movingMoments;
	for (size_t i = 0; i < in.fixed.size(); ++i)
	{
		addMoments(in.fixed[i].back(), fixedMoments);
		addMoments(in.moving[i].back(), movingMoments);
	}
	const Eigen::Vector3d centre = movingMoments.centroid();
	const double radius = std::sqrt(std::max(movingMoments.covariance().trace(), 1e-12));
	double finestSpacing = std::numeric_limits<double>::max();
	for (const auto& p : in.moving)
		finestSpacing = std::min(finestSpacing, p.front().spacing.minCoeff());

	// Every start runs on the two coarsest levels, where small asymmetries already show, and the
	// best one goes on to the finest.
	const int coarsest = in.levels - 1, selection = std::max(0, coarsest - 1);
	const std::vector<Motion> starts = startingMotions(fixedMoments, movingMoments);
	const int iterations = std::max(1, options.iterationsPerLevel);
	const double budget = static_cast<double>(iterations) *
	                      static_cast<double>(static_cast<int>(starts.size()) * (coarsest - selection + 1) + selection);
	double done = 0.0;
	const std::function<void()> tick = [&] {
		done += 1.0;
		if (options.progress)
			options.progress(std::min(done / budget, 1.0));
	};
	const auto tolerance = [&](int level) { return 0.01 * finestSpacing * std::pow(2.0, level); };

	const auto coarsePairs = pairsAtLevel(in, coarsest, options.maxSamples);
	auto pairs = pairsAtLevel(in, selection, options.maxSamples);
	Refinement best;
	best.evaluation.cost = std::numeric_limits<double>::infinity();
	for (const auto& start : starts)
	{
		Refinement r = refine(coarsePairs, start, centre, radius, tolerance(coarsest), iterations, tick);
		if (selection != coarsest)
			r = refine(pairs, r.motion, centre, radius, tolerance(selection), iterations, tick);
		if (r.evaluation.cost < best.evaluation.cost)
			best = r;
	}
	for (int level = selection - 1; level >= 0; --level)
	{
		pairs = pairsAtLevel(in, level, options.maxSamples);
		best = refine(pairs, best.motion, centre, radius, tolerance(level), iterations, tick);
	}
	if (options.progress)
		options.progress(1.0);

	RigidFitResult result;
	result.ok = true;
	result.transform = toMatrix(best.motion).inverse();
	result.rms = std::sqrt(best.evaluation.squaredSum / static_cast<double>(std::max(1L, best.evaluation.samples)));
	return result;
}

}    // namespace Orbitane::Registration
