#include "data/Algorithm.h"
#include "data/DataComponentList.h"
#include "data/DataIO.h"
#include "data/LabelDataComponent.h"
#include "data/Mesh.h"
#include "data/OwningDataList.h"
#include "data/PointCloud.h"
#include "data/SharedImageSet.h"
#include "graph/Graph.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace Orbitane;

namespace {

// A component with one parameter, matched by type.
class CounterComponent : public DataComponent<CounterComponent>
{
public:
	CounterComponent() { registerParameter(count); }
	CounterComponent(const CounterComponent& other) : DataComponent(other)
	{
		registerParameter(count);
		count = other.count.get();
	}
	std::string id() const override { return "Counter"; }
	Parameter<int> count{"count", 0};
};

// Stands in for components defined in Python: one native type, told apart by id.
class PyDataComponentStandIn : public DataComponent<PyDataComponentStandIn>, public DataComponentWithParentInterface
{
public:
	explicit PyDataComponentStandIn(std::string id = "") : m_id(std::move(id)) { registerParameter(text); }
	PyDataComponentStandIn(const PyDataComponentStandIn& other)
	    : DataComponent(other), DataComponentWithParentInterface(other), m_id(other.m_id)
	{
		registerParameter(text);
		text = other.text.get();
	}
	std::string id() const override { return m_id; }
	void setParent(Data* p) override { parent = p; }
	Parameter<std::string> text{"text", ""};
	Data* parent = nullptr;

private:
	std::string m_id;
};

std::unique_ptr<PyDataComponentStandIn> standIn(const std::string& id, const std::string& text)
{
	auto c = std::make_unique<PyDataComponentStandIn>(id);
	c->text = text;
	return c;
}

std::shared_ptr<SharedImage> rampImage(PixelType type, Eigen::Vector3i dims)
{
	auto image = std::make_shared<SharedImage>(type, dims);
	for (std::int64_t i = 0; i < image->numVoxels(); ++i)
		image->typedData<std::uint8_t>()[i] = static_cast<std::uint8_t>(i);
	return image;
}

}

TEST(Data, MatrixChangeSignalFiresOnEverySetWithTheObject)
{
	Mesh mesh;
	std::vector<const Data*> seen;
	mesh.matrixChanged.connect([&](const Data* d) { seen.push_back(d); });
	Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
	m(0, 3) = 5;
	mesh.setMatrixToWorld(m);
	mesh.setMatrixToWorld(m);    // an equal matrix is still announced
	ASSERT_EQ(seen.size(), 2u);
	EXPECT_EQ(seen[0], &mesh);
	EXPECT_EQ(mesh.matrixToWorld(), m);
	EXPECT_TRUE(mesh.matrixFromWorld().isApprox(m.inverse()));

	Mesh other;
	other.setMatrixToWorld(Eigen::Matrix4d::Identity() * 2);
	mesh = other;
	EXPECT_EQ(seen.size(), 3u);
	EXPECT_EQ(mesh.matrixToWorld(), other.matrixToWorld());
}

TEST(Data, CopyClonesComponentsAndDropsConnections)
{
	Mesh mesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
	mesh.setName("tri");
	mesh.setModality(Modality::CT);
	mesh.components().add(std::make_unique<CounterComponent>());
	mesh.components().get<CounterComponent>()->count = 4;
	int calls = 0;
	mesh.matrixChanged.connect([&](const Data*) { ++calls; });

	Mesh copy(mesh);
	EXPECT_EQ(copy.name(), "tri");
	EXPECT_EQ(copy.modality(), Modality::CT);
	EXPECT_EQ(copy.numFaces(), 1);
	ASSERT_EQ(copy.components().size(), 1);
	EXPECT_NE(copy.components().at(0), mesh.components().at(0));
	EXPECT_EQ(copy.components().get<CounterComponent>()->count.get(), 4);
	EXPECT_EQ(copy.components().parent(), &copy);
	copy.setMatrixToWorld(Eigen::Matrix4d::Identity());
	EXPECT_EQ(calls, 0);
}

