#include "anatomy/shapemodel/Pca.h"
#include "anatomy/shapemodel/Procrustes.h"

#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>

using namespace Orbitane::ShapeModel;

namespace {

Eigen::Matrix4d similarity(double angle, const Eigen::Vector3d& axis, const Eigen::Vector3d& t, double scale = 1.0)
{
	Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
	m.topLeftCorner<3, 3>() = scale * Eigen::AngleAxisd(angle, axis.normalized()).toRotationMatrix();
	m.topRightCorner<3, 1>() = t;
	return m;
}

PointSet randomPoints(int count, std::mt19937& rng, double extent = 50.0)
{
	std::uniform_real_distribution<double> u(-extent, extent);
	PointSet p(3, count);
	for (int i = 0; i < count; ++i)
		p.col(i) = Eigen::Vector3d(u(rng), u(rng), u(rng));
	return p;
}

// Training shapes: one base shape, each copy deformed a little and then placed anywhere.
std::vector<PointSet> posedShapes(const PointSet& base, int count, bool scaled, std::mt19937& rng)
{
	std::normal_distribution<double> noise(0.0, 1.0);
	std::uniform_real_distribution<double> u(-1.0, 1.0);
	std::vector<PointSet> shapes;
	for (int s = 0; s < count; ++s)
	{
		PointSet deformed = base;
		for (Eigen::Index i = 0; i < deformed.size(); ++i)
			deformed.data()[i] += noise(rng);
		const Eigen::Matrix4d pose =
		    similarity(3.0 * u(rng), {u(rng), u(rng), u(rng) + 2.0}, {40 * u(rng), 40 * u(rng), 40 * u(rng)},
		               scaled ? 1.0 + 0.3 * u(rng) : 1.0);
		shapes.push_back(transformed(pose, deformed));
	}
	return shapes;
}

double rms(const PointSet& a, const PointSet& b) { return std::sqrt((a - b).colwise().squaredNorm().mean()); }

}    // namespace

// --- Procrustes -------------------------------------------------------------------------------

TEST(Procrustes, RecoversSimilarityAndIgnoresUnweightedPoints)
{
	std::mt19937 rng(1);
	const PointSet source = randomPoints(8, rng);
	const Eigen::Matrix4d truth = similarity(2.1, {1, 1, -0.3}, {5, -7, 9}, 0.8);
	PointSet target = transformed(truth, source);

	EXPECT_LT((alignProcrustes(source, target, {}, true) - truth).cwiseAbs().maxCoeff(), 1e-9);
	Eigen::Matrix4d rigidTruth = truth;
	rigidTruth.topLeftCorner<3, 3>() /= 0.8;
	EXPECT_LT((alignProcrustes(source, transformed(rigidTruth, source)) - rigidTruth).cwiseAbs().maxCoeff(), 1e-9);

	// Points of weight zero (mesh vertices next to keypoints) follow but do not pull.
	target.col(7) += Eigen::Vector3d(100, 0, 0);
	Eigen::VectorXd weights = Eigen::VectorXd::Ones(8);
	weights(7) = 0.0;
	EXPECT_LT((alignProcrustes(source, target, weights, true) - truth).cwiseAbs().maxCoeff(), 1e-9);
	EXPECT_GT((alignProcrustes(source, target, {}, true) - truth).cwiseAbs().maxCoeff(), 0.1);
}

TEST(Procrustes, RefusesUndeterminedAlignments)
{
	PointSet line(3, 4);
	line << 0, 1, 2, 3, 0, 2, 4, 6, 0, 0, 0, 0;
	EXPECT_THROW(alignProcrustes(line, line), std::invalid_argument);
	EXPECT_THROW(alignProcrustes(line, line.leftCols(3)), std::invalid_argument);
	EXPECT_THROW(alignProcrustes(line, line, Eigen::VectorXd::Ones(3)), std::invalid_argument);
	try
	{
		alignProcrustes(line.leftCols(2), line.leftCols(2));
		FAIL() << "two points cannot fix a rotation";
	}
	catch (const std::invalid_argument& e)
	{
		EXPECT_STREQ(e.what(), "the shape cannot be aligned: at least three keypoints are needed, got 2");
	}
}

