#include "anatomy/registration/ImageRegistration.h"
#include "anatomy/registration/MeshDeformation.h"
#include "anatomy/registration/RigidFit.h"

#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <random>

using namespace Orbitane::Registration;

namespace {

constexpr double kPi = 3.14159265358979323846;

Eigen::Matrix4d rigid(double angleDegrees, const Eigen::Vector3d& axis, const Eigen::Vector3d& translation)
{
	Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
	m.topLeftCorner<3, 3>() = Eigen::AngleAxisd(angleDegrees * kPi / 180.0, axis.normalized()).toRotationMatrix();
	m.topRightCorner<3, 1>() = translation;
	return m;
}

Eigen::Vector3d apply(const Eigen::Matrix4d& m, const Eigen::Vector3d& p)
{
	return m.topLeftCorner<3, 3>() * p + m.topRightCorner<3, 1>();
}

// The moving plane (n, d) seen after x' = R·x + t, with its coefficients rescaled by `scale`.
Eigen::Vector4d mapPlane(const Eigen::Matrix4d& m, const Eigen::Vector4d& plane, double scale)
{
	const Eigen::Vector3d n = m.topLeftCorner<3, 3>() * plane.head<3>();
	Eigen::Vector4d out;
	out << n, plane(3) - n.dot(m.topRightCorner<3, 1>());
	return scale * out;
}

std::vector<PointCorrespondence> correspondences(const Eigen::Matrix4d& motion,
                                                 const std::vector<Eigen::Vector3d>& moving)
{
	std::vector<PointCorrespondence> out;
	for (const auto& p : moving)
		out.push_back({apply(motion, p), p, 1.0});
	return out;
}

double rotationErrorDegrees(const Eigen::Matrix4d& a, const Eigen::Matrix4d& b)
{
	const Eigen::Matrix3d r = a.topLeftCorner<3, 3>() * b.topLeftCorner<3, 3>().transpose();
	return Eigen::AngleAxisd(r).angle() * 180.0 / kPi;
}

const Eigen::Matrix4d kMotion = rigid(37.0, {1.0, -2.0, 0.5}, {12.5, -3.0, 40.0});

}    // namespace

// --- Keypoints and planes -------------------------------------------------------------------

TEST(PointsAndPlanes, RecoversMotionFromThreePoints)
{
	const auto result = fitRigidPointsAndPlanes(correspondences(kMotion, {{10, 0, 5}, {-3, 22, 1}, {4, 7, -15}}), {});
	ASSERT_TRUE(result.ok) << result.reason;
	EXPECT_LT((result.transform - kMotion).cwiseAbs().maxCoeff(), 1e-9);
	EXPECT_LT(result.rms, 1e-9);
}

TEST(PointsAndPlanes, RecoversMotionFromThreePlanesAndOnePoint)
{
	const std::vector<Eigen::Vector4d> moving{{2.0, 0.0, 0.0, -8.0}, {0.3, 1.5, 0.0, 4.0}, {0.2, -0.4, 3.0, 1.0}};
	std::vector<PlaneCorrespondence> planes;
	for (size_t i = 0; i < moving.size(); ++i)
		planes.push_back({mapPlane(kMotion, moving[i], 0.5 + static_cast<double>(i)), moving[i], 1.0});

	const auto result = fitRigidPointsAndPlanes(correspondences(kMotion, {{1.0, 2.0, 3.0}}), planes);
	ASSERT_TRUE(result.ok) << result.reason;
	EXPECT_LT((result.transform - kMotion).cwiseAbs().maxCoeff(), 1e-9);
	EXPECT_LT(result.rms, 1e-9);

	// Three independent normals fix translation through the offsets alone.
	const auto planesOnly = fitRigidPointsAndPlanes({}, planes);
	ASSERT_TRUE(planesOnly.ok) << planesOnly.reason;
	EXPECT_LT((planesOnly.transform - kMotion).cwiseAbs().maxCoeff(), 1e-9);
}