TEST(DataComponentList, SameTypeIsAssignedIntoTheExistingComponentWithoutSignal)
{
	Mesh mesh;
	DataComponentList& list = mesh.components();
	int changes = 0;
	list.changed.connect([&] { ++changes; });

	auto first = std::make_unique<CounterComponent>();
	CounterComponent* firstPtr = first.get();
	EXPECT_EQ(list.add(std::move(first)), firstPtr);
	EXPECT_EQ(changes, 1);

	auto second = std::make_unique<CounterComponent>();
	second->count = 9;
	EXPECT_EQ(list.add(std::move(second)), firstPtr);
	EXPECT_EQ(firstPtr->count.get(), 9);
	EXPECT_EQ(list.size(), 1);
	EXPECT_EQ(changes, 1);

	DataComponentBase* label = list.add(std::make_unique<LabelDataComponent>());
	EXPECT_EQ(label, list.at(1));
	EXPECT_EQ(changes, 2);

	// append leaves matching to its caller
	EXPECT_NE(list.append(std::make_unique<CounterComponent>()), firstPtr);
	EXPECT_EQ(list.size(), 3);
	EXPECT_EQ(changes, 3);
	EXPECT_EQ(list.add(nullptr), nullptr);
}

TEST(DataComponentList, PythonComponentsMatchByIdAndLearnTheirParent)
{
	Mesh mesh;
	DataComponentList& list = mesh.components();
	int changes = 0;
	list.changed.connect([&] { ++changes; });

	auto* a = static_cast<PyDataComponentStandIn*>(list.add(standIn("a", "one")));
	auto* b = static_cast<PyDataComponentStandIn*>(list.add(standIn("b", "two")));
	EXPECT_NE(a, b);
	EXPECT_EQ(list.size(), 2);
	EXPECT_EQ(changes, 2);
	EXPECT_EQ(a->parent, &mesh);

	EXPECT_EQ(list.add(standIn("b", "three")), b);
	EXPECT_EQ(b->text.get(), "three");
	EXPECT_EQ(a->text.get(), "one");
	EXPECT_EQ(list.size(), 2);
	EXPECT_EQ(changes, 2);

	auto removed = list.remove(a);
	EXPECT_EQ(removed.get(), a);
	EXPECT_EQ(a->parent, nullptr);
	EXPECT_EQ(list.size(), 1);
	EXPECT_EQ(changes, 3);
	EXPECT_EQ(list.remove(a), nullptr);
}

TEST(DataComponent, CloneAssignEqualsFollowTheConfiguration)
{
	CounterComponent a;
	a.count = 3;
	auto clone = a.clone();
	ASSERT_TRUE(clone);
	EXPECT_TRUE(clone->equals(a));
	EXPECT_TRUE(a.equals(*clone));

	CounterComponent b;
	EXPECT_FALSE(b.equals(a));
	EXPECT_TRUE(b.assign(a));
	EXPECT_TRUE(b.equals(a));
	EXPECT_EQ(b.count.get(), 3);

	LabelDataComponent label;
	EXPECT_FALSE(b.assign(label));
	EXPECT_FALSE(b.equals(label));
	EXPECT_EQ(b.count.get(), 3);
}

TEST(LabelDataComponent, DefaultsAndConfigurationRoundTrip)
{
	auto one = LabelDataComponent::defaultLabelConfig(1);
	EXPECT_EQ(one.name, "Label 1");
	EXPECT_EQ(one.color[3], 1.0);
	EXPECT_TRUE(one.visible);
	EXPECT_NE(LabelDataComponent::defaultLabelConfig(2).color, one.color);
	EXPECT_EQ(LabelDataComponent::defaultLabelConfig(13).color, one.color);    // the palette wraps
	EXPECT_EQ(LabelDataComponent::defaultLabelConfig(-7).name, "Label -7");

	LabelDataComponent labels;
	EXPECT_FALSE(labels.labelConfig(4).has_value());
	labels.setLabelConfig(4, {"liver", Eigen::Vector4d(0.5, 0.25, 0, 1), false});
	labels.setLabelConfig(-2, {"air"});

	LabelDataComponent copy;
	copy.setLabelConfig(9, {"stale"});
	ASSERT_TRUE(copy.assign(labels));
	EXPECT_TRUE(copy.equals(labels));
	EXPECT_EQ(copy.labelConfigs(), labels.labelConfigs());
	EXPECT_FALSE(copy.labelConfig(9).has_value());
	EXPECT_EQ(copy.labelConfig(4)->name, "liver");
	EXPECT_FALSE(copy.labelConfig(4)->visible);
}

