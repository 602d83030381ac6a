#include "anatomy/algorithms/GenericASCFromMultiLabelMap.h"
#include "anatomy/structures/GenericAnatomicalStructure.h"
#include "core/Log.h"
#include "LogCapture.h"
#include "MeshQuality.h"
#include "data/DataComponentList.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

using namespace Orbitane;
using Testing::LogCapture;
using AnatomicalStructureProcessing::GenericASCFromMultiLabelMap;

namespace {

const std::string kSegmentation = "Orbitane.Segmentation";

/// A label volume under construction, x fastest.
template <typename T = std::uint8_t>
struct Labels
{
	Eigen::Vector3i dims;
	std::vector<T> voxels;

	explicit Labels(Eigen::Vector3i d) : dims(d), voxels(static_cast<std::size_t>(d.prod()), T{0}) {}
	T& at(int x, int y, int z) { return voxels[(static_cast<std::size_t>(z) * dims.y() + y) * dims.x() + x]; }
	void box(Eigen::Vector3i lo, Eigen::Vector3i hi, T label)
	{
		for (int z = lo.z(); z <= hi.z(); ++z)
			for (int y = lo.y(); y <= hi.y(); ++y)
				for (int x = lo.x(); x <= hi.x(); ++x)
					at(x, y, z) = label;
	}
	/// Ball of voxels whose centres lie within radius of centre; returns the voxel count.
	long ball(Eigen::Vector3d centre, double radius, T label)
	{
		long count = 0;
		for (int z = 0; z < dims.z(); ++z)
			for (int y = 0; y < dims.y(); ++y)
				for (int x = 0; x < dims.x(); ++x)
					if ((Eigen::Vector3d(x, y, z) - centre).norm() <= radius)
					{
						at(x, y, z) = label;
						++count;
					}
		return count;
	}
};

template <typename T>
PixelType pixelTypeOf()
{
	if constexpr (std::is_same_v<T, std::uint8_t>)
		return PixelType::UInt8;
	else if constexpr (std::is_same_v<T, std::int8_t>)
		return PixelType::Int8;
	else if constexpr (std::is_same_v<T, std::int16_t>)
		return PixelType::Int16;
	else if constexpr (std::is_same_v<T, std::uint32_t>)
		return PixelType::UInt32;
	else
		return PixelType::Float;
}

template <typename T>
std::unique_ptr<SharedImageSet> imageSet(const Labels<T>& labels, Eigen::Vector3d spacing = Eigen::Vector3d::Ones(),
                                         const Eigen::Matrix4d& matrix = Eigen::Matrix4d::Identity())
{
	auto image = std::make_shared<SharedImage>(pixelTypeOf<T>(), labels.dims, spacing, Modality::LABEL);
	std::copy(labels.voxels.begin(), labels.voxels.end(), image->template typedData<T>());
	auto set = std::make_unique<SharedImageSet>();
	set->add(std::move(image));
	set->setMatrixToWorld(matrix);
	set->setName("labels");
	return set;
}

Eigen::Matrix4d obliqueMatrix(bool mirrored)
{
	Eigen::Affine3d a =
	    Eigen::Translation3d(12.5, -40, 7) * Eigen::AngleAxisd(0.6, Eigen::Vector3d(1, 2, 3).normalized());
	Eigen::Matrix4d m = a.matrix();
	if (mirrored)
		m.col(0) = -m.col(0);
	return m;
}

Eigen::Vector3d toWorld(const Eigen::Matrix4d& m, const Eigen::Vector3d& spacing, const Eigen::Vector3d& index)
{
	return (m * spacing.cwiseProduct(index).homogeneous()).head<3>();
}

LabelMap::SurfaceMesh surfaceOf(const Mesh& mesh) { return {mesh.vertices(), mesh.faces()}; }

struct Converted
{
	int status;
	std::unique_ptr<GenericASC> collection;
};

Converted convert(const SharedImageSet& set, const LabelDataComponent* labels, bool onlyConfigured)
{
	GenericASCFromMultiLabelMap algorithm(&set, nullptr, labels);
	algorithm.onlyConfiguredLabels = onlyConfigured;
	algorithm.compute();
	OwningDataList output = algorithm.takeOutput();
	return {algorithm.status(), output.takeFirst<GenericASC>()};
}

LabelDataComponent namedLabels(std::initializer_list<std::pair<int, std::string>> names)
{
	LabelDataComponent labels;
	for (const auto& [value, name] : names)
	{
		auto config = LabelDataComponent::defaultLabelConfig(value);
		config.name = name;
		labels.setLabelConfig(value, config);
	}
	return labels;
}

std::vector<std::string> identifiers(const AnatomicalStructureCollection& c)
{
	std::vector<std::string> out;
	for (int i = 0; i < c.numAnatomicalStructures(); ++i)
		out.push_back(c.anatomicalStructure(i)->identifier());
	return out;
}

}