TEST(GeneralisedProcrustes, SettlesOnTheSameMeanWhateverTheBatchSize)
{
	std::mt19937 rng(5);
	const PointSet base = randomPoints(25, rng);
	const auto shapes = posedShapes(base, 14, false, rng);

	GeneralisedProcrustesOptions options;
	options.tolerance = 1e-12;
	options.batchSize = 1;
	const auto one = generalisedProcrustes(shapes, shapes[3], {}, options);
	options.batchSize = 5;
	std::vector<double> progress;
	options.progress = [&](double f) { progress.push_back(f); };
	const auto five = generalisedProcrustes(shapes, shapes[3], {}, options);

	ASSERT_TRUE(one.converged);
	ASSERT_TRUE(five.converged);
	EXPECT_GT(five.passes, 1);
	EXPECT_LT(rms(one.mean, five.mean), 1e-8);
	EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
	EXPECT_DOUBLE_EQ(progress.back(), 1.0);

	// At the fixed point the mean is the average of the aligned shapes and every aligned shape
	// is already optimally placed on the mean.
	PointSet average = PointSet::Zero(3, base.cols());
	for (size_t i = 0; i < shapes.size(); ++i)
	{
		average += five.aligned[i] / static_cast<double>(shapes.size());
		EXPECT_LT(rms(transformed(five.transforms[i], shapes[i]), five.aligned[i]), 1e-12);
		EXPECT_LT((alignProcrustes(five.aligned[i], five.mean) - Eigen::Matrix4d::Identity()).cwiseAbs().maxCoeff(),
		          1e-8);
		EXPECT_LT(rms(five.aligned[i], five.mean), 3.0);    // only the deformation is left
	}
	EXPECT_LT(rms(average, five.mean), 1e-8);
	// The mean keeps the pose of the shape it started from.
	EXPECT_LT((alignProcrustes(five.mean, shapes[3]) - Eigen::Matrix4d::Identity()).cwiseAbs().maxCoeff(), 1e-8);
}

TEST(GeneralisedProcrustes, WithScaleKeepsTheMeanSizeAndCarriesUnweightedPoints)
{
	std::mt19937 rng(9);
	const PointSet base = randomPoints(30, rng);
	const auto shapes = posedShapes(base, 10, true, rng);
	Eigen::VectorXd weights = Eigen::VectorXd::Zero(30);
	weights.head(8).setOnes();    // eight keypoints drive the alignment, the rest ride along

	GeneralisedProcrustesOptions options;
	options.withScale = true;
	options.batchSize = 3;
	const auto result = generalisedProcrustes(shapes, shapes[0], weights, options);
	ASSERT_TRUE(result.converged);
	const Eigen::Matrix4d toStart = alignProcrustes(result.mean, shapes[0], weights, true);
	const Eigen::Matrix3d linear = toStart.topLeftCorner<3, 3>();
	EXPECT_NEAR(linear.determinant(), 1.0, 1e-6);
	for (size_t i = 0; i < shapes.size(); ++i)
	{
		EXPECT_LT(rms(result.aligned[i], result.mean), 4.0);
		EXPECT_LT((alignProcrustes(shapes[i], result.mean, weights, true) - result.transforms[i]).cwiseAbs().maxCoeff(),
		          1e-6);
	}
}

