#include "anatomy/stores/KeyValueStore.h"

#include "core/Log.h"
#include "data/Mesh.h"
#include "data/SharedImageSet.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace Orbitane;

namespace {

using PointStore = KeyValueStore<Eigen::Vector3d>;
using PlaneStore = KeyValueStore<Eigen::Vector4d>;
using MeshStore = KeyValueStore<std::unique_ptr<Mesh>>;
using ImageStore = KeyValueStore<std::unique_ptr<SharedImageSet>>;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

const std::string insertRefused = "Attempted to insert invalid entry (nullptr/NaN) into KeyValueStore!";
const std::string exchangeRefused = "Attempting to insert invalid entry (nullptr/NaN) into KeyValueStore";
const std::string invalidPresent = "Invalid entry (nullptr/NaN) present in KeyValueStore";
const std::string notInMap = "Entry that was not part of map tried to emit signal";

/// Collects the store's log records for the duration of a test.
class StoreLog : public ::testing::Test
{
protected:
	void SetUp() override
	{
		m_sink = Log::addSink([this](const Log::Record& r) {
			if (r.category == "AnatomyPlugin.KeyValueStore")
				records.push_back(r);
		});
	}
	void TearDown() override
	{
		Log::removeSink(m_sink);
		Log::g_globalLevel = m_savedLevel;
		Log::setCategoryLevel("AnatomyPlugin", -1);
	}
	std::vector<std::string> messages() const
	{
		std::vector<std::string> out;
		for (const auto& r : records)
			out.push_back(r.message);
		return out;
	}