// A voxelised ball placed obliquely, with anisotropic voxels and optionally a mirroring matrix:
// the surface must stay a closed sphere around its voxels, facing outward in the world.
class SphereInWorld : public ::testing::TestWithParam<bool>
{};

TEST_P(SphereInWorld, SurfaceMaskAndKeypointsDescribeTheLabel)
{
	const bool mirrored = GetParam();
	const Eigen::Vector3d spacing(0.8, 1.25, 1.5);
	const Eigen::Matrix4d matrix = obliqueMatrix(mirrored);
	Labels<> labels({26, 25, 27});
	const Eigen::Vector3d centre(12.3, 11.8, 13.1);
	const long count = labels.ball(centre, 10.0, 4);
	auto set = imageSet(labels, spacing, matrix);
	const LabelDataComponent names = namedLabels({{4, "liver"}});

	auto [status, asc] = convert(*set, &names, true);
	ASSERT_EQ(status, Algorithm::Success);
	ASSERT_TRUE(asc);
	EXPECT_EQ(asc->name(), "labels");
	ASSERT_EQ(identifiers(*asc), std::vector<std::string>{"liver"});
	AnatomicalStructure& s = *asc->anatomicalStructure(0);
	EXPECT_FALSE(s.is2D);

	// the surface: watertight sphere, outward in the world, enclosing the voxels' volume
	const Mesh& mesh = *s.meshes.find(kSegmentation)->value();
	EXPECT_TRUE(mesh.matrixToWorld().isIdentity());
	const LabelMap::MeshTopology topology = LabelMap::analyzeTopology(surfaceOf(mesh));
	EXPECT_TRUE(topology.isClosedManifold());
	EXPECT_EQ(topology.boundaryEdges, 0u);
	EXPECT_EQ(topology.degenerateFaces, 0u);
	EXPECT_EQ(topology.eulerCharacteristic, 2);
	const double voxelVolume = spacing.prod() * static_cast<double>(count);
	EXPECT_NEAR(LabelMap::enclosedVolume(surfaceOf(mesh)) / voxelVolume, 1.0, 0.03);

	// centroid of the voxels, independently of the kernels
	Eigen::Vector3d sum = Eigen::Vector3d::Zero();
	Eigen::Vector3i lo = labels.dims, hi = Eigen::Vector3i::Constant(-1);
	for (int z = 0; z < labels.dims.z(); ++z)
		for (int y = 0; y < labels.dims.y(); ++y)
			for (int x = 0; x < labels.dims.x(); ++x)
				if (labels.at(x, y, z) == 4)
				{
					sum += Eigen::Vector3d(x, y, z);
					lo = lo.cwiseMin(Eigen::Vector3i(x, y, z));
					hi = hi.cwiseMax(Eigen::Vector3i(x, y, z));
				}
	const Eigen::Vector3d centroid = toWorld(matrix, spacing, sum / static_cast<double>(count));
	EXPECT_TRUE(s.keypoints.find("Orbitane.Position")->value().isApprox(centroid, 1e-12));
	Eigen::Matrix4d expectedFrame = Eigen::Matrix4d::Identity();
	expectedFrame.block<3, 1>(0, 3) = centroid;
	EXPECT_TRUE(s.matrixToWorld().isApprox(expectedFrame, 1e-12));

	// corners at the outer voxel faces: Left/Right along x, Upper/Lower along y, Front/Back along z
	EXPECT_EQ(s.keypoints.size(), 9u);
	const Eigen::Vector3d low = lo.cast<double>() - Eigen::Vector3d::Constant(0.5);
	const Eigen::Vector3d high = hi.cast<double>() + Eigen::Vector3d::Constant(0.5);
	const auto corner = [&](const char* name) {
		return s.keypoints.find(std::string("Orbitane.BoundingBox.") + name)->value();
	};
	EXPECT_TRUE(corner("UpperLeftFront").isApprox(toWorld(matrix, spacing, low), 1e-12));
	EXPECT_TRUE(corner("LowerRightBack").isApprox(toWorld(matrix, spacing, high), 1e-12));
	EXPECT_TRUE(corner("UpperRightBack").isApprox(toWorld(matrix, spacing, {high.x(), low.y(), high.z()}), 1e-12));
	EXPECT_TRUE(corner("LowerLeftFront").isApprox(toWorld(matrix, spacing, {low.x(), high.y(), low.z()}), 1e-12));

	// the mask: label image of the box plus one voxel, lying where the label lies
	const auto* entry = s.images.find(kSegmentation);
	ASSERT_TRUE(entry);
	const SharedImageSet& maskSet = *entry->value();
	const SharedImage& mask = *maskSet.get(-1);
	EXPECT_EQ(maskSet.modality(), Modality::LABEL);
	EXPECT_EQ(mask.modality(), Modality::LABEL);
	EXPECT_EQ(mask.dimensions(), Eigen::Vector3i(hi - lo + Eigen::Vector3i::Constant(3)));
	EXPECT_EQ(mask.spacing(), spacing);
	const std::uint8_t* m = mask.typedData<std::uint8_t>();
	long inMask = 0;
	for (int z = 0; z < mask.dimensions().z(); ++z)
		for (int y = 0; y < mask.dimensions().y(); ++y)
			for (int x = 0; x < mask.dimensions().x(); ++x)
			{
				const std::uint8_t v =
				    m[(static_cast<std::size_t>(z) * mask.dimensions().y() + y) * mask.dimensions().x() + x];
				inMask += v;
				const Eigen::Vector3d world = toWorld(maskSet.matrixToWorld(), spacing, Eigen::Vector3d(x, y, z));
				const Eigen::Vector3d index = (matrix.inverse() * world.homogeneous()).head<3>().cwiseQuotient(spacing);
				const Eigen::Vector3i voxel = index.array().round().cast<int>();
				ASSERT_TRUE(index.isApprox(voxel.cast<double>(), 1e-9));
				const bool inside = (voxel.array() >= 0).all() && (voxel.array() < labels.dims.array()).all();
				ASSERT_EQ(v, inside && labels.at(voxel.x(), voxel.y(), voxel.z()) == 4 ? 1 : 0);
			}
	EXPECT_EQ(inMask, count);
	int voxelCount = 0;
	double volume = 0;
	EXPECT_TRUE(entry->attributes().param("voxelCount", voxelCount));
	EXPECT_TRUE(entry->attributes().param("volume", volume));
	EXPECT_EQ(voxelCount, count);
	EXPECT_NEAR(volume, voxelVolume, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(LabelMapConversion, SphereInWorld, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Mirrored" : "Oblique"; });

TEST(LabelMapConversion, LabelsThatShareANameBecomeOneStructure)
{
	Labels<> labels({20, 12, 10});
	labels.box({1, 1, 1}, {4, 5, 3}, 3);      // 4 x 5 x 3 = 60 voxels
	labels.box({10, 2, 2}, {17, 9, 8}, 7);    // 8 x 8 x 7 = 448 voxels
	labels.box({6, 1, 1}, {7, 2, 2}, 9);      // touches neither
	auto set = imageSet(labels, {2.0, 1.0, 0.5});
	const LabelDataComponent names = namedLabels({{3, "kidney"}, {7, "kidney"}, {9, "ureter"}, {12, "absent"}});

	auto [status, asc] = convert(*set, &names, true);
	ASSERT_EQ(status, Algorithm::Success);
	EXPECT_EQ(identifiers(*asc), (std::vector<std::string>{"kidney", "ureter"}));

	AnatomicalStructure& kidney = *asc->anatomicalStructureByIdentifier("kidney");
	const auto* maskEntry = kidney.images.find(kSegmentation);
	int voxelCount = 0;
	maskEntry->attributes().param("voxelCount", voxelCount);
	EXPECT_EQ(voxelCount, 60 + 448);
	// the joined mask spans both boxes, and the surface has one closed piece per box
	EXPECT_EQ(maskEntry->value()->get(-1)->dimensions(), Eigen::Vector3i(19, 11, 10));
	const LabelMap::MeshTopology t = LabelMap::analyzeTopology(surfaceOf(*kidney.meshes.find(kSegmentation)->value()));
	EXPECT_TRUE(t.isClosedManifold());
	EXPECT_EQ(t.components, 2u);
	EXPECT_EQ(t.eulerCharacteristic, 4);
	const Eigen::Vector3d centroid =
	    (60.0 * Eigen::Vector3d(2.5, 3, 2) + 448.0 * Eigen::Vector3d(13.5, 5.5, 5)) / 508.0;
	EXPECT_TRUE(kidney.keypoints.find("Orbitane.Position")
	                ->value()
	                .isApprox(centroid.cwiseProduct(Eigen::Vector3d(2.0, 1.0, 0.5)), 1e-12));
	EXPECT_TRUE(kidney.keypoints.find("Orbitane.BoundingBox.UpperLeftFront")
	                ->value()
	                .isApprox(Eigen::Vector3d(0.5 * 2.0, 0.5, 0.25), 1e-12));
	EXPECT_TRUE(kidney.keypoints.find("Orbitane.BoundingBox.LowerRightBack")
	                ->value()
	                .isApprox(Eigen::Vector3d(17.5 * 2.0, 9.5, 4.25), 1e-12));
}

TEST(LabelMapConversion, UnconfiguredLabelsFollowTheParameter)
{
	Labels<> labels({12, 6, 6});
	labels.box({1, 1, 1}, {2, 2, 2}, 5);
	labels.box({5, 1, 1}, {6, 2, 2}, 2);
	labels.box({8, 1, 1}, {9, 2, 2}, 11);
	auto set = imageSet(labels);
	const LabelDataComponent names = namedLabels({{5, "heart"}});

	EXPECT_EQ(identifiers(*convert(*set, &names, true).collection), std::vector<std::string>{"heart"});
	// every present value: in ascending label order, unconfigured ones under their default names
	EXPECT_EQ(identifiers(*convert(*set, &names, false).collection),
	          (std::vector<std::string>{"Label 2", "heart", "Label 11"}));
	EXPECT_EQ(identifiers(*convert(*set, nullptr, false).collection),
	          (std::vector<std::string>{"Label 2", "Label 5", "Label 11"}));
	// nothing configured, nothing wanted: an empty collection, still a success
	auto none = convert(*set, nullptr, true);
	EXPECT_EQ(none.status, Algorithm::Success);
	ASSERT_TRUE(none.collection);
	EXPECT_EQ(none.collection->numAnatomicalStructures(), 0);
}

TEST(LabelMapConversion, ImageSetsOwnLabelComponentNamesTheLabels)
{
	Labels<> labels({6, 6, 6});
	labels.box({1, 1, 1}, {3, 3, 3}, 6);
	auto set = imageSet(labels);
	auto own = std::make_unique<LabelDataComponent>();
	auto config = LabelDataComponent::defaultLabelConfig(6);
	config.name = "spleen";
	own->setLabelConfig(6, config);
	set->components().add(std::move(own));
	EXPECT_EQ(identifiers(*convert(*set, nullptr, true).collection), std::vector<std::string>{"spleen"});
	// a component handed over explicitly takes precedence
	const LabelDataComponent given = namedLabels({{6, "pancreas"}});
	EXPECT_EQ(identifiers(*convert(*set, &given, true).collection), std::vector<std::string>{"pancreas"});
}

TEST(LabelMapConversion, EveryIntegerVoxelTypeIsRead)
{
	Labels<std::int16_t> signed16({8, 8, 8});
	signed16.box({1, 1, 1}, {3, 3, 3}, -300);
	signed16.box({4, 4, 4}, {6, 6, 6}, 1200);
	EXPECT_EQ(identifiers(*convert(*imageSet(signed16), nullptr, false).collection),
	          (std::vector<std::string>{"Label -300", "Label 1200"}));

	Labels<std::int8_t> signed8({5, 5, 5});
	signed8.box({1, 1, 1}, {2, 2, 2}, -1);
	EXPECT_EQ(identifiers(*convert(*imageSet(signed8), nullptr, false).collection),
	          std::vector<std::string>{"Label -1"});

	// values beyond int cannot be configured, but are still kept when every label is wanted
	Labels<std::uint32_t> wide({5, 5, 5});
	wide.box({1, 1, 1}, {2, 2, 2}, 4000000000u);
	wide.box({3, 3, 3}, {3, 3, 3}, 70000u);
	const LabelDataComponent names = namedLabels({{70000, "vessel"}});
	EXPECT_EQ(identifiers(*convert(*imageSet(wide), &names, false).collection),
	          (std::vector<std::string>{"vessel", "Label 4000000000"}));
	EXPECT_EQ(identifiers(*convert(*imageSet(wide), &names, true).collection), std::vector<std::string>{"vessel"});
}

TEST(LabelMapConversion, UnusableInputFailsWithoutOutput)
{
	LogCapture log;
	Labels<float> real({4, 4, 4});
	auto floatSet = imageSet(real);
	GenericASCFromMultiLabelMap onFloats(floatSet.get());
	onFloats.compute();
	EXPECT_EQ(onFloats.status(), Algorithm::InvalidInput);
	EXPECT_TRUE(onFloats.takeOutput().empty());

	SharedImageSet empty;
	GenericASCFromMultiLabelMap onEmpty(&empty);
	onEmpty.compute();
	EXPECT_EQ(onEmpty.status(), Algorithm::IncompleteInput);
	EXPECT_TRUE(onEmpty.takeOutput().empty());

	GenericASCFromMultiLabelMap onNothing(nullptr);
	onNothing.compute();
	EXPECT_EQ(onNothing.status(), Algorithm::IncompleteInput);

	ASSERT_EQ(log.records.size(), 3u);
	for (const Log::Record& r : log.records)
	{
		EXPECT_EQ(r.category, "AnatomyPlugin.GenericASCFromMultiLabelMap");
		EXPECT_EQ(r.level, Log::Error);
	}
	EXPECT_EQ(log.records[0].message, "The label map conversion needs an image of an integer voxel type");
}

TEST(LabelMapConversion, TwoDimensionalImageGivesPlanarStructures)
{
	Labels<> labels({14, 10, 1});
	labels.box({2, 3, 0}, {8, 6, 0}, 1);    // 7 x 4 pixels
	const Eigen::Vector3d spacing(0.5, 0.25, 2.0);
	Eigen::Matrix4d matrix = Eigen::Matrix4d::Identity();
	matrix.block<3, 1>(0, 3) = Eigen::Vector3d(1, 2, 3);
	auto set = imageSet(labels, spacing, matrix);

	auto [status, asc] = convert(*set, nullptr, false);
	ASSERT_EQ(status, Algorithm::Success);
	EXPECT_TRUE(asc->is2D);
	ASSERT_EQ(asc->numAnatomicalStructures(), 1);
	AnatomicalStructure& s = *asc->anatomicalStructure(0);
	EXPECT_TRUE(s.is2D);
	std::vector<std::string> keys = s.keypoints.keys();
	EXPECT_EQ(keys, (std::vector<std::string>{"Orbitane.BoundingBox.LowerLeft", "Orbitane.BoundingBox.LowerRight",
	                                          "Orbitane.BoundingBox.UpperLeft", "Orbitane.BoundingBox.UpperRight",
	                                          "Orbitane.Position"}));
	EXPECT_TRUE(s.keypoints.find("Orbitane.BoundingBox.UpperLeft")
	                ->value()
	                .isApprox(Eigen::Vector3d(1 + 1.5 * 0.5, 2 + 2.5 * 0.25, 3), 1e-12));
	EXPECT_TRUE(s.keypoints.find("Orbitane.BoundingBox.LowerRight")
	                ->value()
	                .isApprox(Eigen::Vector3d(1 + 8.5 * 0.5, 2 + 6.5 * 0.25, 3), 1e-12));
	EXPECT_TRUE(s.keypoints.find("Orbitane.Position")->value().isApprox(Eigen::Vector3d(1 + 2.5, 2 + 1.125, 3), 1e-12));

	// the mask stays a single slice in the image plane
	const auto* entry = s.images.find(kSegmentation);
	const SharedImage& mask = *entry->value()->get(-1);
	EXPECT_TRUE(mask.is2D());
	EXPECT_EQ(mask.dimensions(), Eigen::Vector3i(9, 6, 1));
	EXPECT_TRUE(toWorld(entry->value()->matrixToWorld(), spacing, {1, 1, 0})
	                .isApprox(Eigen::Vector3d(1 + 1.0, 2 + 0.75, 3), 1e-12));
	int voxelCount = 0;
	double volume = 0;
	entry->attributes().param("voxelCount", voxelCount);
	entry->attributes().param("volume", volume);
	EXPECT_EQ(voxelCount, 28);
	EXPECT_NEAR(volume, 28 * 0.5 * 0.25 * 2.0, 1e-12);
	const LabelMap::MeshTopology t = LabelMap::analyzeTopology(surfaceOf(*s.meshes.find(kSegmentation)->value()));
	EXPECT_TRUE(t.isClosedManifold());
	EXPECT_EQ(t.eulerCharacteristic, 2);
}

TEST(LabelMapConversion, TargetCollectionReceivesTheStructures)
{
	Labels<> labels({10, 5, 5});
	labels.box({1, 1, 1}, {2, 2, 2}, 1);
	labels.box({5, 1, 1}, {6, 2, 2}, 2);
	auto set = imageSet(labels);
	GenericASC target;
	target.addAnatomicalStructure(std::make_unique<GenericAnatomicalStructure>("Label 2"));
	LogCapture log;

	GenericASCFromMultiLabelMap algorithm(set.get(), &target);
	algorithm.onlyConfiguredLabels = false;
	algorithm.compute();
	EXPECT_EQ(algorithm.status(), Algorithm::Success);
	EXPECT_TRUE(algorithm.takeOutput().empty());
	// the identifier already taken is refused and reported; the existing structure stays untouched
	EXPECT_EQ(identifiers(target), (std::vector<std::string>{"Label 2", "Label 1"}));
	EXPECT_TRUE(target.anatomicalStructure(0)->meshes.empty());
	ASSERT_EQ(log.records.size(), 1u);
	EXPECT_EQ(log.records[0].message, "The collection refused the structure 'Label 2'");
}
