#include "anatomy/algorithms/ASCRegistration.h"
#include "anatomy/algorithms/GenericASCFromMultiLabelMap.h"
#include "anatomy/registration/MeshDeformation.h"
#include "anatomy/structures/GenericASC.h"
#include "anatomy/structures/GenericAnatomicalStructure.h"
#include "core/Log.h"
#include "LogCapture.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include <cmath>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

using namespace Orbitane;
using Testing::LogCapture;
using Method = ASCRegistration::RegistrationMethod;

namespace {

const std::string kSegmentation = "Orbitane.Segmentation";

Eigen::Matrix4d motion(double degrees, const Eigen::Vector3d& axis, const Eigen::Vector3d& shift, double scale = 1.0)
{
	Eigen::Affine3d a = Eigen::Translation3d(shift) *
	                    Eigen::AngleAxisd(degrees * std::numbers::pi / 180, axis.normalized()) * Eigen::Scaling(scale);
	return a.matrix();
}

Eigen::Vector3d apply(const Eigen::Matrix4d& m, const Eigen::Vector3d& p) { return (m * p.homogeneous()).head<3>(); }

GenericAnatomicalStructure& addStructure(GenericASC& c, const std::string& identifier)
{
	c.addAnatomicalStructure(std::make_unique<GenericAnatomicalStructure>(identifier));
	return static_cast<GenericAnatomicalStructure&>(*c.anatomicalStructureByIdentifier(identifier));
}

std::unique_ptr<Mesh> tetrahedron(const Eigen::Vector3d& at)
{
	return std::make_unique<Mesh>(std::vector<Eigen::Vector3d>{at, at + Eigen::Vector3d(4, 0, 0),
	                                                           at + Eigen::Vector3d(0, 4, 0),
	                                                           at + Eigen::Vector3d(0, 0, 4)},
	                              std::vector<Eigen::Vector3i>{{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}});
}

/// Moves a whole collection, its own contents and every structure with theirs, by m.
void moveCollection(AnatomicalStructureCollection& c, const Eigen::Matrix4d& m)
{
	c.setMatrixToWorld(m * c.matrixToWorld(), true);
	for (int i = 0; i < c.numAnatomicalStructures(); ++i)
	{
		AnatomicalStructure* s = c.anatomicalStructure(i);
		s->setMatrixToWorld(m * s->matrixToWorld(), true);
	}
}

/// A copy of the collection's geometry that survives the collection changing: world keypoints,
/// planes, structure matrices and world mesh vertices, in a fixed order.
std::vector<double> snapshot(const AnatomicalStructureCollection& c)
{
	std::vector<double> values;
	auto add = [&](const AnatomicalStructure& s) {
		values.insert(values.end(), s.matrixToWorld().data(), s.matrixToWorld().data() + 16);
		for (const auto& [key, e] : s.keypoints)
			values.insert(values.end(), e.value().data(), e.value().data() + 3);
		for (const auto& [key, e] : s.planes)
			values.insert(values.end(), e.value().data(), e.value().data() + 4);
		for (const auto& [key, e] : s.meshes)
			for (const Eigen::Vector3d& v : e.value()->vertices())
			{
				const Eigen::Vector3d w = apply(e.value()->matrixToWorld(), v);
				values.insert(values.end(), w.data(), w.data() + 3);
			}
		for (const auto& [key, e] : s.images)
			values.insert(values.end(), e.value()->matrixToWorld().data(), e.value()->matrixToWorld().data() + 16);
	};
	add(c);
	for (int i = 0; i < c.numAnatomicalStructures(); ++i)
		add(*c.anatomicalStructure(i));
	return values;
}

/// Three keypoints spread over the collection itself and two structures, a mesh, and a structure
/// that only this collection has.
std::unique_ptr<GenericASC> landmarks()
{
	auto c = std::make_unique<GenericASC>();
	c->setName("patient");
	c->keypoints.set("origin", Eigen::Vector3d(0.5, -1, 2));
	GenericAnatomicalStructure& femur = addStructure(*c, "femur");
	femur.keypoints.set("head", Eigen::Vector3d(10, 2, 3));
	femur.meshes.set("surface", tetrahedron({1, 2, 3}));
	addStructure(*c, "tibia").keypoints.set("plateau", Eigen::Vector3d(-3, 8, 1));
	return c;
}

void expectSameKeypoints(const AnatomicalStructure& a, const AnatomicalStructure& b, double tolerance)
{
	ASSERT_EQ(a.keypoints.keys(), b.keypoints.keys());
	for (const auto& [key, e] : a.keypoints)
		EXPECT_LT((e.value() - b.keypoints.find(key)->value()).norm(), tolerance) << a.identifier() << " " << key;
}

}

