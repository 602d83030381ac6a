#include "anatomy/TransformHelpers.h"
#include "anatomy/structures/GenericAnatomicalStructure.h"
#include "anatomy/structures/GenericAnatomicalStructureWrapper.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

using namespace Orbitane;

namespace {

Eigen::Matrix4d rigid(double angle, const Eigen::Vector3d& axis, const Eigen::Vector3d& shift)
{
	Eigen::Affine3d t = Eigen::Translation3d(shift) * Eigen::AngleAxisd(angle, axis.normalized());
	return t.matrix();
}

Eigen::Matrix4d scaled(double s)
{
	Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
	m.topLeftCorner<3, 3>() *= s;
	return m;
}

std::unique_ptr<Mesh> triangle()
{
	return std::make_unique<Mesh>(std::vector<Eigen::Vector3d>{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
	                              std::vector<Eigen::Vector3i>{{0, 1, 2}});
}

/// A structure in a rotated, shifted frame with one element of each vector kind and a mesh.
struct Filled
{
	Filled()
	{
		s.setMatrixToWorld(rigid(0.3, {0, 0, 1}, {5, -2, 1}), false);
		s.keypoints.set("tip", {1, 2, 3});
		s.keypoints.set("frozen", {4, 4, 4});
		s.keypoints.getOrCreate("frozen").attributes().setParam("synchronization", false);
		s.planes.set("cut", {0, 0, 2, -6});    // z = 3
		s.meshes.set("surface", triangle());
	}
	GenericAnatomicalStructure s{"liver"};
};

double planeDistance(const Eigen::Vector4d& plane, const Eigen::Vector3d& p)
{
	return plane.head<3>().dot(p) + plane[3];
}

}

// ---- frame transforms ------------------------------------------------------------------------

TEST(TransformHelpers, PointsAndPlanesMapConsistently)
{
	const Eigen::Matrix4d m = rigid(0.7, {1, 2, 3}, {4, 5, 6}) * scaled(2.5);
	const Eigen::Vector3d worldPoint(1, -2, 0.5);
	const Eigen::Vector4d onPoint(0.3, -1, 2, -(0.3 * 1 + -1 * -2 + 2 * 0.5));

	const Eigen::Vector3d local = TransformHelpers::worldToLocal(worldPoint, &m);
	EXPECT_TRUE(TransformHelpers::transformPoint(m, local).isApprox(worldPoint));
	EXPECT_TRUE(TransformHelpers::localToWorld(local, &m).isApprox(worldPoint));
	const Eigen::Vector4d localPlane = TransformHelpers::worldToLocal(onPoint, &m);
	EXPECT_NEAR(planeDistance(localPlane, local), 0.0, 1e-12) << "incidence survives the mapping";
	EXPECT_TRUE(TransformHelpers::localToWorld(localPlane, &m).isApprox(onPoint));

	EXPECT_EQ(TransformHelpers::worldToLocal(worldPoint, nullptr), worldPoint);
	EXPECT_EQ(TransformHelpers::worldToLocal(onPoint, nullptr), onPoint);
}

TEST(TransformHelpers, ValidTransformsAreFiniteAndInvertible)
{
	EXPECT_TRUE(TransformHelpers::isValidTransform(Eigen::Matrix4d::Identity()));
	EXPECT_TRUE(TransformHelpers::isValidTransform(scaled(1e-4)));
	EXPECT_FALSE(TransformHelpers::isValidTransform(scaled(0)));
	Eigen::Matrix4d withNaN = Eigen::Matrix4d::Identity();
	withNaN(0, 3) = std::numeric_limits<double>::quiet_NaN();
	EXPECT_FALSE(TransformHelpers::isValidTransform(withNaN));
	Eigen::Matrix4d withInf = Eigen::Matrix4d::Identity();
	withInf(1, 1) = std::numeric_limits<double>::infinity();
	EXPECT_FALSE(TransformHelpers::isValidTransform(withInf));
	Eigen::Matrix4d rankDeficient = Eigen::Matrix4d::Identity();
	rankDeficient.row(2) = rankDeficient.row(1);
	EXPECT_FALSE(TransformHelpers::isValidTransform(rankDeficient));
}

// ---- setMatrixToWorld ------------------------------------------------------------------------

TEST(AnatomicalStructureFrame, StoresSeeTheStructureMatrix)
{
	Filled f;
	const Eigen::Vector3d expected = TransformHelpers::worldToLocal(Eigen::Vector3d(1, 2, 3), &f.s.matrixToWorld());
	EXPECT_TRUE(f.s.keypoints.getOrCreate("tip").localValue().isApprox(expected));
	EXPECT_EQ(f.s.keypoints.matrix, &f.s.matrixToWorld());
	EXPECT_EQ(f.s.graphs.matrix, &f.s.matrixToWorld());
}

TEST(AnatomicalStructureFrame, MovingContentsKeepsLocalCopiesAndMapsWorldValues)
{
	Filled f;
	auto& tip = f.s.keypoints.getOrCreate("tip");
	auto& cut = f.s.planes.getOrCreate("cut");
	auto& surface = f.s.meshes.getOrCreate("surface");
	const Eigen::Vector3d tipLocal = tip.localValue();
	const Eigen::Vector4d cutLocal = cut.localValue();
	const Eigen::Matrix4d surfaceLocal = surface.localMatrix();
	const Eigen::Matrix4d old = f.s.matrixToWorld();
	std::vector<std::string> changed;
	f.s.keypoints.entryChanged.connect(
	    [&](const std::string& key, const Eigen::Vector3d&, auto&) { changed.push_back("keypoint " + key); });
	f.s.planes.entryChanged.connect(
	    [&](const std::string& key, const Eigen::Vector4d&, auto&) { changed.push_back("plane " + key); });

	const Eigen::Matrix4d next = rigid(-1.1, {1, 1, 0}, {0, 3, 0}) * scaled(2);
	f.s.setMatrixToWorld(next, true);
	const Eigen::Matrix4d t = next * old.inverse();

	EXPECT_EQ(f.s.matrixToWorld(), next);
	EXPECT_EQ(tip.localValue(), tipLocal);
	EXPECT_EQ(cut.localValue(), cutLocal);
	EXPECT_EQ(surface.localMatrix(), surfaceLocal);
	EXPECT_TRUE(tip.value().isApprox(TransformHelpers::transformPoint(t, {1, 2, 3})));
	EXPECT_TRUE(surface.value()->matrixToWorld().isApprox(t));
	// the moved keypoint must still lie on the moved plane when the original one did
	EXPECT_NEAR(planeDistance(cut.value(), TransformHelpers::transformPoint(t, {7, -1, 3})), 0.0, 1e-9);
	EXPECT_TRUE(cut.value().isApprox(TransformHelpers::localToWorld(cutLocal, &next)));

	EXPECT_EQ(f.s.keypoints.getOrCreate("frozen").value(), Eigen::Vector3d(4, 4, 4)) << "unsynchronized stays";
	EXPECT_EQ(changed, (std::vector<std::string>{"keypoint tip", "plane cut"}));
}

TEST(AnatomicalStructureFrame, KeepingContentsRecomputesLocalCopies)
{
	Filled f;
	auto& tip = f.s.keypoints.getOrCreate("tip");
	auto& frozen = f.s.keypoints.getOrCreate("frozen");
	const Eigen::Vector3d frozenLocal = frozen.localValue();
	const Eigen::Matrix4d next = rigid(0.4, {0, 1, 0}, {1, 1, 1});
	f.s.setMatrixToWorld(next, false);

	EXPECT_EQ(tip.value(), Eigen::Vector3d(1, 2, 3));
	EXPECT_TRUE(tip.localValue().isApprox(TransformHelpers::worldToLocal(Eigen::Vector3d(1, 2, 3), &next)));
	EXPECT_TRUE(f.s.planes.getOrCreate("cut").localValue().isApprox(next.transpose() * Eigen::Vector4d(0, 0, 2, -6)));
	EXPECT_TRUE(f.s.meshes.getOrCreate("surface").localMatrix().isApprox(next.inverse()));
	EXPECT_EQ(frozen.localValue(), frozenLocal);
	EXPECT_EQ(frozen.value(), Eigen::Vector3d(4, 4, 4));
}

TEST(AnatomicalStructureFrame, RefusedMatricesChangeNothing)
{
	Filled f;
	const Eigen::Matrix4d before = f.s.matrixToWorld();
	const Eigen::Vector3d tipLocal = f.s.keypoints.getOrCreate("tip").localValue();
	Eigen::Matrix4d notFinite = Eigen::Matrix4d::Identity();
	notFinite(2, 3) = std::numeric_limits<double>::infinity();
	for (const Eigen::Matrix4d& bad : {scaled(0), notFinite})
		for (bool move : {true, false})
			EXPECT_THROW(f.s.setMatrixToWorld(bad, move), std::invalid_argument);
	EXPECT_EQ(f.s.matrixToWorld(), before);
	EXPECT_EQ(f.s.keypoints.getOrCreate("tip").value(), Eigen::Vector3d(1, 2, 3));
	EXPECT_EQ(f.s.keypoints.getOrCreate("tip").localValue(), tipLocal);
}

TEST(AnatomicalStructureFrame, InfiniteKeypointsThatWouldTurnNaNStayPut)
{
	GenericAnatomicalStructure s;
	const double inf = std::numeric_limits<double>::infinity();
	s.keypoints.set("far", {inf, 0, 0});
	s.setMatrixToWorld(rigid(0.5, {0, 0, 1}, {0, 0, 0}), true);
	EXPECT_TRUE(s.keypoints.contains("far"));
	EXPECT_FALSE(s.keypoints.getOrCreate("far").value().hasNaN());
}

// ---- clone -----------------------------------------------------------------------------------

TEST(AnatomicalStructureClone, IsDeepAndIndependent)
{
	Filled f;
	f.s.is2D = true;
	f.s.meshes.getOrCreate("surface").attributes().setParam("colour", 2);
	std::unique_ptr<AnatomicalStructure> copy = f.s.clone();
	ASSERT_TRUE(copy);
	EXPECT_EQ(copy->identifier(), "liver");
	EXPECT_TRUE(copy->is2D);
	EXPECT_EQ(copy->matrixToWorld(), f.s.matrixToWorld());
	EXPECT_EQ(copy->keypoints.matrix, &copy->matrixToWorld()) << "stores follow the clone's own frame";
	EXPECT_EQ(copy->keypoints.keys(), f.s.keypoints.keys());
	EXPECT_EQ(copy->keypoints.getOrCreate("frozen").localValue(), f.s.keypoints.getOrCreate("frozen").localValue());
	EXPECT_NE(copy->meshes.getOrCreate("surface").value().get(), f.s.meshes.getOrCreate("surface").value().get());
	int colour = 0;
	EXPECT_TRUE(copy->meshes.getOrCreate("surface").attributes().param("colour", colour));
	EXPECT_EQ(colour, 2);

	copy->keypoints.set("tip", {0, 0, 0});
	copy->setMatrixToWorld(Eigen::Matrix4d::Identity(), true);
	EXPECT_EQ(f.s.keypoints.getOrCreate("tip").value(), Eigen::Vector3d(1, 2, 3));
	EXPECT_NE(f.s.matrixToWorld(), Eigen::Matrix4d::Identity());
	EXPECT_EQ(copy->describe(),
	          "AnatomicalStructure 'liver' (2D, 2 keypoints, 1 planes, 0 images, 1 meshes, 0 pointclouds, 0 graphs)");
}

// ---- handles ---------------------------------------------------------------------------------

TEST(AnatomicalStructureHandle, BorrowingHandlesExpireWithTheStructure)
{
	auto structure = std::make_unique<GenericAnatomicalStructure>("spleen");
	AnatomicalStructureWrapper handle(structure.get());
	const AnatomicalStructureWrapper copy(handle);
	EXPECT_TRUE(handle.isValid());
	EXPECT_EQ(copy->identifier(), "spleen");
	structure.reset();
	EXPECT_FALSE(handle.isValid());
	EXPECT_FALSE(copy.isValid());
	EXPECT_THROW(handle->identifier(), AnatomicalStructureInvalidException);
	try
	{
		copy->identifier();
		FAIL() << "a handle on a destroyed structure must throw";
	}
	catch (const AnatomicalStructureInvalidException& e)
	{
		EXPECT_EQ(std::string(e.what()),
		          "The anatomical structure is no longer valid: it was destroyed together with its owner");
	}
}

TEST(AnatomicalStructureHandle, OnlyTheOwningHandleKeepsTheStructureAlive)
{
	auto owner = std::make_unique<AnatomicalStructureWrapper>(std::make_unique<GenericAnatomicalStructure>("kidney"));
	AnatomicalStructureWrapper observer(*owner);
	EXPECT_TRUE(owner->isOwning());
	EXPECT_FALSE(observer.isOwning());
	observer->keypoints.set("a", {1, 1, 1});
	EXPECT_TRUE((*owner)->keypoints.contains("a"));
	owner.reset();
	EXPECT_FALSE(observer.isValid());
	EXPECT_THROW(observer->keypoints.size(), AnatomicalStructureInvalidException);
}

TEST(AnatomicalStructureHandle, NullStructuresGiveInvalidHandles)
{
	AnatomicalStructureWrapper borrowed(static_cast<AnatomicalStructure*>(nullptr));
	AnatomicalStructureWrapper owned(std::unique_ptr<AnatomicalStructure>{});
	EXPECT_FALSE(borrowed.isValid());
	EXPECT_FALSE(owned.isValid());
	EXPECT_THROW(owned->identifier(), AnatomicalStructureInvalidException);
}

TEST(GenericAnatomicalStructureHandle, OwnsANewGenericStructure)
{
	GenericAnatomicalStructureWrapper unnamed;
	EXPECT_EQ(unnamed->identifier(), "unnamed");
	GenericAnatomicalStructureWrapper named("liver");
	named->setIdentifier("spleen");
	const GenericAnatomicalStructureWrapper& constNamed = named;
	EXPECT_EQ(constNamed->identifier(), "spleen");
	EXPECT_TRUE(named.isOwning());

	std::unique_ptr<AnatomicalStructureWrapper> observer;
	{
		GenericAnatomicalStructureWrapper scoped("temporary");
		observer = std::make_unique<AnatomicalStructureWrapper>(scoped);
		EXPECT_TRUE(observer->isValid());
	}
	EXPECT_FALSE(observer->isValid());
}