	std::vector<Log::Record> records;

private:
	int m_sink = 0;
	int m_savedLevel = Log::g_globalLevel;
};

std::unique_ptr<Mesh> triangle(const std::string& name = "m")
{
	auto mesh = std::make_unique<Mesh>(std::vector<Eigen::Vector3d>{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
	                                   std::vector<Eigen::Vector3i>{{0, 1, 2}});
	mesh->setName(name);
	return mesh;
}

Eigen::Matrix4d translation(double x, double y, double z)
{
	Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
	m.block<3, 1>(0, 3) = Eigen::Vector3d(x, y, z);
	return m;
}

/// Records every signal of a store as text, in emission order.
template <typename Store>
struct SignalLog
{
	explicit SignalLog(Store& store)
	{
		store.entryAdded.connect(
		    [this](const std::string& key, typename Store::Entry&) { events.push_back("added " + key); });
		store.entryChanged.connect([this](const std::string& key, typename Store::Element, typename Store::Entry&) {
			events.push_back("changed " + key);
		});
		store.entryRemoved.connect([this, &store](const std::string& key, typename Store::Element) {
			events.push_back("removed " + key + (store.contains(key) ? " (still there)" : ""));
		});
	}
	std::vector<std::string> events;
};

}

// ---- signals ---------------------------------------------------------------------------------

TEST(KeyValueStoreSignals, FirstAssignmentAddsLaterOnesChangeWithThePreviousValue)
{
	PointStore store;
	std::vector<std::string> events;
	store.entryAdded.connect([&](const std::string& key, PointStore::Entry& entry) {
		events.push_back("added " + key);
		EXPECT_EQ(&entry, store.find(key));
		EXPECT_TRUE(entry.isInitialized());
		EXPECT_EQ(entry.value(), Eigen::Vector3d(1, 2, 3));
	});
	store.entryChanged.connect([&](const std::string& key, const Eigen::Vector3d& previous, PointStore::Entry& entry) {
		events.push_back("changed " + key);
		EXPECT_EQ(previous, Eigen::Vector3d(1, 2, 3));
		EXPECT_EQ(entry.value(), Eigen::Vector3d(4, 5, 6));
	});

	PointStore::Entry& entry = store.getOrCreate("tip");
	EXPECT_TRUE(events.empty()) << "getOrCreate announces nothing";
	EXPECT_TRUE(store.contains("tip"));
	EXPECT_EQ(store.size(), 1u);
	EXPECT_FALSE(entry.isInitialized());

	EXPECT_TRUE(entry.set({1, 2, 3}));
	EXPECT_TRUE(entry.set({4, 5, 6}));
	EXPECT_EQ(events, (std::vector<std::string>{"added tip", "changed tip"}));
	EXPECT_EQ(store.getOrCreate("tip").value(), Eigen::Vector3d(4, 5, 6));
}

TEST(KeyValueStoreSignals, ExchangeHandsBackThePreviousValue)
{
	PointStore store;
	PointStore::Entry& entry = store.getOrCreate("a");
	EXPECT_TRUE(entry.exchange({1, 1, 1}).hasNaN()) << "a new entry holds the invalid initial value";
	EXPECT_EQ(entry.exchange({2, 2, 2}), Eigen::Vector3d(1, 1, 1));
}

TEST(KeyValueStoreSignals, RemoveAnnouncesAfterTheKeyIsGone)
{
	PointStore store;
	SignalLog log(store);
	store.set("a", {1, 2, 3});
	std::optional<Eigen::Vector3d> removedInSlot;
	store.entryRemoved.connect([&](const std::string&, const Eigen::Vector3d& v) { removedInSlot = v; });

	auto removed = store.remove("a");
	ASSERT_TRUE(removed.has_value());
	EXPECT_EQ(*removed, Eigen::Vector3d(1, 2, 3));
	EXPECT_EQ(removedInSlot, Eigen::Vector3d(1, 2, 3));
	EXPECT_EQ(log.events, (std::vector<std::string>{"added a", "removed a"}));
	EXPECT_FALSE(store.contains("a"));

	EXPECT_FALSE(store.remove("missing").has_value());
	EXPECT_EQ(log.events.size(), 2u) << "removing a missing key announces nothing";
}

TEST(KeyValueStoreSignals, RemovingACreatedEntryAnnouncesItToo)
{
	PointStore store;
	SignalLog log(store);
	store.getOrCreate("fresh");
	store.remove("fresh");
	EXPECT_EQ(log.events, (std::vector<std::string>{"removed fresh"}));
}

TEST(KeyValueStoreSignals, ClearRemovesInKeyOrderWhileLaterKeysAreStillPresent)
{
	PointStore store;
	store.set("b", {0, 0, 1});
	store.set("a", {0, 0, 2});
	store.set("c", {0, 0, 3});
	std::vector<std::string> seen;
	store.entryRemoved.connect([&](const std::string& key, const Eigen::Vector3d&) {
		seen.push_back(key + ":" + std::to_string(store.size()) + (store.contains("c") ? "c" : ""));
	});
	store.clear();
	EXPECT_EQ(seen, (std::vector<std::string>{"a:2c", "b:1c", "c:0"}));
	EXPECT_TRUE(store.empty());

	store.clear();
	EXPECT_EQ(seen.size(), 3u) << "clearing an empty store announces nothing";
}

TEST(KeyValueStoreSignals, ObjectsAreAliveInSlotsAndDeletedAfterwards)
{
	MeshStore store;
	std::vector<std::string> names;
	store.entryChanged.connect([&](const std::string&, Mesh* previous, MeshStore::Entry& entry) {
		names.push_back("changed from " + previous->name() + " to " + entry.value()->name());
	});
	store.entryRemoved.connect(
	    [&](const std::string&, Mesh* removed) { names.push_back("removed " + removed->name()); });

	store.set("m", triangle("first"));
	store.set("m", triangle("second"));
	store.set("n", triangle("third"));
	store.clear();
	EXPECT_EQ(names, (std::vector<std::string>{"changed from first to second", "removed second", "removed third"}));

	store.set("x", triangle("kept"));
	std::unique_ptr<Mesh> taken = store.remove("x");
	ASSERT_TRUE(taken);
	EXPECT_EQ(taken->name(), "kept") << "remove hands the object over to the caller";
	EXPECT_EQ(store.remove("x"), nullptr);
}

// ---- validity and log messages ---------------------------------------------------------------

TEST_F(StoreLog, KeypointsRefuseNaNButAcceptInfinity)
{
	PointStore store;
	SignalLog signals(store);
	PointStore::Entry& entry = store.getOrCreate("k");
	EXPECT_FALSE(entry.set({1, kNaN, 3}));
	EXPECT_FALSE(entry.isInitialized());
	EXPECT_TRUE(entry.value().hasNaN());

	const Eigen::Vector3d refused(kNaN, 0, 0);
	const Eigen::Vector3d handedBack = entry.exchange(refused);
	EXPECT_TRUE(std::isnan(handedBack.x()));
	EXPECT_EQ(handedBack.y(), 0.0);

	EXPECT_TRUE(entry.set({kInf, -kInf, 0}));
	EXPECT_EQ(entry.value(), Eigen::Vector3d(kInf, -kInf, 0));

	EXPECT_EQ(messages(), (std::vector<std::string>{insertRefused, exchangeRefused}));
	EXPECT_EQ(signals.events, (std::vector<std::string>{"added k"}));
	for (const auto& r : records)
	{
		EXPECT_EQ(r.level, 4);
		EXPECT_EQ(r.file, "");
		EXPECT_EQ(r.line, -1);
	}
}

TEST_F(StoreLog, StoreSetRemovesSilentlyInsteadOfStoringNaN)
{
	PointStore store;
	SignalLog signals(store);
	store.set("k", {1, 2, 3});
	EXPECT_EQ(store.set("k", {kNaN, 2, 3}), nullptr);
	EXPECT_EQ(store.set("never", {kNaN, kNaN, kNaN}), nullptr);
	EXPECT_FALSE(store.contains("k"));
	EXPECT_FALSE(store.contains("never"));
	EXPECT_EQ(signals.events, (std::vector<std::string>{"added k", "removed k"}));
	EXPECT_TRUE(records.empty());
}

TEST_F(StoreLog, PlanesTakeEveryValueAndNeverLog)
{
	PlaneStore store;
	PlaneStore::Entry& entry = store.getOrCreate("p");
	entry.attributes();
	EXPECT_TRUE(entry.set({kNaN, 0, 1, kNaN}));
	EXPECT_TRUE(entry.isInitialized());
	EXPECT_TRUE(std::isnan(entry.value()[0]));
	EXPECT_NE(store.set("q", {kNaN, kNaN, kNaN, kNaN}), nullptr);
	EXPECT_TRUE(store.contains("q"));
	EXPECT_TRUE(records.empty());
}

TEST_F(StoreLog, ObjectStoresRefuseNull)
{
	MeshStore store;
	SignalLog signals(store);
	MeshStore::Entry& entry = store.getOrCreate("m");
	EXPECT_FALSE(entry.set(nullptr));
	EXPECT_EQ(entry.exchange(nullptr), nullptr);
	EXPECT_TRUE(signals.events.empty());
	EXPECT_EQ(messages(), (std::vector<std::string>{insertRefused, exchangeRefused}));
}

TEST_F(StoreLog, AttributesOfAnEntryWithoutValueAreLoggedButReturned)
{
	PointStore points;
	MeshStore meshes;
	points.getOrCreate("p").attributes().setParam("colour", 3);
	meshes.getOrCreate("m").attributes();
	EXPECT_EQ(messages(), (std::vector<std::string>{invalidPresent, invalidPresent}));
	int colour = 0;
	EXPECT_TRUE(points.getOrCreate("p").attributes().param("colour", colour));
	EXPECT_EQ(colour, 3);

	records.clear();
	points.set("q", {0, 0, 0});
	points.getOrCreate("q").attributes();
	EXPECT_TRUE(records.empty());
}

TEST_F(StoreLog, AtLogsAMissingKeyAndAnswersWithAnEmptyEntry)
{
	PointStore store;
	store.set("a", {1, 2, 3});
	EXPECT_EQ(store.at("a").value(), Eigen::Vector3d(1, 2, 3));
	EXPECT_TRUE(records.empty());

	const PointStore::Entry& missing = store.at("zz");
	EXPECT_EQ(messages(), (std::vector<std::string>{"Attempted to access missing element with key zz"}));
	EXPECT_TRUE(missing.value().hasNaN());
	EXPECT_EQ(missing.store(), nullptr);
	EXPECT_FALSE(store.contains("zz")) << "at never creates";
}

TEST_F(StoreLog, AnEntryOutsideTheMapAssignsWithoutSignal)
{
	PointStore store;
	SignalLog signals(store);
	PointStore::Entry orphan(&store);
	EXPECT_TRUE(orphan.set({1, 2, 3}));
	EXPECT_EQ(orphan.value(), Eigen::Vector3d(1, 2, 3));
	EXPECT_TRUE(signals.events.empty());
	EXPECT_EQ(messages(), (std::vector<std::string>{notInMap}));
}

TEST_F(StoreLog, NothingIsLoggedBelowTheGlobalLevelOrAgainstTheCategoryFilter)
{
	PointStore store;
	Log::g_globalLevel = 5;
	store.getOrCreate("a").set({kNaN, 0, 0});
	Log::g_globalLevel = 0;
	Log::setCategoryLevel("AnatomyPlugin", 5);
	store.getOrCreate("a").set({kNaN, 0, 0});
	EXPECT_TRUE(records.empty());
	Log::setCategoryLevel("AnatomyPlugin", -1);
	store.getOrCreate("a").set({kNaN, 0, 0});
	EXPECT_EQ(messages(), (std::vector<std::string>{insertRefused}));
}

// ---- order -----------------------------------------------------------------------------------

TEST(KeyValueStoreOrder, KeysCompareByteWise)
{
	PointStore store;
	for (const char* key : {"ab", "\xc3\xa9", "a", "B", "", "a\x01"})
		store.set(key, {0, 0, 0});
	const std::vector<std::string> expected{"", "B", "a", "a\x01", "ab", "\xc3\xa9"};
	EXPECT_EQ(store.keys(), expected);
	std::vector<std::string> iterated;
	for (const auto& [key, entry] : store)
		iterated.push_back(key);
	EXPECT_EQ(iterated, expected);
}

// ---- local copies ----------------------------------------------------------------------------

TEST(KeyValueStoreLocal, VectorsFollowTheStoreFrameUnlessSynchronizationIsOff)
{
	Eigen::Matrix4d frame = translation(10, 0, 0);
	PointStore points;
	PlaneStore planes;
	points.matrix = &frame;
	planes.matrix = &frame;

	points.set("p", {11, 2, 3});
	EXPECT_EQ(points.getOrCreate("p").localValue(), Eigen::Vector3d(1, 2, 3));
	// the plane x = 11 is x = 1 in the frame
	planes.set("x", {1, 0, 0, -11});
	EXPECT_EQ(planes.getOrCreate("x").localValue(), Eigen::Vector4d(1, 0, 0, -1));

	PointStore::Entry& frozen = points.getOrCreate("p");
	frozen.attributes().setParam("synchronization", false);
	frozen.set({20, 0, 0});
	EXPECT_EQ(frozen.value(), Eigen::Vector3d(20, 0, 0));
	EXPECT_EQ(frozen.localValue(), Eigen::Vector3d(1, 2, 3));

	frozen.attributes().setParam("synchronization", true);
	frozen.set({21, 0, 0});
	EXPECT_EQ(frozen.localValue(), Eigen::Vector3d(11, 0, 0));

	points.matrix = nullptr;
	points.set("q", {5, 6, 7});
	EXPECT_EQ(points.getOrCreate("q").localValue(), Eigen::Vector3d(5, 6, 7)) << "no frame means identity";
}

TEST(KeyValueStoreLocal, ObjectsFollowTheirOwnMatrixChanges)
{
	Eigen::Matrix4d frame = translation(0, 5, 0);
	MeshStore store;
	store.matrix = &frame;
	store.set("m", triangle());
	MeshStore::Entry& entry = store.getOrCreate("m");
	EXPECT_TRUE(entry.localMatrix().isApprox(translation(0, -5, 0)));

	// the entry sees the object moving without any assignment through the store
	Mesh* stored = const_cast<Mesh*>(entry.value().get());
	stored->setMatrixToWorld(translation(1, 5, 0));
	EXPECT_TRUE(entry.localMatrix().isApprox(translation(1, 0, 0)));

	entry.attributes().setParam("synchronization", false);
	stored->setMatrixToWorld(translation(7, 7, 7));
	EXPECT_TRUE(entry.localMatrix().isApprox(translation(1, 0, 0)));
}

TEST(KeyValueStoreLocal, MatrixConnectionsMoveFromTheOldObjectToTheNewOne)
{
	MeshStore store;
	store.set("m", triangle("old"));
	MeshStore::Entry& entry = store.getOrCreate("m");

	std::unique_ptr<Mesh> old = entry.exchange(triangle("new"));
	ASSERT_TRUE(old);
	EXPECT_EQ(old->matrixChanged.numConnections(), 0u);
	old->setMatrixToWorld(translation(3, 0, 0));
	EXPECT_TRUE(entry.localMatrix().isIdentity()) << "the old object no longer reaches the entry";

	Mesh* current = const_cast<Mesh*>(entry.value().get());
	EXPECT_EQ(current->matrixChanged.numConnections(), 1u);
	current->setMatrixToWorld(translation(0, 4, 0));
	EXPECT_TRUE(entry.localMatrix().isApprox(translation(0, 4, 0)));

	// removal drops the entry's connection and any the store itself held on the object
	int storeSlotCalls = 0;
	current->matrixChanged.connect(&store, [&](const Data*) { ++storeSlotCalls; });
	std::unique_ptr<Mesh> removed = store.remove("m");
	EXPECT_EQ(removed->matrixChanged.numConnections(), 0u);
	removed->setMatrixToWorld(translation(1, 1, 1));
	EXPECT_EQ(storeSlotCalls, 0);
}

TEST(KeyValueStoreLocal, AnObjectErasedByAReceiverWhileTheFrameMovesIsLeftAlone)
{
	Eigen::Matrix4d frame = Eigen::Matrix4d::Identity();
	MeshStore store;
	store.matrix = &frame;
	store.set("a", triangle("a"));
	store.set("b", triangle("b"));
	Mesh* a = const_cast<Mesh*>(store.getOrCreate("a").value().get());
	a->matrixChanged.connect([&](const Data*) { store.remove("a"); });

	store.moveWithFrame(translation(1, 2, 3));
	EXPECT_FALSE(store.contains("a"));
	EXPECT_TRUE(store.getOrCreate("b").value()->matrixToWorld().isApprox(translation(1, 2, 3)));
}

// ---- deep copies -----------------------------------------------------------------------------

TEST(KeyValueStoreCopy, AssignFromCopiesElementsAttributesAndLocalCopies)
{
	Eigen::Matrix4d frame = translation(1, 0, 0);
	MeshStore source;
	source.matrix = &frame;
	source.set("m", triangle("source"));
	source.getOrCreate("m").attributes().setParam("colour", 7);
	source.getOrCreate("empty");

	PointStore points;
	points.matrix = &frame;
	points.set("frozen", {5, 5, 5});
	points.getOrCreate("frozen").attributes().setParam("synchronization", false);
	points.getOrCreate("frozen").set({9, 9, 9});

	MeshStore copy;
	copy.set("stale", triangle());
	copy.matrix = &frame;
	copy.assignFrom(source);
	EXPECT_EQ(copy.keys(), (std::vector<std::string>{"empty", "m"}));
	EXPECT_FALSE(copy.getOrCreate("empty").isInitialized());
	const MeshStore::Entry& m = copy.getOrCreate("m");
	EXPECT_NE(m.value().get(), source.getOrCreate("m").value().get());
	EXPECT_EQ(m.value()->name(), "source");
	EXPECT_EQ(m.value()->numFaces(), 1);
	EXPECT_EQ(m.attributes(), source.getOrCreate("m").attributes());
	EXPECT_TRUE(m.localMatrix().isApprox(translation(-1, 0, 0)));

	PointStore pointCopy;
	pointCopy.matrix = &frame;
	pointCopy.assignFrom(points);
	EXPECT_EQ(pointCopy.getOrCreate("frozen").value(), Eigen::Vector3d(9, 9, 9));
	EXPECT_EQ(pointCopy.getOrCreate("frozen").localValue(), Eigen::Vector3d(4, 5, 5));
}

TEST(KeyValueStoreCopy, ImageSetsAreCopiedByClone)
{
	ImageStore store;
	auto images = std::make_unique<SharedImageSet>();
	images->setName("ct");
	store.set("i", std::move(images));
	ImageStore copy;
	copy.assignFrom(store);
	ASSERT_TRUE(copy.getOrCreate("i").value());
	EXPECT_EQ(copy.getOrCreate("i").value()->name(), "ct");
	EXPECT_NE(copy.getOrCreate("i").value().get(), store.getOrCreate("i").value().get());
}