TEST(ASCRegistration, PointsAndPlanesRecoversRigidMotionFromThreePoints)
{
	auto fixed = landmarks();
	auto moving = landmarks();
	addStructure(*fixed, "fibula").keypoints.set("tip", Eigen::Vector3d(50, 50, 50));
	GenericAnatomicalStructure& patella = addStructure(*moving, "patella");
	patella.keypoints.set("apex", Eigen::Vector3d(4, 4, 4));
	const Eigen::Matrix4d truth = motion(35, {1, -2, 0.5}, {20, -7, 3});
	moveCollection(*moving, truth.inverse());
	AnatomicalStructure* movingFemur = moving->anatomicalStructureByIdentifier("femur");

	ASCRegistration registration(fixed.get(), moving.get());
	EXPECT_EQ(registration.registrationMethod.get(), Method::PointsAndPlanes);
	EXPECT_TRUE(registration.transformation.get().isIdentity());
	EXPECT_TRUE(registration.transformation.readOnly());
	std::vector<double> progress;
	registration.progress.connect([&](double f) { progress.push_back(f); });
	registration.compute();

	ASSERT_EQ(registration.status(), Algorithm::Success);
	EXPECT_LT((registration.transformation.get() - truth).cwiseAbs().maxCoeff(), 1e-9);
	ASSERT_FALSE(progress.empty());
	EXPECT_EQ(progress.back(), 1.0);
	// in place: the same structures, now where the fixed ones are, contents included
	EXPECT_EQ(moving->anatomicalStructureByIdentifier("femur"), movingFemur);
	expectSameKeypoints(*moving, *fixed, 1e-9);
	expectSameKeypoints(*movingFemur, *fixed->anatomicalStructureByIdentifier("femur"), 1e-9);
	expectSameKeypoints(*moving->anatomicalStructureByIdentifier("tibia"),
	                    *fixed->anatomicalStructureByIdentifier("tibia"), 1e-9);
	const Mesh& fm = *fixed->anatomicalStructureByIdentifier("femur")->meshes.find("surface")->value();
	const Mesh& mm = *movingFemur->meshes.find("surface")->value();
	for (int i = 0; i < fm.numVertices(); ++i)
		EXPECT_LT((apply(mm.matrixToWorld(), mm.vertices()[i]) - fm.vertices()[i]).norm(), 1e-9);
	// structures without a partner ride along
	EXPECT_LT((patella.keypoints.find("apex")->value() - Eigen::Vector3d(4, 4, 4)).norm(), 1e-9);
	EXPECT_TRUE(patella.matrixToWorld().isIdentity(1e-9));
	// the fixed collection is left alone
	EXPECT_EQ(fixed->keypoints.find("origin")->value(), Eigen::Vector3d(0.5, -1, 2));
}