TEST(GeneralisedProcrustes, RefusesMismatchedShapes)
{
	std::mt19937 rng(2);
	const PointSet mean = randomPoints(6, rng);
	EXPECT_THROW(generalisedProcrustes({}, mean), std::invalid_argument);
	EXPECT_THROW(generalisedProcrustes({mean, randomPoints(5, rng)}, mean), std::invalid_argument);
	EXPECT_THROW(generalisedProcrustes({mean}, mean, Eigen::VectorXd::Ones(2)), std::invalid_argument);
	PointSet collapsed = mean;
	collapsed.colwise() = mean.col(0);
	try
	{
		generalisedProcrustes({mean, collapsed}, mean);
		FAIL() << "a shape whose points coincide cannot be aligned";
	}
	catch (const std::invalid_argument& e)
	{
		EXPECT_STREQ(e.what(), "shape 2: the shape cannot be aligned: all keypoints coincide");
	}
}

// --- PCA --------------------------------------------------------------------------------------

namespace {

// Shapes of `coordinates` values spread along `rank` random directions with falling strength,
// plus a small isotropic part when `noise` is set.
Eigen::MatrixXd trainingShapes(int coordinates, int count, int rank, double noise, std::mt19937& rng)
{
	std::normal_distribution<double> n(0.0, 1.0);
	const Eigen::MatrixXd directions = Eigen::MatrixXd::NullaryExpr(coordinates, rank, [&] { return n(rng); });
	const Eigen::MatrixXd weights = Eigen::MatrixXd::NullaryExpr(rank, count, [&] { return n(rng); });
	Eigen::VectorXd strength(rank);
	for (int i = 0; i < rank; ++i)
		strength(i) = 10.0 * std::pow(0.6, i);
	Eigen::MatrixXd shapes = directions * strength.asDiagonal() * weights;
	shapes.colwise() += Eigen::VectorXd::NullaryExpr(coordinates, [&] { return 100.0 * n(rng); });
	if (noise > 0.0)
		shapes += Eigen::MatrixXd::NullaryExpr(coordinates, count, [&] { return noise * n(rng); });
	return shapes;
}

void expectExactModel(const PcaModel& model, const Eigen::MatrixXd& shapes)
{
	ASSERT_EQ(model.modes.cols(), model.variances.size());
	EXPECT_TRUE(
	    std::is_sorted(model.variances.data(), model.variances.data() + model.variances.size(), std::greater<>()));
	// Through the Gram matrix, weak modes keep rounding of order ε·(strongest / weakest)² between them.
	EXPECT_LT(
	    (model.modes.transpose() * model.modes - Eigen::MatrixXd::Identity(model.modes.cols(), model.modes.cols()))
	        .cwiseAbs()
	        .maxCoeff(),
	    1e-8);
	for (Eigen::Index j = 0; j < shapes.cols(); ++j)
		EXPECT_LT((model.reconstruct(model.project(shapes.col(j))) - shapes.col(j)).cwiseAbs().maxCoeff(), 1e-6);
}

}    // namespace

TEST(Pca, VariancesAreTheSampleVariancesAlongTheModes)
{
	// Four shapes of two points moving along x and y in a balanced design: variances 8/3 and 2/3.
	Eigen::MatrixXd shapes(6, 4);
	const double a[4] = {2, -2, 0, 0}, b[4] = {0, 0, 1, -1};
	for (int j = 0; j < 4; ++j)
		shapes.col(j) << 1 + a[j], 2 + b[j], 3, 4, 5, 6;
	for (const auto route : {PcaRoute::Gram, PcaRoute::Svd})
	{
		const PcaModel model = computePca(shapes, {route, {}});
		ASSERT_EQ(model.variances.size(), 2);
		EXPECT_NEAR(model.variances(0), 8.0 / 3.0, 1e-12);
		EXPECT_NEAR(model.variances(1), 2.0 / 3.0, 1e-12);
		EXPECT_NEAR(model.modes(0, 0), 1.0, 1e-12);
		EXPECT_NEAR(model.modes(1, 1), 1.0, 1e-12);
		EXPECT_LT((model.mean - Eigen::VectorXd((Eigen::VectorXd(6) << 1, 2, 3, 4, 5, 6).finished())).norm(), 1e-12);
		expectExactModel(model, shapes);
	}
}