TEST(LabelDataComponent, FollowsTheImageSetOfItsList)
{
	SharedImageSet images;
	auto* added = static_cast<LabelDataComponent*>(images.components().add(std::make_unique<LabelDataComponent>()));
	EXPECT_EQ(added->imageSet(), &images);
	auto clone = images.clone();
	EXPECT_EQ(clone->components().get<LabelDataComponent>()->imageSet(), clone.get());
	Mesh mesh;
	EXPECT_EQ(
	    static_cast<LabelDataComponent*>(mesh.components().add(std::make_unique<LabelDataComponent>()))->imageSet(),
	    nullptr);
}

TEST(OwningDataList, TakeKeepsTheOthersInOrder)
{
	OwningDataList list;
	for (const char* name : {"a", "b", "c"})
	{
		auto mesh = std::make_unique<Mesh>();
		mesh->setName(name);
		list.add(std::move(mesh));
	}
	list.add(std::make_unique<PointCloud>());
	EXPECT_EQ(list.take(1)->name(), "b");
	ASSERT_EQ(list.size(), 3);
	EXPECT_EQ(list.at(0)->name(), "a");
	EXPECT_EQ(list.at(1)->name(), "c");
	EXPECT_TRUE(list.takeFirst<PointCloud>());
	EXPECT_FALSE(list.takeFirst<PointCloud>());
	EXPECT_EQ(list.takeFirst<Mesh>()->name(), "a");
	EXPECT_THROW(list.take(1), std::out_of_range);
	EXPECT_THROW(list.take(-1), std::out_of_range);
	EXPECT_EQ(list.size(), 1);
}

TEST(SharedImageSet, FocusSelectsTheImageOfGetMinusOne)
{
	SharedImageSet set;
	EXPECT_EQ(set.get(-1), nullptr);
	EXPECT_EQ(set.modality(), Modality::NA);
	auto first = rampImage(PixelType::UInt8, {2, 2, 1});
	auto second = std::make_shared<SharedImage>(PixelType::Float, Eigen::Vector3i(3, 1, 1), Eigen::Vector3d::Ones(),
	                                            Modality::LABEL);
	set.add(first);
	set.add(second);
	EXPECT_EQ(set.get(-1), first);
	set.setFocus(1);
	EXPECT_EQ(set.get(-1), second);
	EXPECT_EQ(set.modality(), Modality::LABEL);
	EXPECT_EQ(set.get(2), nullptr);
	EXPECT_EQ(set.get(-2), nullptr);
	EXPECT_THROW(set.setFocus(2), std::out_of_range);
	EXPECT_EQ(set.focus(), 1);
	set.setModality(Modality::CT);
	EXPECT_EQ(first->modality(), Modality::CT);
}

TEST(SharedImageSet, CloneCopiesImagesDeeplyAndHonoursOptions)
{
	SharedImageSet set;
	set.setName("ct");
	set.add(rampImage(PixelType::UInt8, {2, 2, 1}));
	set.add(rampImage(PixelType::Int16, {2, 1, 2}));
	set.setFocus(1);
	set.components().add(std::make_unique<LabelDataComponent>());
	Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
	m(2, 3) = -4;
	set.setMatrixToWorld(m);

	auto clone = set.clone();
	ASSERT_EQ(clone->size(), 2);
	EXPECT_EQ(clone->name(), "ct");
	EXPECT_EQ(clone->focus(), 1);
	EXPECT_EQ(clone->matrixToWorld(), m);
	EXPECT_NE(clone->get(0), set.get(0));
	EXPECT_EQ(clone->get(1)->pixelType(), PixelType::Int16);
	clone->get(0)->typedData<std::uint8_t>()[3] = 200;
	EXPECT_EQ(set.get(0)->valueAt(3), 3.0);
	EXPECT_EQ(clone->get(0)->valueAt(3), 200.0);
	EXPECT_EQ(clone->components().size(), 1);

	auto bare =
	    set.clone(static_cast<unsigned>(CloneOption::SkipImages) | static_cast<unsigned>(CloneOption::SkipComponents));
	EXPECT_EQ(bare->size(), 0);
	EXPECT_EQ(bare->components().size(), 0);
	EXPECT_EQ(bare->matrixToWorld(), m);
}