TEST(ASCRegistration, PointsAndPlanesRecoversRigidMotionFromThreePlanesAndAPoint)
{
	auto make = [] {
		auto c = std::make_unique<GenericASC>();
		GenericAnatomicalStructure& pelvis = addStructure(*c, "pelvis");
		pelvis.planes.set("sagittal", Eigen::Vector4d(1, 0, 0, -2));
		pelvis.planes.set("coronal", Eigen::Vector4d(0.2, 1, 0, 3));
		pelvis.planes.set("axial", Eigen::Vector4d(0, 0.3, 2, -1));
		pelvis.keypoints.set("centre", Eigen::Vector3d(3, 1, -4));
		return c;
	};
	auto fixed = make();
	auto moving = make();
	const Eigen::Matrix4d truth = motion(-50, {0.3, 1, 1}, {-4, 9, 12});
	moveCollection(*moving, truth.inverse());

	ASCRegistration registration(fixed.get(), moving.get());
	registration.compute();
	ASSERT_EQ(registration.status(), Algorithm::Success);
	EXPECT_LT((registration.transformation.get() - truth).cwiseAbs().maxCoeff(), 1e-9);
	const AnatomicalStructure& m = *moving->anatomicalStructure(0);
	for (const auto& [key, e] : fixed->anatomicalStructure(0)->planes)
	{
		// planes agree up to the length of their normals
		const Eigen::Vector4d a = e.value() / e.value().head<3>().norm();
		const Eigen::Vector4d b = m.planes.find(key)->value() / m.planes.find(key)->value().head<3>().norm();
		EXPECT_LT((a - b).norm(), 1e-9) << key;
	}
}

TEST(ASCRegistration, PointsRigidScalingRecoversUniformScale)
{
	auto fixed = landmarks();
	auto moving = landmarks();
	moving->anatomicalStructureByIdentifier("tibia")->keypoints.set("ankle", Eigen::Vector3d(-2, 30, 0));
	fixed->anatomicalStructureByIdentifier("tibia")->keypoints.set("ankle", Eigen::Vector3d(-2, 30, 0));
	const Eigen::Matrix4d truth = motion(70, {0, 0, 1}, {1, 2, 3}, 1.7);
	moveCollection(*moving, truth.inverse());

	ASCRegistration registration(fixed.get(), moving.get());
	registration.registrationMethod = Method::PointsRigidScaling;
	registration.compute();
	ASSERT_EQ(registration.status(), Algorithm::Success);
	EXPECT_LT((registration.transformation.get() - truth).cwiseAbs().maxCoeff(), 1e-9);
	expectSameKeypoints(*moving->anatomicalStructureByIdentifier("tibia"),
	                    *fixed->anatomicalStructureByIdentifier("tibia"), 1e-9);
	// the rigid method cannot absorb the scale, so it leaves a residual where the similarity has none
	auto rigidMoving = landmarks();
	rigidMoving->anatomicalStructureByIdentifier("tibia")->keypoints.set("ankle", Eigen::Vector3d(-2, 30, 0));
	moveCollection(*rigidMoving, truth.inverse());
	ASCRegistration rigid(fixed.get(), rigidMoving.get());
	rigid.compute();
	ASSERT_EQ(rigid.status(), Algorithm::Success);
	const Eigen::Matrix3d rotation = rigid.transformation.get().topLeftCorner<3, 3>();
	EXPECT_NEAR(rotation.determinant(), 1.0, 1e-9);
}