TEST(PointsAndPlanes, PlaneFixesTheAxisOfCollinearPoints)
{
	const auto line = correspondences(kMotion, {{0, 0, 0}, {5, 0, 0}, {10, 0, 0}});
	const Eigen::Vector4d across(0.0, 0.0, 2.0, -6.0), along(4.0, 0.0, 0.0, 1.0);

	const auto fixedAxis = fitRigidPointsAndPlanes(line, {{mapPlane(kMotion, across, 1.0), across, 1.0}});
	ASSERT_TRUE(fixedAxis.ok) << fixedAxis.reason;
	EXPECT_LT((fixedAxis.transform - kMotion).cwiseAbs().maxCoeff(), 1e-9);

	const auto free = fitRigidPointsAndPlanes(line, {{mapPlane(kMotion, along, 1.0), along, 1.0}});
	EXPECT_FALSE(free.ok);
	EXPECT_NE(free.reason.find("rotation is not determined"), std::string::npos) << free.reason;
}

TEST(PointsAndPlanes, LeastSquaresSpreadsNoiseOverAllPoints)
{
	std::mt19937 rng(7);
	std::normal_distribution<double> noise(0.0, 0.01);
	std::vector<Eigen::Vector3d> moving;
	for (int i = 0; i < 40; ++i)
		moving.push_back(Eigen::Vector3d(i % 5, (i / 5) % 4, i / 20) * 10.0);
	auto pairs = correspondences(kMotion, moving);
	for (auto& p : pairs)
		p.fixed += Eigen::Vector3d(noise(rng), noise(rng), noise(rng));
	const auto result = fitRigidPointsAndPlanes(pairs, {});
	ASSERT_TRUE(result.ok) << result.reason;
	EXPECT_LT(rotationErrorDegrees(result.transform, kMotion), 0.05);
	EXPECT_NEAR(result.rms, 0.01 * std::sqrt(3.0), 0.005);
}