TEST(SharedImage, RejectsEmptyDimensionsAndReadsTypedValues)
{
	EXPECT_THROW(SharedImage(PixelType::UInt8, Eigen::Vector3i(0, 2, 1)), std::invalid_argument);
	SharedImage image(PixelType::Int8, {2, 1, 1});
	image.typedData<std::int8_t>()[1] = -5;
	EXPECT_EQ(image.valueAt(0), 0.0);
	EXPECT_EQ(image.valueAt(1), -5.0);
	EXPECT_THROW(image.valueAt(2), std::out_of_range);
	EXPECT_EQ(image.byteSize(), 2u);
	EXPECT_EQ(pixelSize(PixelType::Double), 8u);
	EXPECT_FALSE(isIntegerPixelType(PixelType::Float));
}

TEST(SharedImageSet, BoundsCoverWholeVoxelsInWorld)
{
	SharedImageSet set;
	EXPECT_TRUE(set.bounds().isEmpty());
	set.add(std::make_shared<SharedImage>(PixelType::UInt8, Eigen::Vector3i(4, 2, 1), Eigen::Vector3d(1, 2, 3)));
	Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
	m.block<3, 1>(0, 3) = Eigen::Vector3d(10, 0, 0);
	set.setMatrixToWorld(m);
	auto box = set.bounds();
	EXPECT_TRUE(box.min().isApprox(Eigen::Vector3d(9.5, -1, -1.5)));
	EXPECT_TRUE(box.max().isApprox(Eigen::Vector3d(13.5, 3, 1.5)));
}