// Every way of not determining a result: a non-zero status, a message naming the cause, and both
// collections exactly as they were.
TEST(ASCRegistration, UndeterminedRegistrationChangesNothing)
{
	struct Case
	{
		std::string name;
		Method method;
		std::function<void(GenericASC&, GenericASC&)> prepare;
		std::string cause;
	};
	const std::vector<Case> cases{
	    {"two points", Method::PointsAndPlanes,
	     [](GenericASC& f, GenericASC& m) {
		     f.anatomicalStructureByIdentifier("tibia")->keypoints.remove("plateau");
		     m.anatomicalStructureByIdentifier("tibia")->keypoints.remove("plateau");
	     },
	     ""},
	    {"collinear points", Method::PointsAndPlanes,
	     [](GenericASC& f, GenericASC& m) {
		     for (GenericASC* c : {&f, &m})
		     {
			     c->keypoints.set("origin", Eigen::Vector3d(0, 0, 0));
			     c->anatomicalStructureByIdentifier("femur")->keypoints.set("head", Eigen::Vector3d(1, 1, 1));
			     c->anatomicalStructureByIdentifier("tibia")->keypoints.set("plateau", Eigen::Vector3d(3, 3, 3));
		     }
	     },
	     ""},
	    {"similarity from two points", Method::PointsRigidScaling,
	     [](GenericASC& f, GenericASC&) { f.keypoints.remove("origin"); }, ""},
	    {"no pairs", Method::PointsAndPlanes,
	     [](GenericASC& f, GenericASC& m) {
		     f.keypoints.clear();
		     static_cast<GenericAnatomicalStructure*>(m.anatomicalStructureByIdentifier("femur"))
		         ->setIdentifier("femur2");
		     static_cast<GenericAnatomicalStructure*>(m.anatomicalStructureByIdentifier("tibia"))
		         ->setIdentifier("tibia2");
	     },
	     ""},
	    {"no images", Method::RigidImages, [](GenericASC&, GenericASC&) {},
	     "Registration failed: no images with the same key in paired structures"},
	    {"no meshes", Method::DeformableMeshRegistration,
	     [](GenericASC& f, GenericASC&) { f.anatomicalStructureByIdentifier("femur")->meshes.clear(); },
	     "Registration failed: no meshes with the same key in paired structures"},
	};
	for (const Case& c : cases)
	{
		SCOPED_TRACE(c.name);
		auto fixed = landmarks();
		auto moving = landmarks();
		moveCollection(*moving, motion(20, {1, 1, 0}, {1, 2, 3}));
		c.prepare(*fixed, *moving);
		const std::vector<double> fixedBefore = snapshot(*fixed), movingBefore = snapshot(*moving);
		LogCapture log("AnatomyPlugin.ASCRegistration");

		ASCRegistration registration(fixed.get(), moving.get());
		registration.registrationMethod = c.method;
		registration.compute();
		EXPECT_NE(registration.status(), Algorithm::Success);
		EXPECT_EQ(snapshot(*fixed), fixedBefore);
		EXPECT_EQ(snapshot(*moving), movingBefore);
		EXPECT_TRUE(registration.transformation.get().isIdentity());
		ASSERT_EQ(log.records.size(), 1u);
		EXPECT_EQ(log.records[0].level, Log::Error);
		if (c.cause.empty())
			EXPECT_TRUE(log.records[0].message.starts_with("Registration failed: ") &&
			            log.records[0].message.size() > std::string("Registration failed: ").size())
			    << log.records[0].message;
		else
			EXPECT_EQ(log.records[0].message, c.cause);
	}

	LogCapture log("AnatomyPlugin.ASCRegistration");
	auto alone = landmarks();
	ASCRegistration withoutMoving(alone.get(), nullptr);
	withoutMoving.compute();
	EXPECT_EQ(withoutMoving.status(), Algorithm::IncompleteInput);
	ASSERT_EQ(log.records.size(), 1u);
	EXPECT_EQ(log.records[0].message, "Registration failed: a fixed and a moving collection are needed");
}

namespace {

/// Two labels of an asymmetric object, rasterised so that moving voxel x shows what lies at
/// motion · x: registering moving onto fixed must find `motion`.
std::unique_ptr<GenericASC> rasterised(const Eigen::Matrix4d& motionToFixed, const Eigen::Vector3d& spacing)
{
	const Eigen::Vector3i dims(36, 34, 30);
	auto image = std::make_shared<SharedImage>(PixelType::UInt8, dims, spacing, Modality::LABEL);
	std::uint8_t* voxels = image->typedData<std::uint8_t>();
	const Eigen::Vector3d centre = spacing.cwiseProduct(dims.cast<double>() / 2);
	for (int z = 0; z < dims.z(); ++z)
		for (int y = 0; y < dims.y(); ++y)
			for (int x = 0; x < dims.x(); ++x)
			{
				const Eigen::Vector3d p = apply(motionToFixed, spacing.cwiseProduct(Eigen::Vector3d(x, y, z))) - centre;
				std::uint8_t label = 0;
				if (std::pow(p.x() / 11, 2) + std::pow(p.y() / 7, 2) + std::pow(p.z() / 5, 2) <= 1)
					label = 1;
				else if ((p - Eigen::Vector3d(6, 8, 3)).norm() <= 4)
					label = 2;
				voxels[(static_cast<std::size_t>(z) * dims.y() + y) * dims.x() + x] = label;
			}
	SharedImageSet set;
	set.add(std::move(image));
	AnatomicalStructureProcessing::GenericASCFromMultiLabelMap conversion(&set);
	conversion.onlyConfiguredLabels = false;
	conversion.compute();
	return conversion.takeOutput().takeFirst<GenericASC>();
}

}

