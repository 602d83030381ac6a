#include "anatomy/structures/AnatomicalStructureWrapper.h"
#include "anatomy/structures/GenericASC.h"
#include "anatomy/structures/GenericAnatomicalStructure.h"
#include "data/DataComponentList.h"
#include "data/LabelDataComponent.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include <memory>
#include <string>
#include <vector>

using namespace Orbitane;

namespace {

std::unique_ptr<AnatomicalStructure> structure(const std::string& identifier, bool is2D = false)
{
	auto s = std::make_unique<GenericAnatomicalStructure>(identifier);
	s->is2D = is2D;
	return s;
}

Eigen::Matrix4d shifted(double x)
{
	Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
	m(0, 3) = x;
	return m;
}

std::unique_ptr<Mesh> triangle()
{
	return std::make_unique<Mesh>(std::vector<Eigen::Vector3d>{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
	                              std::vector<Eigen::Vector3i>{{0, 1, 2}});
}

std::vector<std::string> identifiers(const AnatomicalStructureCollection& c)
{
	std::vector<std::string> out;
	for (int i = 0; i < c.numAnatomicalStructures(); ++i)
		out.push_back(c.anatomicalStructure(i)->identifier());
	return out;
}

/// A collection with two filled structures, its own keypoint, a frame, a name and a component.
std::unique_ptr<GenericASC> filledCollection()
{
	auto asc = std::make_unique<GenericASC>();
	asc->setName("patient");
	asc->setModality(Modality::CT);
	asc->setMatrixToWorld(shifted(3), false);
	asc->keypoints.set("origin", {0, 0, 0});
	auto liver = structure("liver");
	liver->setMatrixToWorld(shifted(-1), false);
	liver->keypoints.set("tip", {1, 2, 3});
	liver->keypoints.getOrCreate("tip").attributes().setParam("colour", 5);
	liver->meshes.set("surface", triangle());
	liver->planes.set("cut", {0, 0, 1, -2});
	asc->addAnatomicalStructure(std::move(liver));
	asc->addAnatomicalStructure(structure("spleen"));
	auto labels = std::make_unique<LabelDataComponent>();
	labels->setLabelConfig(1, {"liver"});
	asc->components().add(std::move(labels));
	return asc;
}

}

TEST(GenericASC, IsADataObjectOfItsOwnKind)
{
	GenericASC asc;
	const Data& data = asc;
	EXPECT_EQ(data.kind(), Data::Kind::AnatomicalStructureCollection);
	asc.setName("ribs");
	EXPECT_EQ(asc.identifier(), "ribs");
	EXPECT_EQ(data.describe(), "GenericASC 'ribs' with 0 anatomical structures");
	EXPECT_EQ(asc.numAnatomicalStructures(), 0);
	EXPECT_EQ(asc.anatomicalStructure(0), nullptr);
	EXPECT_EQ(asc.anatomicalStructure(-1), nullptr);
}

TEST(GenericASC, OneFrameServesBothBasesAndAnnouncesChanges)
{
	GenericASC asc;
	int announced = 0;
	asc.matrixChanged.connect([&](const Data* d) {
		EXPECT_EQ(d, static_cast<const Data*>(&asc));
		++announced;
	});
	Data& data = asc;
	data.setMatrixToWorld(shifted(2));
	EXPECT_EQ(asc.AnatomicalStructure::matrixToWorld(), shifted(2));
	asc.setMatrixToWorld(shifted(4), false);
	EXPECT_EQ(data.matrixToWorld(), shifted(4));
	EXPECT_EQ(announced, 2);
	EXPECT_THROW(data.setMatrixToWorld(Eigen::Matrix4d::Zero()), std::invalid_argument);
	EXPECT_EQ(announced, 2);
}

TEST(GenericASC, RefusesWhatWouldMakeItAmbiguousOrMixed)
{
	GenericASC asc;
	EXPECT_TRUE(asc.addAnatomicalStructure(structure("liver")));
	EXPECT_FALSE(asc.addAnatomicalStructure(nullptr));
	EXPECT_FALSE(asc.addAnatomicalStructure(structure("liver"))) << "identifiers stay unique";
	EXPECT_FALSE(asc.addAnatomicalStructure(structure("slice", true))) << "a 3-D collection holds 3-D structures";
	EXPECT_FALSE(asc.addAnatomicalStructure(std::make_unique<GenericASC>())) << "no nesting";
	EXPECT_EQ(identifiers(asc), (std::vector<std::string>{"liver"}));

	GenericASC flat(true);
	EXPECT_TRUE(flat.is2D);
	EXPECT_TRUE(flat.addAnatomicalStructure(structure("slice", true)));
	EXPECT_FALSE(flat.addAnatomicalStructure(structure("liver")));
}

TEST(GenericASC, LookupAndTake)
{
	auto asc = filledCollection();
	AnatomicalStructure* spleen = asc->anatomicalStructureByIdentifier("spleen");
	ASSERT_NE(spleen, nullptr);
	EXPECT_EQ(asc->anatomicalStructureByIdentifier("heart"), nullptr);

	GenericASC other;
	EXPECT_EQ(other.takeAnatomicalStructure(spleen), nullptr) << "only the owner can hand it over";
	EXPECT_EQ(asc->takeAnatomicalStructure(nullptr), nullptr);

	AnatomicalStructureWrapper handle(spleen);
	std::unique_ptr<AnatomicalStructure> taken = asc->takeAnatomicalStructure(spleen);
	EXPECT_EQ(taken.get(), spleen);
	EXPECT_EQ(identifiers(*asc), (std::vector<std::string>{"liver"}));
	asc.reset();
	EXPECT_TRUE(handle.isValid()) << "a taken structure lives on with its new owner";
	EXPECT_EQ(handle->identifier(), "spleen");
	taken.reset();
	EXPECT_FALSE(handle.isValid());
}

TEST(GenericASC, DestroyedStructuresInvalidateTheirHandles)
{
	auto asc = filledCollection();
	AnatomicalStructureWrapper liver(asc->anatomicalStructure(0));
	AnatomicalStructureWrapper spleen(asc->anatomicalStructure(1));
	AnatomicalStructureWrapper self(asc.get());
	asc->takeAnatomicalStructure(asc->anatomicalStructure(1));    // taken and dropped at once
	EXPECT_FALSE(spleen.isValid());
	EXPECT_TRUE(liver.isValid());
	asc.reset();
	EXPECT_FALSE(liver.isValid());
	EXPECT_FALSE(self.isValid());
	EXPECT_THROW(liver->keypoints.size(), AnatomicalStructureInvalidException);
}

TEST(GenericASC, CloneCopiesEverythingAndSharesNothing)
{
	auto source = filledCollection();
	std::unique_ptr<GenericASC> copy = source->clone();
	ASSERT_TRUE(copy);
	EXPECT_EQ(copy->name(), "patient");
	EXPECT_EQ(copy->modality(), Modality::CT);
	EXPECT_EQ(copy->matrixToWorld(), shifted(3));
	EXPECT_TRUE(copy->keypoints.contains("origin"));
	EXPECT_EQ(identifiers(*copy), identifiers(*source));

	AnatomicalStructure* liver = copy->anatomicalStructure(0);
	AnatomicalStructure* sourceLiver = source->anatomicalStructure(0);
	EXPECT_NE(liver, sourceLiver);
	EXPECT_EQ(liver->matrixToWorld(), shifted(-1));
	EXPECT_EQ(liver->keypoints.getOrCreate("tip").value(), Eigen::Vector3d(1, 2, 3));
	EXPECT_EQ(liver->keypoints.getOrCreate("tip").attributes(), sourceLiver->keypoints.getOrCreate("tip").attributes());
	EXPECT_EQ(liver->planes.getOrCreate("cut").value(), Eigen::Vector4d(0, 0, 1, -2));
	EXPECT_NE(liver->meshes.getOrCreate("surface").value().get(),
	          sourceLiver->meshes.getOrCreate("surface").value().get());

	ASSERT_EQ(copy->components().size(), 1);
	auto* labels = copy->components().get<LabelDataComponent>();
	ASSERT_NE(labels, nullptr);
	EXPECT_NE(labels, source->components().get<LabelDataComponent>());
	EXPECT_EQ(labels->labelConfig(1)->name, "liver");

	// changes on either side stay on that side
	liver->keypoints.set("tip", {9, 9, 9});
	const_cast<Mesh*>(liver->meshes.getOrCreate("surface").value().get())->setMatrixToWorld(shifted(8));
	copy->addAnatomicalStructure(structure("heart"));
	copy->setName("copy");
	labels->setLabelConfig(1, {"changed"});
	EXPECT_EQ(sourceLiver->keypoints.getOrCreate("tip").value(), Eigen::Vector3d(1, 2, 3));
	EXPECT_EQ(sourceLiver->meshes.getOrCreate("surface").value()->matrixToWorld(), Eigen::Matrix4d::Identity());
	EXPECT_EQ(source->numAnatomicalStructures(), 2);
	EXPECT_EQ(source->name(), "patient");
	EXPECT_EQ(source->components().get<LabelDataComponent>()->labelConfig(1)->name, "liver");

	// the clone outlives its source with every structure intact
	AnatomicalStructureWrapper handle(liver);
	source.reset();
	EXPECT_TRUE(handle.isValid());
	EXPECT_EQ(handle->keypoints.getOrCreate("tip").value(), Eigen::Vector3d(9, 9, 9));
}

TEST(GenericASC, CloneThroughTheBasesKeepsTheDynamicType)
{
	auto source = filledCollection();
	const AnatomicalStructureCollection& base = *source;
	std::unique_ptr<AnatomicalStructureCollection> viaCollection = base.clone();
	EXPECT_NE(dynamic_cast<GenericASC*>(viaCollection.get()), nullptr);
	const AnatomicalStructure& asStructure = *source;
	std::unique_ptr<AnatomicalStructure> viaStructure = asStructure.clone();
	auto* typed = dynamic_cast<GenericASC*>(viaStructure.get());
	ASSERT_NE(typed, nullptr);
	EXPECT_EQ(typed->numAnatomicalStructures(), 2);
}