TEST(Mesh, FacesMustReferToExistingVertices)
{
	EXPECT_THROW(Mesh({{0, 0, 0}}, {{0, 0, 1}}), std::invalid_argument);
	Mesh mesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {{0, 1, 2}, {1, 3, 2}});
	try
	{
		mesh.setFaces({{0, 1, 2}, {0, 4, 1}});
		FAIL();
	}
	catch (const std::invalid_argument& e)
	{
		EXPECT_STREQ(e.what(), "face 1 refers to vertex 4, but the mesh has 4 vertices");
	}
	EXPECT_EQ(mesh.numFaces(), 2);
	EXPECT_THROW(mesh.setNormals({{0, 0, 1}}), std::invalid_argument);
	mesh.setNormals(std::vector<Eigen::Vector3d>(4, Eigen::Vector3d::UnitZ()));
	mesh.setVertices({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
	EXPECT_EQ(mesh.numFaces(), 1);    // the face using vertex 3 is gone
	EXPECT_TRUE(mesh.normals().empty());
	EXPECT_EQ(mesh.describe(), "Mesh: 3 vertices, 1 faces");
}

TEST(PointCloud, NormalsAreNoneOrOnePerPoint)
{
	EXPECT_THROW(PointCloud({{0, 0, 0}, {1, 1, 1}}, {{0, 0, 1}}), std::invalid_argument);
	PointCloud cloud({{0, 0, 0}, {1, 2, 3}}, {{0, 0, 1}, {0, 1, 0}});
	cloud.setName("pts");
	EXPECT_EQ(cloud.describe(), "PointCloud \"pts\": 2 points, with normals");
	EXPECT_TRUE(cloud.bounds().max().isApprox(Eigen::Vector3d(1, 2, 3)));
}

TEST(Graph, EdgesAndFeaturesAreValidated)
{
	try
	{
		Graph({{0, 0, 0}, {1, 0, 0}}, {{0, 1}, {1, 2}});
		FAIL();
	}
	catch (const std::invalid_argument& e)
	{
		EXPECT_STREQ(e.what(), "edge 1 refers to node 2, but the graph has 2 nodes");
	}
	Graph g({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, {{0, 1}, {1, 2}});
	g.setNodeFeature("radius", {1, 2, 3});
	g.setEdgeFeature("length", {1, 1});
	try
	{
		g.setEdgeFeature("weight", {1, 2, 3});
		FAIL();
	}
	catch (const std::invalid_argument& e)
	{
		EXPECT_STREQ(e.what(), "edge feature \"weight\" needs one value per edge (2), got 3");
	}
	EXPECT_THROW(g.setNodeFeature("radius", {1}), std::invalid_argument);
	EXPECT_EQ(g.nodeFeatures().at("radius"), (std::vector<double>{1, 2, 3}));
	EXPECT_THROW(g.setNodesAndEdges({{0, 0, 0}}, {{0, 1}}), std::invalid_argument);
	EXPECT_EQ(g.numNodes(), 3);

	// new edges keep the node features but drop edge features of the old edge count
	g.setNodesAndEdges(g.nodes(), {{0, 2}});
	EXPECT_TRUE(g.nodeFeatures().contains("radius"));
	EXPECT_TRUE(g.edgeFeatures().empty());
	EXPECT_EQ(g.describe(), "Graph: 3 nodes, 1 edges");
}

TEST(DataIO, RegistryDispatchesByCaseInsensitiveExtension)
{
	int writes = 0;
	DataIO::registerReader(".tstmesh", [](const std::string& path) {
		auto mesh = std::make_unique<Mesh>();
		mesh->setName(path);
		return mesh;
	});
	DataIO::registerWriter("TSTMESH", [&](const Data&, const std::string&) { ++writes; });
	EXPECT_TRUE(DataIO::hasReader(".TstMesh"));
	EXPECT_TRUE(DataIO::hasWriter(".tstmesh"));
	auto loaded = DataIO::load("dir.x/a.TSTMESH");
	EXPECT_EQ(loaded->kind(), Data::Kind::Mesh);
	EXPECT_EQ(loaded->name(), "dir.x/a.TSTMESH");
	DataIO::save(*loaded, "b.tstmesh");
	EXPECT_EQ(writes, 1);
	try
	{
		DataIO::load("a.unknownext");
		FAIL();
	}
	catch (const std::invalid_argument& e)
	{
		EXPECT_STREQ(e.what(), "cannot open \"a.unknownext\": no reader for the file extension \".unknownext\"");
	}
	EXPECT_THROW(DataIO::save(*loaded, "noextension"), std::invalid_argument);
	DataIO::registerReader(".tstnull", [](const std::string&) { return std::unique_ptr<Data>(); });
	EXPECT_THROW(DataIO::load("x.tstnull"), std::runtime_error);
}

namespace {

class HalvingAlgorithm : public Algorithm
{
public:
	HalvingAlgorithm() { registerParameter(value); }
	void compute() override
	{
		setProgress(0.5);
		auto mesh = std::make_unique<Mesh>();
		mesh->setName(std::to_string(value.get() / 2));
		m_output.add(std::move(mesh));
		m_status = Success;
	}
	Parameter<int> value{"value", 8};
};

}

TEST(Algorithm, OutputIsHandedOverOnceAndParametersConfigure)
{
	HalvingAlgorithm algorithm;
	EXPECT_EQ(algorithm.status(), Algorithm::Unknown);
	std::vector<double> progress;
	algorithm.progress.connect([&](double f) { progress.push_back(f); });
	Properties p;
	p.setParam("value", 10);
	algorithm.configure(&p);
	algorithm.compute();
	EXPECT_EQ(algorithm.status(), Algorithm::Success);
	EXPECT_EQ(progress, std::vector<double>{0.5});
	OwningDataList out = algorithm.takeOutput();
	ASSERT_EQ(out.size(), 1);
	EXPECT_EQ(out.at(0)->name(), "5");
	EXPECT_TRUE(algorithm.takeOutput().empty());
}