TEST(ASCRegistration, RigidImagesRecoversMotionOfLabelMasks)
{
	const Eigen::Vector3d spacing(1.0, 1.0, 1.2);
	// turned about the middle of the volume, so that the object stays inside it
	const Eigen::Vector3d middle(18, 17, 18);
	const Eigen::Matrix4d truth =
	    motion(0, {0, 0, 1}, middle) * motion(8, {0.2, 0.4, 1}, {2.5, -1.5, 1.0}) * motion(0, {0, 0, 1}, -middle);
	auto fixed = rasterised(Eigen::Matrix4d::Identity(), spacing);
	auto moving = rasterised(truth, spacing);
	ASSERT_EQ(fixed->numAnatomicalStructures(), 2);
	ASSERT_EQ(moving->numAnatomicalStructures(), 2);
	const Eigen::Matrix4d maskBefore =
	    moving->anatomicalStructure(0)->images.find(kSegmentation)->value()->matrixToWorld();

	ASCRegistration registration(fixed.get(), moving.get());
	registration.registrationMethod = Method::RigidImages;
	registration.compute();
	ASSERT_EQ(registration.status(), Algorithm::Success);

	const Eigen::Matrix4d found = registration.transformation.get();
	const Eigen::Matrix3d rotationError = found.topLeftCorner<3, 3>() * truth.topLeftCorner<3, 3>().transpose();
	EXPECT_LT(Eigen::AngleAxisd(rotationError).angle() * 180 / std::numbers::pi, 1.0);
	// within half a voxel over the whole object
	for (int corner = 0; corner < 8; ++corner)
	{
		const Eigen::Vector3d p(corner & 1 ? 30 : 6, corner & 2 ? 28 : 6, corner & 4 ? 24 : 6);
		EXPECT_LT((apply(found, p) - apply(truth, p)).norm(), 0.5) << p.transpose();
	}
	// the masks moved with their structures
	const Eigen::Matrix4d maskAfter =
	    moving->anatomicalStructure(0)->images.find(kSegmentation)->value()->matrixToWorld();
	EXPECT_LT((maskAfter - found * maskBefore).cwiseAbs().maxCoeff(), 1e-9);
}