TEST(PointsAndPlanes, RefusesDegenerateInputWithReason)
{
	const auto reasonOf = [](const std::vector<PointCorrespondence>& p, const std::vector<PlaneCorrespondence>& q) {
		const auto r = fitRigidPointsAndPlanes(p, q);
		EXPECT_FALSE(r.ok);
		EXPECT_TRUE(r.transform.isIdentity());
		return r.reason;
	};
	EXPECT_EQ(reasonOf({}, {}), "no keypoints or planes in common");
	EXPECT_NE(reasonOf(correspondences(kMotion, {{0, 0, 0}, {1, 1, 1}}), {}).find("collinear"), std::string::npos);
	EXPECT_NE(reasonOf(correspondences(kMotion, {{0, 0, 0}, {1, 1, 1}, {3, 3, 3}}), {}).find("collinear"),
	          std::string::npos);
	EXPECT_NE(reasonOf(correspondences(kMotion, {{1, 2, 3}, {1, 2, 3}, {1, 2, 3}}), {}).find("coincide"),
	          std::string::npos);

	const Eigen::Vector4d a(1, 0, 0, 1), b(0, 1, 0, 2);
	const std::vector<PlaneCorrespondence> twoPlanes{{mapPlane(kMotion, a, 1), a, 1}, {mapPlane(kMotion, b, 1), b, 1}};
	EXPECT_NE(reasonOf({}, twoPlanes).find("translation is not determined"), std::string::npos);
	EXPECT_EQ(reasonOf({}, {{Eigen::Vector4d(0, 0, 0, 1), a, 1}}), "a plane has a zero normal");

	auto nan = correspondences(kMotion, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
	nan[1].moving.x() = std::numeric_limits<double>::quiet_NaN();
	EXPECT_EQ(reasonOf(nan, {}), "a keypoint has a non-finite coordinate");
	auto negative = correspondences(kMotion, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
	negative[0].weight = -1.0;
	EXPECT_EQ(reasonOf(negative, {}), "a keypoint has a negative or non-finite weight");
}

// --- Similarity -------------------------------------------------------------------------------

TEST(PointsRigidScaling, RecoversRotationTranslationAndScale)
{
	Eigen::Matrix4d similarity = kMotion;
	similarity.topLeftCorner<3, 3>() *= 1.7;
	auto pairs = correspondences(similarity, {{10, 0, 5}, {-3, 22, 1}, {4, 7, -15}, {0, 0, 0}, {8, 8, 8}});
	pairs.push_back({{100, 100, 100}, {1, 1, 1}, 0.0});    // an outlier without weight must not matter

	const auto result = fitSimilarity(pairs);
	ASSERT_TRUE(result.ok) << result.reason;
	EXPECT_LT((result.transform - similarity).cwiseAbs().maxCoeff(), 1e-9);
	EXPECT_LT(result.rms, 1e-9);
}

TEST(PointsRigidScaling, NeverReturnsAReflection)
{
	std::vector<PointCorrespondence> mirrored;
	for (const Eigen::Vector3d p :
	     {Eigen::Vector3d(10, 0, 5), Eigen::Vector3d(-3, 22, 1), Eigen::Vector3d(4, 7, -15), Eigen::Vector3d(6, -9, 2)})
		mirrored.push_back({Eigen::Vector3d(-p.x(), p.y(), p.z()), p, 1.0});
	const auto result = fitSimilarity(mirrored);
	ASSERT_TRUE(result.ok) << result.reason;
	const Eigen::Matrix3d linear = result.transform.topLeftCorner<3, 3>();
	EXPECT_GT(linear.determinant(), 0.0);
	EXPECT_GT(result.rms, 1.0);
}

TEST(PointsRigidScaling, RefusesTooFewOrCollinearPoints)
{
	const auto two = fitSimilarity(correspondences(kMotion, {{0, 0, 0}, {1, 2, 3}}));
	EXPECT_FALSE(two.ok);
	EXPECT_EQ(two.reason, "at least three keypoints are needed, got 2");
	const auto line = fitSimilarity(correspondences(kMotion, {{0, 0, 0}, {1, 2, 3}, {2, 4, 6}, {-1, -2, -3}}));
	EXPECT_FALSE(line.ok);
	EXPECT_NE(line.reason.find("collinear"), std::string::npos) << line.reason;
}

// --- Images -----------------------------------------------------------------------------------

namespace {

struct TestImage
{
	std::vector<float> voxels;
	ImageView view;
};

// Samples `inside` (a test on world points) at the voxel centres of a grid.
TestImage labelVolume(const std::array<int, 3>& dims, const Eigen::Vector3d& spacing, const Eigen::Matrix4d& matrix,
                      const std::function<bool(const Eigen::Vector3d&)>& inside)
{
	TestImage img;
	img.voxels.reserve(static_cast<size_t>(dims[0] * dims[1] * dims[2]));
	for (int k = 0; k < dims[2]; ++k)
		for (int j = 0; j < dims[1]; ++j)
			for (int i = 0; i < dims[0]; ++i)
				img.voxels.push_back(inside(apply(matrix, spacing.cwiseProduct(Eigen::Vector3d(i, j, k)))) ? 1.0f
				                                                                                           : 0.0f);
	img.view.voxels = std::span<const float>(img.voxels);
	img.view.dims = dims;
	img.view.spacing = spacing;
	img.view.matrixToWorld = matrix;
	return img;
}

bool inEllipsoid(const Eigen::Vector3d& p, const Eigen::Vector3d& centre, const Eigen::Vector3d& radii)
{
	return (p - centre).cwiseQuotient(radii).squaredNorm() <= 1.0;
}

// An object without symmetries: an ellipsoid with a knob on one side and a ridge on another.
bool asymmetricObject(const Eigen::Vector3d& p)
{
	return inEllipsoid(p, {24, 24, 24}, {17, 11, 6}) || inEllipsoid(p, {33, 29, 27}, {5, 5, 5}) ||
	       inEllipsoid(p, {18, 19, 21}, {3, 6, 3});
}

// Builds the fixed and moving volumes of `object` where moving world points map to fixed ones
// by `motion`; the moving grid sits elsewhere in the world, turned a quarter about z.
std::pair<TestImage, TestImage> imagePair(const Eigen::Matrix4d& motion,
                                          const std::function<bool(const Eigen::Vector3d&)>& object)
{
	const Eigen::Vector3d spacing(1.0, 1.0, 1.25);
	TestImage fixed = labelVolume({48, 48, 40}, spacing, Eigen::Matrix4d::Identity(), object);
	const Eigen::Matrix4d movingGrid = rigid(90.0, Eigen::Vector3d::UnitZ(), {100.0, -50.0, 7.0});
	const Eigen::Matrix4d movingToFixed = motion;
	// The moving grid is centred on where the object lands after the inverse motion.
	Eigen::Matrix4d grid = movingGrid;
	const Eigen::Vector3d objectInMoving = apply(motion.inverse(), Eigen::Vector3d(24, 24, 24));
	grid.topRightCorner<3, 1>() += objectInMoving - apply(grid, spacing.cwiseProduct(Eigen::Vector3d(24, 24, 20)));
	TestImage moving = labelVolume({48, 48, 40}, spacing, grid,
	                               [&](const Eigen::Vector3d& p) { return object(apply(movingToFixed, p)); });
	return {std::move(fixed), std::move(moving)};
}

void expectRecovered(const RigidFitResult& result, const Eigen::Matrix4d& motion, const Eigen::Vector3d& at)
{
	ASSERT_TRUE(result.ok) << result.reason;
	const Eigen::Vector3d movingPoint = apply(motion.inverse(), at);
	EXPECT_LT((apply(result.transform, movingPoint) - at).norm(), 0.5);
	EXPECT_LT(rotationErrorDegrees(result.transform, motion), 1.0);
}

}    // namespace

TEST(RigidImages, RecoversMotionOfLabelVolume)
{
	const Eigen::Matrix4d motion = rigid(17.0, {1.0, 2.0, 0.5}, {3.0, -2.0, 4.0});
	const auto [fixed, moving] = imagePair(motion, asymmetricObject);
	const auto result = registerRigidImages({fixed.view}, {moving.view});
	expectRecovered(result, motion, {24, 24, 24});
	EXPECT_LT(result.rms, 0.2);
}

TEST(RigidImages, PrincipalAxesCatchLargeRotations)
{
	const Eigen::Matrix4d motion = rigid(150.0, {0.3, -1.0, 0.8}, {-5.0, 8.0, 2.0});
	const auto [fixed, moving] = imagePair(motion, asymmetricObject);
	std::vector<double> progress;
	ImageRegistrationOptions options;
	options.progress = [&](double f) { progress.push_back(f); };
	expectRecovered(registerRigidImages({fixed.view}, {moving.view}, options), motion, {24, 24, 24});
	ASSERT_FALSE(progress.empty());
	EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
	EXPECT_DOUBLE_EQ(progress.back(), 1.0);
}

TEST(RigidImages, PairsTogetherFixWhatNoneFixesAlone)
{
	// A ball only fixes a position and a rod leaves its own axis free; together they fix the motion.
	const Eigen::Matrix4d motion = rigid(12.0, {0.0, 1.0, 1.0}, {2.0, 1.0, -3.0});
	const auto ball = [](const Eigen::Vector3d& p) { return inEllipsoid(p, {17, 17, 24}, {6, 6, 6}); };
	const auto rod = [](const Eigen::Vector3d& p) { return inEllipsoid(p, {30, 30, 24}, {3.5, 3.5, 12}); };
	const auto [fixedBall, movingBall] = imagePair(motion, ball);
	const auto [fixedRod, movingRod] = imagePair(motion, rod);

	std::vector<double> doubles(movingRod.voxels.begin(), movingRod.voxels.end());
	ImageView doubleView = movingRod.view;
	doubleView.voxels = std::span<const double>(doubles);

	const auto result = registerRigidImages({fixedBall.view, fixedRod.view}, {movingBall.view, doubleView});
	expectRecovered(result, motion, {17, 17, 24});
	expectRecovered(result, motion, {30, 30, 34});
}

TEST(RigidImages, RefusesUnusableImagesWithReason)
{
	const auto [fixed, moving] = imagePair(Eigen::Matrix4d::Identity(), asymmetricObject);
	EXPECT_EQ(registerRigidImages({}, {}).reason, "no images in common");
	EXPECT_EQ(registerRigidImages({fixed.view, fixed.view}, {moving.view}).reason,
	          "fixed and moving images differ in number");

	const std::vector<float> zeros(fixed.voxels.size(), 0.0f);
	ImageView blank = fixed.view;
	blank.voxels = std::span<const float>(zeros);
	EXPECT_EQ(registerRigidImages({fixed.view}, {blank}).reason, "moving image 1 has constant intensity");

	ImageView flat = fixed.view;
	flat.dims = {48, 48 * 40, 1};
	EXPECT_EQ(registerRigidImages({flat}, {moving.view}).reason,
	          "fixed image 1 is not a 3-D volume of at least 4 voxels along each axis");

	ImageView shortData = fixed.view;
	shortData.voxels = std::span<const float>(fixed.voxels.data(), 100);
	EXPECT_NE(registerRigidImages({shortData}, {moving.view}).reason.find("holds 100 voxels"), std::string::npos);

	ImageView badSpacing = moving.view;
	badSpacing.spacing.z() = 0.0;
	EXPECT_EQ(registerRigidImages({fixed.view}, {badSpacing}).reason,
	          "moving image 1 has a spacing that is not positive");

	ImageView singular = moving.view;
	singular.matrixToWorld.col(2).setZero();
	EXPECT_EQ(registerRigidImages({fixed.view}, {singular}).reason,
	          "moving image 1 has a singular or non-finite matrix to world");

	std::vector<float> withNan = fixed.voxels;
	withNan[5] = std::numeric_limits<float>::quiet_NaN();
	ImageView nanView = fixed.view;
	nanView.voxels = std::span<const float>(withNan);
	EXPECT_EQ(registerRigidImages({nanView}, {moving.view}).reason, "fixed image 1 has non-finite voxels");
}

// --- Meshes -----------------------------------------------------------------------------------

namespace {

struct TestMesh
{
	Vertices vertices;
	Faces faces;
};

// A unit sphere by repeated subdivision of an icosahedron.
TestMesh icosphere(int subdivisions)
{
	const double g = (1.0 + std::sqrt(5.0)) / 2.0;
	TestMesh m;
	m.vertices = {{-1, g, 0},  {1, g, 0},  {-1, -g, 0}, {1, -g, 0}, {0, -1, g},  {0, 1, g},
	              {0, -1, -g}, {0, 1, -g}, {g, 0, -1},  {g, 0, 1},  {-g, 0, -1}, {-g, 0, 1}};
	m.faces = {{0, 11, 5},  {0, 5, 1},  {0, 1, 7},  {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
	           {11, 10, 2}, {10, 7, 6}, {7, 1, 8},  {3, 9, 4},  {3, 4, 2},   {3, 2, 6}, {3, 6, 8},
	           {3, 8, 9},   {4, 9, 5},  {2, 4, 11}, {6, 2, 10}, {8, 6, 7},   {9, 8, 1}};
	for (auto& v : m.vertices)
		v.normalize();
	for (int s = 0; s < subdivisions; ++s)
	{
		std::map<std::pair<int, int>, int> midpoints;
		const auto midpoint = [&](int a, int b) {
			const auto key = std::minmax(a, b);
			if (auto it = midpoints.find(key); it != midpoints.end())
				return it->second;
			m.vertices.push_back(
			    (m.vertices[static_cast<size_t>(a)] + m.vertices[static_cast<size_t>(b)]).normalized());
			return midpoints[key] = static_cast<int>(m.vertices.size()) - 1;
		};
		Faces next;
		for (const auto& f : m.faces)
		{
			const int ab = midpoint(f(0), f(1)), bc = midpoint(f(1), f(2)), ca = midpoint(f(2), f(0));
			next.insert(next.end(), {{f(0), ab, ca}, {f(1), bc, ab}, {f(2), ca, bc}, {ab, bc, ca}});
		}
		m.faces = std::move(next);
	}
	return m;
}

// An ellipsoid, optionally pushed outwards in a smooth bump around the direction `bumpAt`.
TestMesh ellipsoid(int subdivisions, double bumpHeight, const Eigen::Vector3d& shift = Eigen::Vector3d::Zero())
{
	TestMesh m = icosphere(subdivisions);
	const Eigen::Vector3d radii(30, 20, 15), bumpAt = Eigen::Vector3d(1, 1, 0.5).normalized();
	for (auto& v : m.vertices)
	{
		const double angle = std::acos(std::clamp(v.dot(bumpAt), -1.0, 1.0));
		const double bump = bumpHeight * std::exp(-angle * angle / (2 * 0.3 * 0.3));
		const Eigen::Vector3d onSurface = v.cwiseProduct(radii);
		v = onSurface + bump * onSurface.normalized() + shift;
	}
	return m;
}

Eigen::Vector3d faceNormal(const Vertices& v, const Eigen::Vector3i& f)
{
	return (v[static_cast<size_t>(f(1))] - v[static_cast<size_t>(f(0))])
	    .cross(v[static_cast<size_t>(f(2))] - v[static_cast<size_t>(f(0))]);
}

}    // namespace

TEST(ClosestPoint, TriangleAgreesWithDenseSampling)
{
	std::mt19937 rng(3);
	std::uniform_real_distribution<double> u(-2.0, 2.0);
	const std::vector<std::array<Eigen::Vector3d, 3>> triangles{
	    {Eigen::Vector3d(0, 0, 0), Eigen::Vector3d(1, 0, 0), Eigen::Vector3d(0, 1, 0)},
	    {Eigen::Vector3d(0.2, -0.5, 0.3), Eigen::Vector3d(1.5, 0.1, -0.2), Eigen::Vector3d(-0.4, 0.9, 1.1)},
	    {Eigen::Vector3d(0, 0, 0), Eigen::Vector3d(1, 1, 1), Eigen::Vector3d(2, 2, 2)},    // collapsed to a segment
	};
	for (const auto& [a, b, c] : triangles)
		for (int q = 0; q < 200; ++q)
		{
			const Eigen::Vector3d p(u(rng), u(rng), u(rng));
			const Eigen::Vector3d found = closestPointOnTriangle(p, a, b, c);
			double sampled = std::numeric_limits<double>::infinity();
			const int n = 100;
			for (int i = 0; i <= n; ++i)
				for (int j = 0; i + j <= n; ++j)
					sampled = std::min(sampled, (a + (b - a) * i / double(n) + (c - a) * j / double(n) - p).norm());
			EXPECT_LE((found - p).norm(), sampled + 1e-12);
			EXPECT_GE((found - p).norm(), sampled - 0.03);    // grid resolution
		}
}

TEST(ClosestPoint, SurfaceQueryMatchesExhaustiveSearch)
{
	const TestMesh mesh = ellipsoid(2, 4.0);
	const TriangleSurface surface(mesh.vertices, mesh.faces);
	std::mt19937 rng(11);
	std::uniform_real_distribution<double> u(-45.0, 45.0);
	for (int q = 0; q < 300; ++q)
	{
		const Eigen::Vector3d p(u(rng), u(rng), u(rng));
		double exhaustive = std::numeric_limits<double>::infinity();
		for (const auto& f : mesh.faces)
			exhaustive = std::min(exhaustive, (closestPointOnTriangle(p, mesh.vertices[static_cast<size_t>(f(0))],
			                                                          mesh.vertices[static_cast<size_t>(f(1))],
			                                                          mesh.vertices[static_cast<size_t>(f(2))]) -
			                                   p)
			                                      .norm());
		const SurfacePoint found = surface.closestPoint(p);
		EXPECT_NEAR(found.distance, exhaustive, 1e-12);
		EXPECT_NEAR((found.point - p).norm(), found.distance, 1e-12);
		ASSERT_GE(found.triangle, 0);
	}
	EXPECT_THROW(TriangleSurface(mesh.vertices, {}), std::invalid_argument);
	EXPECT_THROW(TriangleSurface(mesh.vertices, {{0, 1, static_cast<int>(mesh.vertices.size())}}),
	             std::invalid_argument);
}

TEST(DeformableMesh, FollowsALocalBulgeSmoothly)
{
	const TestMesh fixed = ellipsoid(4, 7.0);
	const TestMesh moving = ellipsoid(3, 0.0, {1.5, -1.0, 0.5});
	const double before = meanSurfaceDistance(moving.vertices, fixed.vertices, fixed.faces);

	const auto result = deformMeshOnto(fixed.vertices, fixed.faces, moving.vertices, moving.faces);
	ASSERT_TRUE(result.ok) << result.reason;
	ASSERT_EQ(result.vertices.size(), moving.vertices.size());
	const double after = meanSurfaceDistance(result.vertices, fixed.vertices, fixed.faces);
	EXPECT_LT(after, 0.2 * before) << "before " << before << " after " << after;

	// Smooth means no triangle turns over.
	for (const auto& f : moving.faces)
		EXPECT_GT(faceNormal(result.vertices, f).dot(faceNormal(moving.vertices, f)), 0.0);
}

TEST(DeformableMesh, FlattensABulgeAndReportsProgress)
{
	const TestMesh fixed = ellipsoid(3, 0.0);
	const TestMesh moving = ellipsoid(3, 6.0);
	std::vector<double> progress;
	MeshDeformationOptions options;
	options.progress = [&](double f) { progress.push_back(f); };
	const auto result = deformMeshOnto(fixed.vertices, fixed.faces, moving.vertices, moving.faces, options);
	ASSERT_TRUE(result.ok) << result.reason;
	EXPECT_LT(meanSurfaceDistance(result.vertices, fixed.vertices, fixed.faces),
	          0.2 * meanSurfaceDistance(moving.vertices, fixed.vertices, fixed.faces));
	ASSERT_EQ(progress.size(), static_cast<size_t>(options.iterations));
	EXPECT_DOUBLE_EQ(progress.back(), 1.0);
}

TEST(DeformableMesh, RefusesBrokenMeshesWithReason)
{
	const TestMesh mesh = ellipsoid(1, 0.0);
	EXPECT_EQ(deformMeshOnto(mesh.vertices, {}, mesh.vertices, mesh.faces).reason,
	          "the fixed mesh cannot be used: the surface has no faces");
	EXPECT_EQ(deformMeshOnto(mesh.vertices, mesh.faces, {}, {}).reason, "the moving mesh has no vertices");
	Faces broken = mesh.faces;
	broken[3](1) = -1;
	EXPECT_EQ(deformMeshOnto(mesh.vertices, mesh.faces, mesh.vertices, broken).reason,
	          "the moving mesh has a face that refers to a missing vertex");
	Vertices nan = mesh.vertices;
	nan[0].y() = std::numeric_limits<double>::infinity();
	EXPECT_EQ(deformMeshOnto(nan, mesh.faces, mesh.vertices, mesh.faces).reason,
	          "the fixed mesh cannot be used: the surface has a non-finite vertex");
}
