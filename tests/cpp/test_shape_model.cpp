#include "anatomy/algorithms/GenerateLinearShapeModel.h"
#include "anatomy/shapemodel/Procrustes.h"
#include "anatomy/structures/GenericASC.h"
#include "anatomy/structures/GenericAnatomicalStructure.h"
#include "core/Log.h"
#include "LogCapture.h"
#include "data/DataIO.h"
#include "data/PointCloud.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

using namespace Orbitane;
using Testing::LogCapture;
namespace fs = std::filesystem;

namespace {

const std::string kMean = "Orbitane.ShapeModel.Mean";

// The shape in the order the mean shape lays it out: the five keypoints of "bone", the six vertices
// of its mesh, then the one keypoint of "cartilage".
const std::vector<Eigen::Vector3d> kBoneKeypoints{{0, 0, 0}, {10, 0, 0}, {0, 8, 0}, {0, 0, 6}, {5, 5, 5}};
const Eigen::Vector3d kCartilageTip(-4, 2, 9);
const std::vector<Eigen::Vector3d> kVertices{{3, 3, 0}, {7, 3, 3}, {3, 7, 3}, {-1, 3, 3}, {3, -1, 3}, {3, 3, 6}};
const std::vector<Eigen::Vector3i> kFaces{{0, 2, 1}, {0, 3, 2}, {0, 4, 3}, {0, 1, 4},
                                          {5, 1, 2}, {5, 2, 3}, {5, 3, 4}, {5, 4, 1}};

/// Two ways the mesh varies between training shapes; the keypoints stay as they are.
Eigen::Vector3d variation(int mode, int vertex)
{
	return mode == 0 ? Eigen::Vector3d(0, 0, vertex == 5 ? 2.0 : 0.0)
	                 : Eigen::Vector3d(vertex == 1 ? 1.0 : 0.0, vertex == 2 ? -1.0 : 0.0, 0);
}

constexpr int kFirstVertex = 5;
constexpr int kTip = 11;

Eigen::Matrix3Xd shapePoints(double a, double b)
{
	Eigen::Matrix3Xd p(3, 12);
	for (int i = 0; i < 5; ++i)
		p.col(i) = kBoneKeypoints[i];
	for (int i = 0; i < 6; ++i)
		p.col(kFirstVertex + i) = kVertices[i] + a * variation(0, i) + b * variation(1, i);
	p.col(kTip) = kCartilageTip;
	return p;
}

/// A collection holding a shape moved by `motion`; the mesh keeps its vertices in a frame of its own.
std::unique_ptr<GenericASC> shapeCollection(double a, double b, const Eigen::Matrix4d& motion)
{
	const Eigen::Matrix3Xd p = ShapeModel::transformed(motion, shapePoints(a, b));
	auto c = std::make_unique<GenericASC>();
	c->setName("shape");
	auto bone = std::make_unique<GenericAnatomicalStructure>("bone");
	for (int i = 0; i < 5; ++i)
		bone->keypoints.set("k" + std::to_string(i), p.col(i));
	Eigen::Matrix4d meshFrame = Eigen::Matrix4d::Identity();
	meshFrame.block<3, 1>(0, 3) = Eigen::Vector3d(1, -2, 3);
	std::vector<Eigen::Vector3d> local;
	for (int i = 0; i < 6; ++i)
		local.push_back(p.col(kFirstVertex + i) - meshFrame.block<3, 1>(0, 3));
	auto mesh = std::make_unique<Mesh>(local, kFaces);
	mesh->setMatrixToWorld(meshFrame);
	bone->meshes.set("surface", std::move(mesh));
	auto cartilage = std::make_unique<GenericAnatomicalStructure>("cartilage");
	cartilage->keypoints.set("tip", p.col(kTip));
	c->addAnatomicalStructure(std::move(bone));
	c->addAnatomicalStructure(std::move(cartilage));
	return c;
}

Eigen::Matrix4d randomMotion(std::mt19937& rng)
{
	std::uniform_real_distribution<double> u(-1, 1);
	const Eigen::Vector3d axis(u(rng), u(rng), u(rng) + 2);
	Eigen::Affine3d m =
	    Eigen::Translation3d(20 * u(rng), 20 * u(rng), 20 * u(rng)) * Eigen::AngleAxisd(2 * u(rng), axis.normalized());
	return m.matrix();
}

Eigen::VectorXd flatten(const Eigen::Matrix3Xd& p) { return Eigen::Map<const Eigen::VectorXd>(p.data(), p.size()); }

Eigen::VectorXd cloudVector(const AnatomicalStructure& s, const std::string& key)
{
	const auto& points = s.pointclouds.find(key)->value()->points();
	Eigen::VectorXd v(3 * points.size());
	for (std::size_t i = 0; i < points.size(); ++i)
		v.segment<3>(3 * i) = points[i];
	return v;
}

const AnatomicalStructure& carrier(const AnatomicalStructureCollection& model)
{
	const AnatomicalStructure* s = model.anatomicalStructureByIdentifier("Orbitane.ShapeModel");
	if (!s)
		throw std::runtime_error("the model has no structure Orbitane.ShapeModel");
	return *s;
}

struct Training
{
	double a, b;
	Eigen::Matrix4d motion;
};

class ShapeModelFiles : public ::testing::Test
{
protected:
	void SetUp() override
	{
		static int counter = 0;
		m_dir = fs::temp_directory_path() /
		        ("orbitane_shape_model_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
		fs::create_directories(m_dir);
		std::mt19937 rng(7);
		const std::vector<std::pair<double, double>> coefficients{{1, 0},  {-1, 0.5}, {0.5, 1},
		                                                          {0, -1}, {2, 0.25}, {-1.5, -0.75}};
		for (auto [a, b] : coefficients)
			m_training.push_back({a, b, randomMotion(rng)});
		for (std::size_t i = 0; i < m_training.size(); ++i)
			save(*shapeCollection(m_training[i].a, m_training[i].b, m_training[i].motion),
			     "shape" + std::to_string(i) + ".orb");
	}
	void TearDown() override { fs::remove_all(m_dir); }

	void save(const AnatomicalStructureCollection& c, const std::string& name) const
	{
		DataIO::save(c, (m_dir / name).string());
	}
	std::string path(const std::string& name) const { return (m_dir / name).string(); }

	std::unique_ptr<AnatomicalStructureCollection> run(GenerateLinearShapeModel& algorithm) const
	{
		algorithm.inputDirectory = m_dir.string();
		algorithm.compute();
		return algorithm.takeOutput().takeFirst<AnatomicalStructureCollection>();
	}

	fs::path m_dir;
	std::vector<Training> m_training;
	std::unique_ptr<GenericASC> m_mean = shapeCollection(0, 0, Eigen::Matrix4d::Identity());
};

/// The model's shape = mean + modes · coefficients reproduces `shape` (aligned as the model was).
void expectReconstructed(const Eigen::VectorXd& mean, const Eigen::MatrixXd& modes, const Eigen::VectorXd& shape)
{
	const Eigen::VectorXd coefficients = modes.transpose() * (shape - mean);
	EXPECT_LT((mean + modes * coefficients - shape).cwiseAbs().maxCoeff(), 1e-6);
}

Eigen::MatrixXd modesOf(const AnatomicalStructureCollection& model, int count)
{
	Eigen::MatrixXd modes(36, count);
	for (int i = 0; i < count; ++i)
		modes.col(i) = cloudVector(carrier(model), "Orbitane.ShapeModel.Mode" + std::to_string(i));
	return modes;
}

}

TEST_F(ShapeModelFiles, ModelReconstructsEveryTrainingShape)
{
	// files that are skipped, each with a warning naming it, in the order of their names
	auto noTip = shapeCollection(0, 0, Eigen::Matrix4d::Identity());
	noTip->anatomicalStructureByIdentifier("bone")->keypoints.remove("k3");
	save(*noTip, "a_no_keypoint.orb");
	auto coarse = shapeCollection(0, 0, Eigen::Matrix4d::Identity());
	coarse->anatomicalStructureByIdentifier("bone")->meshes.set(
	    "surface", std::make_unique<Mesh>(std::vector<Eigen::Vector3d>{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
	                                      std::vector<Eigen::Vector3i>{{0, 1, 2}}));
	save(*coarse, "b_other_mesh.orb");
	std::ofstream(m_dir / "c_corrupt.orb") << "not a collection";
	auto partial = shapeCollection(0, 0, Eigen::Matrix4d::Identity());
	partial->takeAnatomicalStructure(partial->anatomicalStructureByIdentifier("cartilage"));
	save(*partial, "d_no_cartilage.orb");
	// neither another extension nor a subdirectory is read
	std::ofstream(m_dir / "notes.txt") << "ignored";
	fs::create_directories(m_dir / "nested");
	save(*shapeCollection(5, 5, Eigen::Matrix4d::Identity()), "nested/shape.orb");
	save(*shapeCollection(5, 5, Eigen::Matrix4d::Identity()), "old.orb");
	fs::rename(m_dir / "old.orb", m_dir / "shape.orb.bak");

	LogCapture log("AnatomyPlugin.GenerateLinearShapeModel");
	GenerateLinearShapeModel algorithm(m_mean.get());
	std::vector<double> progress;
	algorithm.progress.connect([&](double f) { progress.push_back(f); });
	auto model = run(algorithm);
	ASSERT_EQ(algorithm.status(), Algorithm::Success);
	ASSERT_TRUE(model);
	EXPECT_TRUE(dynamic_cast<GenericASC*>(model.get()));
	EXPECT_FALSE(algorithm.getMeanShape());

	ASSERT_EQ(log.records.size(), 4u);
	const std::vector<std::string> expected{
	    "Skipping '" + path("a_no_keypoint.orb") + "': it lacks the keypoint 'k3' of structure 'bone'",
	    "Skipping '" + path("b_other_mesh.orb") + "': it lacks the mesh 'surface' of structure 'bone' with 6 vertices",
	    "Skipping '" + path("c_corrupt.orb") + "': ",
	    "Skipping '" + path("d_no_cartilage.orb") + "': it lacks the structure 'cartilage'"};
	for (std::size_t i = 0; i < expected.size(); ++i)
	{
		EXPECT_EQ(log.records[i].level, Log::Warning);
		if (i == 2)
			EXPECT_TRUE(log.records[i].message.starts_with(expected[i])) << log.records[i].message;
		else
			EXPECT_EQ(log.records[i].message, expected[i]);
	}

	// the model's own point clouds: the mean and two modes (the shapes vary in two ways only)
	int numModes = 0, numShapes = 0;
	const auto& meanAttributes = carrier(*model).pointclouds.find(kMean)->storedAttributes();
	EXPECT_TRUE(meanAttributes.param("numModes", numModes));
	EXPECT_TRUE(meanAttributes.param("numShapes", numShapes));
	EXPECT_EQ(numShapes, 6);
	ASSERT_EQ(numModes, 2);
	EXPECT_EQ(carrier(*model).pointclouds.size(), 3u);
	EXPECT_TRUE(model->pointclouds.empty());
	EXPECT_EQ(model->name(), "shape_model");
	const Eigen::VectorXd mean = cloudVector(carrier(*model), kMean);
	const Eigen::MatrixXd modes = modesOf(*model, numModes);
	EXPECT_TRUE((modes.transpose() * modes).isIdentity(1e-9));
	double previous = INFINITY;
	for (int i = 0; i < numModes; ++i)
	{
		double variance = 0;
		int index = -1;
		const auto& attributes =
		    carrier(*model).pointclouds.find("Orbitane.ShapeModel.Mode" + std::to_string(i))->storedAttributes();
		EXPECT_TRUE(attributes.param("variance", variance));
		EXPECT_TRUE(attributes.param("mode", index));
		EXPECT_EQ(index, i);
		EXPECT_GT(variance, 0.0);
		EXPECT_LE(variance, previous);
		previous = variance;
	}

	// aligned by their keypoints, the training shapes are the mean shape plus the variations
	Eigen::VectorXd average = Eigen::VectorXd::Zero(36);
	for (const Training& t : m_training)
	{
		const Eigen::VectorXd aligned = flatten(shapePoints(t.a, t.b));
		average += aligned / 6.0;
		expectReconstructed(mean, modes, aligned);
	}
	EXPECT_LT((mean - average).cwiseAbs().maxCoeff(), 1e-9);

	// the structures carry the model mean: keypoints and mesh vertices (through the mesh's frame)
	const AnatomicalStructure& bone = *model->anatomicalStructureByIdentifier("bone");
	EXPECT_LT((bone.keypoints.find("k4")->value() - mean.segment<3>(12)).norm(), 1e-9);
	EXPECT_LT((model->anatomicalStructureByIdentifier("cartilage")->keypoints.find("tip")->value() -
	           mean.segment<3>(3 * kTip))
	              .norm(),
	          1e-9);
	const Mesh& mesh = *bone.meshes.find("surface")->value();
	EXPECT_EQ(mesh.faces(), kFaces);
	for (int i = 0; i < 6; ++i)
		EXPECT_LT(((mesh.matrixToWorld() * mesh.vertices()[i].homogeneous()).head<3>() -
		           mean.segment<3>(3 * (kFirstVertex + i)))
		              .norm(),
		          1e-9);

	// progress runs forward to the end
	ASSERT_FALSE(progress.empty());
	EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
	EXPECT_EQ(progress.back(), 1.0);
}

TEST_F(ShapeModelFiles, ModelSurvivesAnOrbFile)
{
	GenerateLinearShapeModel algorithm(m_mean.get());
	auto model = run(algorithm);
	ASSERT_TRUE(model);
	const fs::path saved = m_dir / "out" / "model.orb";
	fs::create_directories(saved.parent_path());
	DataIO::save(*model, saved.string());
	std::unique_ptr<Data> loaded = DataIO::load(saved.string());
	auto* collection = dynamic_cast<AnatomicalStructureCollection*>(loaded.get());
	ASSERT_TRUE(collection);
	EXPECT_EQ(cloudVector(carrier(*collection), kMean), cloudVector(carrier(*model), kMean));
	EXPECT_EQ(modesOf(*collection, 2), modesOf(*model, 2));
	int numModes = 0;
	double variance = 0;
	EXPECT_TRUE(carrier(*collection).pointclouds.find(kMean)->storedAttributes().param("numModes", numModes));
	EXPECT_TRUE(carrier(*collection)
	                .pointclouds.find("Orbitane.ShapeModel.Mode1")
	                ->storedAttributes()
	                .param("variance", variance));
	EXPECT_EQ(numModes, 2);
	double expectedVariance = 0;
	carrier(*model)
	    .pointclouds.find("Orbitane.ShapeModel.Mode1")
	    ->storedAttributes()
	    .param("variance", expectedVariance);
	EXPECT_EQ(variance, expectedVariance);
	EXPECT_EQ(collection->numAnatomicalStructures(), 3);

	// a loaded model serves as the mean shape of the next one, whose model structure is refilled
	GenerateLinearShapeModel again(collection);
	auto next = run(again);
	ASSERT_EQ(again.status(), Algorithm::Success);
	ASSERT_EQ(next->numAnatomicalStructures(), 3);
	EXPECT_EQ(next->anatomicalStructure(2)->identifier(), "Orbitane.ShapeModel");
	EXPECT_EQ(carrier(*next).pointclouds.size(), 3u);
	EXPECT_LT((cloudVector(carrier(*next), kMean) - cloudVector(carrier(*model), kMean)).cwiseAbs().maxCoeff(), 1e-9);
}

TEST_F(ShapeModelFiles, UpdatedMeanSettlesOnTheTrainingMean)
{
	// a mean shape that is off the training mean and placed elsewhere: the update pulls it in
	std::mt19937 rng(99);
	auto start = shapeCollection(3, -2, randomMotion(rng));
	const std::vector<double> startBefore{
	    start->anatomicalStructureByIdentifier("bone")->keypoints.find("k1")->value().x()};
	GenerateLinearShapeModel algorithm(start.get());
	algorithm.updateMeanShape = true;
	auto model = run(algorithm);
	ASSERT_EQ(algorithm.status(), Algorithm::Success);
	ASSERT_TRUE(model);

	std::unique_ptr<AnatomicalStructureCollection> updated = algorithm.getMeanShape();
	ASSERT_TRUE(updated);
	EXPECT_FALSE(algorithm.getMeanShape());
	// the input mean shape itself is untouched
	EXPECT_EQ(start->anatomicalStructureByIdentifier("bone")->keypoints.find("k1")->value().x(), startBefore[0]);

	// the updated mean is the average of the training shapes, in the start shape's frame
	double a = 0, b = 0;
	for (const Training& t : m_training)
	{
		a += t.a / 6;
		b += t.b / 6;
	}
	Eigen::Matrix3Xd points(3, 12);
	const AnatomicalStructure& bone = *updated->anatomicalStructureByIdentifier("bone");
	for (int i = 0; i < 5; ++i)
		points.col(i) = bone.keypoints.find("k" + std::to_string(i))->value();
	points.col(kTip) = updated->anatomicalStructureByIdentifier("cartilage")->keypoints.find("tip")->value();
	const Mesh& mesh = *bone.meshes.find("surface")->value();
	for (int i = 0; i < 6; ++i)
		points.col(kFirstVertex + i) = (mesh.matrixToWorld() * mesh.vertices()[i].homogeneous()).head<3>();
	const Eigen::Matrix3Xd expected = shapePoints(a, b);
	const Eigen::Matrix4d toExpected = ShapeModel::alignProcrustes(points, expected);
	EXPECT_LT((ShapeModel::transformed(toExpected, points) - expected).cwiseAbs().maxCoeff(), 1e-6);

	// and the model still reproduces each training shape, aligned to that mean
	int numModes = 0;
	carrier(*model).pointclouds.find(kMean)->storedAttributes().param("numModes", numModes);
	ASSERT_EQ(numModes, 2);
	const Eigen::VectorXd mean = cloudVector(carrier(*model), kMean);
	const Eigen::MatrixXd modes = modesOf(*model, numModes);
	Eigen::VectorXd weights = Eigen::VectorXd::Zero(12);
	weights.head<5>().setOnes();
	weights[kTip] = 1;
	for (const Training& t : m_training)
	{
		const Eigen::Matrix3Xd shape = ShapeModel::transformed(t.motion, shapePoints(t.a, t.b));
		expectReconstructed(
		    mean, modes, flatten(ShapeModel::transformed(ShapeModel::alignProcrustes(shape, points, weights), shape)));
	}
}

TEST_F(ShapeModelFiles, TooFewUsableShapesFail)
{
	LogCapture log("AnatomyPlugin.GenerateLinearShapeModel");
	auto fails = [&](GenerateLinearShapeModel& algorithm, int status, const std::string& message) {
		log.records.clear();
		algorithm.compute();
		EXPECT_EQ(algorithm.status(), status);
		EXPECT_TRUE(algorithm.takeOutput().empty());
		EXPECT_FALSE(algorithm.getMeanShape());
		ASSERT_FALSE(log.records.empty());
		EXPECT_EQ(log.records.back().level, Log::Error);
		EXPECT_EQ(log.records.back().message, message);
	};

	GenerateLinearShapeModel missing(m_mean.get());
	missing.inputDirectory = path("does-not-exist");
	fails(missing, Algorithm::InvalidInput,
	      "Shape model failed: fewer than two usable shapes in '" + path("does-not-exist") + "'");

	for (int i = 1; i < static_cast<int>(m_training.size()); ++i)
		fs::remove(m_dir / ("shape" + std::to_string(i) + ".orb"));
	GenerateLinearShapeModel single(m_mean.get());
	single.inputDirectory = m_dir.string();
	single.updateMeanShape = true;
	fails(single, Algorithm::InvalidInput,
	      "Shape model failed: fewer than two usable shapes in '" + m_dir.string() + "'");

	GenerateLinearShapeModel withoutMean(nullptr);
	fails(withoutMean, Algorithm::IncompleteInput, "Shape model failed: no mean shape");

	GenericASC empty;
	empty.addAnatomicalStructure(std::make_unique<GenericAnatomicalStructure>("bone"));
	GenerateLinearShapeModel emptyMean(&empty);
	fails(emptyMean, Algorithm::InvalidInput, "Shape model failed: the mean shape holds no keypoints or meshes");
}