TEST(ASCRegistration, DeformableMeshRegistrationFitsABulgeSmoothly)
{
	// an ellipsoid from the label map conversion, and a copy with a bump on its side
	const Eigen::Vector3i dims(40, 30, 26);
	auto image = std::make_shared<SharedImage>(PixelType::UInt8, dims, Eigen::Vector3d::Ones(), Modality::LABEL);
	for (int z = 0; z < dims.z(); ++z)
		for (int y = 0; y < dims.y(); ++y)
			for (int x = 0; x < dims.x(); ++x)
			{
				const Eigen::Vector3d p = Eigen::Vector3d(x, y, z) - Eigen::Vector3d(19.5, 14.5, 12.5);
				image->typedData<std::uint8_t>()[(static_cast<std::size_t>(z) * dims.y() + y) * dims.x() + x] =
				    std::pow(p.x() / 16, 2) + std::pow(p.y() / 11, 2) + std::pow(p.z() / 9, 2) <= 1;
			}
	SharedImageSet set;
	set.add(image);
	AnatomicalStructureProcessing::GenericASCFromMultiLabelMap conversion(&set);
	conversion.onlyConfiguredLabels = false;
	conversion.compute();
	std::unique_ptr<GenericASC> fixed = conversion.takeOutput().takeFirst<GenericASC>();
	ASSERT_TRUE(fixed);
	std::unique_ptr<GenericASC> moving = fixed->clone();
	const Mesh& fixedMesh = *fixed->anatomicalStructure(0)->meshes.find(kSegmentation)->value();

	// the moving mesh lives in a frame of its own, which the registration must respect
	const Eigen::Matrix4d meshFrame = motion(0, {0, 0, 1}, {100, 0, 0});
	std::vector<Eigen::Vector3d> bulged;
	const Eigen::Vector3d top(19.5, 14.5, 21.5);
	for (const Eigen::Vector3d& v : fixedMesh.vertices())
	{
		const double bump = 4.0 * std::exp(-(v - top).squaredNorm() / (2 * 4.0 * 4.0));
		bulged.push_back(apply(meshFrame.inverse(), v + Eigen::Vector3d(0, 0, bump)));
	}
	auto movingMesh = std::make_unique<Mesh>(bulged, fixedMesh.faces());
	movingMesh->setMatrixToWorld(meshFrame);
	moving->anatomicalStructure(0)->meshes.set(kSegmentation, std::move(movingMesh));

	auto worldOf = [](const Mesh& m) {
		std::vector<Eigen::Vector3d> out;
		for (const Eigen::Vector3d& v : m.vertices())
			out.push_back(apply(m.matrixToWorld(), v));
		return out;
	};
	const Registration::TriangleSurface surface(fixedMesh.vertices(), fixedMesh.faces());
	const Mesh& before = *moving->anatomicalStructure(0)->meshes.find(kSegmentation)->value();
	const double distanceBefore = Registration::meanSurfaceDistance(worldOf(before), surface);
	ASSERT_GT(distanceBefore, 0.05);

	ASCRegistration registration(fixed.get(), moving.get());
	registration.registrationMethod = Method::DeformableMeshRegistration;
	registration.compute();
	ASSERT_EQ(registration.status(), Algorithm::Success);
	EXPECT_TRUE(registration.transformation.get().isIdentity());

	const Mesh& after = *moving->anatomicalStructure(0)->meshes.find(kSegmentation)->value();
	EXPECT_TRUE(after.matrixToWorld().isApprox(meshFrame));
	EXPECT_EQ(after.faces(), fixedMesh.faces());
	ASSERT_EQ(after.numVertices(), fixedMesh.numVertices());
	const std::vector<Eigen::Vector3d> world = worldOf(after);
	EXPECT_LE(Registration::meanSurfaceDistance(world, surface), 0.2 * distanceBefore);
	// smooth: no edge of the moving mesh is stretched or crushed to a point
	for (const Eigen::Vector3i& f : after.faces())
		for (int k = 0; k < 3; ++k)
		{
			const double length = (world[f[k]] - world[f[(k + 1) % 3]]).norm();
			EXPECT_GT(length, 0.05);
			EXPECT_LT(length, 3.0);
		}
	// the other stores were not touched by the fit
	EXPECT_EQ(moving->anatomicalStructure(0)->keypoints.find("Orbitane.Position")->value(),
	          fixed->anatomicalStructure(0)->keypoints.find("Orbitane.Position")->value());
}

TEST(ASCRegistration, TakenCollectionsAreIndependentCopies)
{
	auto fixed = landmarks();
	auto moving = landmarks();
	ASCRegistration registration(fixed.get(), moving.get());
	EXPECT_EQ(registration.fixedASC(), fixed.get());
	EXPECT_EQ(registration.movingASC(), moving.get());
	EXPECT_EQ(registration.movingData(), static_cast<Data*>(moving.get()));
	auto copy = registration.takeMovingASC();
	ASSERT_TRUE(copy);
	EXPECT_NE(copy.get(), moving.get());
	copy->keypoints.set("origin", Eigen::Vector3d(9, 9, 9));
	EXPECT_EQ(moving->keypoints.find("origin")->value(), Eigen::Vector3d(0.5, -1, 2));
	EXPECT_EQ(registration.takeFixedASC()->numAnatomicalStructures(), 2);
}