TEST(Pca, GramAndSvdRoutesAgreeAndReconstructExactly)
{
	std::mt19937 rng(4);
	const Eigen::MatrixXd shapes = trainingShapes(900, 40, 12, 0.01, rng);
	std::vector<double> progress;
	const PcaModel gram = computePca(shapes, {PcaRoute::Automatic, [&](double f) { progress.push_back(f); }});
	const PcaModel svd = computePca(shapes, {PcaRoute::Svd, {}});

	ASSERT_EQ(gram.modes.cols(), 39);    // centring leaves one direction without variation
	ASSERT_EQ(svd.modes.cols(), 39);
	expectExactModel(gram, shapes);
	expectExactModel(svd, shapes);
	EXPECT_LT(((gram.variances - svd.variances).array() / svd.variances.array()).abs().maxCoeff(), 1e-8);
	EXPECT_LT((gram.modes.leftCols(12) - svd.modes.leftCols(12)).cwiseAbs().maxCoeff(), 1e-8);
	EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
	EXPECT_DOUBLE_EQ(progress.back(), 1.0);
}

TEST(Pca, RankDeficientTrainingSetsGiveOnlyTheirModes)
{
	std::mt19937 rng(8);
	// More shapes than coordinates takes the SVD route, fewer the Gram route; both see rank 5.
	for (const auto& [coordinates, count] : {std::pair{30, 60}, std::pair{600, 25}})
	{
		Eigen::MatrixXd shapes = trainingShapes(coordinates, count, 5, 0.0, rng);
		shapes.col(1) = shapes.col(0);    // duplicates add no direction
		const PcaModel model = computePca(shapes);
		EXPECT_EQ(model.modes.cols(), 5) << coordinates << " coordinates, " << count << " shapes";
		expectExactModel(model, shapes);
		// A shape off the training span is brought to its closest model shape.
		Eigen::VectorXd off = shapes.col(2) + model.modes.col(0) * 3.0;
		Eigen::VectorXd orthogonal = Eigen::VectorXd::NullaryExpr(coordinates, [&] { return 1.0; });
		orthogonal -= model.modes * (model.modes.transpose() * orthogonal);
		off += orthogonal;
		EXPECT_LT((model.reconstruct(model.project(off)) - (off - orthogonal)).cwiseAbs().maxCoeff(), 1e-8);
	}
}

TEST(Pca, SingleShapeAndBadInput)
{
	const Eigen::MatrixXd one = Eigen::MatrixXd::Constant(9, 1, 2.5);
	const PcaModel model = computePca(one);
	EXPECT_EQ(model.modes.cols(), 0);
	EXPECT_EQ(model.reconstruct(Eigen::VectorXd()), one.col(0));
	EXPECT_THROW(model.reconstruct(Eigen::VectorXd::Ones(1)), std::invalid_argument);
	EXPECT_THROW(model.project(Eigen::VectorXd::Ones(3)), std::invalid_argument);

	EXPECT_THROW(computePca(Eigen::MatrixXd(9, 0)), std::invalid_argument);
	Eigen::MatrixXd nan = Eigen::MatrixXd::Ones(9, 3);
	nan(4, 1) = std::nan("");
	EXPECT_THROW(computePca(nan), std::invalid_argument);
}

TEST(Pca, StackedPointSetsKeepPointOrder)
{
	PointSet a(3, 2), b(3, 2);
	a << 1, 4, 2, 5, 3, 6;
	b = a * 2.0;
	const Eigen::MatrixXd stacked = stackShapes({a, b});
	ASSERT_EQ(stacked.rows(), 6);
	EXPECT_EQ(stacked.col(0), (Eigen::VectorXd(6) << 1, 2, 3, 4, 5, 6).finished());
	EXPECT_EQ(stacked.col(1), 2.0 * stacked.col(0));
	EXPECT_THROW(stackShapes({a, PointSet(3, 3)}), std::invalid_argument);
}
