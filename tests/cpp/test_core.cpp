#include "core/Configurable.h"
#include "core/FreshPages.h"
#include "core/Log.h"
#include "core/Parameter.h"
#include "core/Properties.h"
#include "core/Signal.h"
#include "core/String.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace Orbitane;

namespace {

struct Receiver : SignalReceiver
{
	std::vector<int> seen;
};

// --- Signal ------------------------------------------------------------------------------------

TEST(Signal, SlotsRunInConnectionOrderWithTheEmittedArguments)
{
	Signal<int, const std::string&> signal;
	std::vector<std::string> calls;
	signal.connect([&](int i, const std::string& s) { calls.push_back("a" + std::to_string(i) + s); });
	signal.connect([&](int i, const std::string& s) { calls.push_back("b" + std::to_string(i) + s); });
	signal.connect([&](int i, const std::string& s) { calls.push_back("c" + std::to_string(i) + s); });

	signal.emitSignal(7, "x");
	signal(8, "y");

	EXPECT_EQ(calls, (std::vector<std::string>{"a7x", "b7x", "c7x", "a8y", "b8y", "c8y"}));
}

TEST(Signal, DeadReceiverLosesItsConnections)
{
	Signal<int> signal;
	int plainCalls = 0;
	signal.connect([&](int) { ++plainCalls; });
	std::vector<int> seen;
	{
		Receiver r;
		signal.connect(&r, [&](int v) { seen.push_back(v); });
		signal.emitSignal(1);
		EXPECT_EQ(signal.numConnections(), 2u);
	}
	signal.emitSignal(2);

	EXPECT_EQ(seen, std::vector<int>{1});
	EXPECT_EQ(plainCalls, 2);
	EXPECT_EQ(signal.numConnections(), 1u);
}

TEST(Signal, ReceiverMayOutliveTheSignal)
{
	Receiver r;
	{
		Signal<> signal;
		signal.connect(&r, [] {});
	}
	r.disconnectAll();    // must not reach the destroyed signal
	Signal<> other;
	other.connect(&r, [&r] { r.seen.push_back(1); });
	other.emitSignal();
	EXPECT_EQ(r.seen, std::vector<int>{1});
}

TEST(Signal, DisconnectByReceiverDropsOnlyThatReceiversSlotsOnThisSignal)
{
	Signal<int> first, second;
	Receiver r, keep;
	first.connect(&r, [&](int v) { r.seen.push_back(v); });
	first.connect(&keep, [&](int v) { keep.seen.push_back(v); });
	second.connect(&r, [&](int v) { r.seen.push_back(100 + v); });

	first.disconnect(&r);
	first.emitSignal(1);
	second.emitSignal(2);

	EXPECT_EQ(r.seen, std::vector<int>{102});
	EXPECT_EQ(keep.seen, std::vector<int>{1});
	EXPECT_EQ(first.numConnections(), 1u);
	first.disconnect(static_cast<SignalReceiver*>(nullptr));    // a null receiver is ignored
	EXPECT_EQ(first.numConnections(), 1u);
}

TEST(Signal, DisconnectByIdRemovesExactlyOneSlotOnce)
{
	Signal<> signal;
	std::vector<int> calls;
	const int a = signal.connect([&] { calls.push_back(1); });
	const int b = signal.connect([&] { calls.push_back(2); });
	EXPECT_NE(a, b);

	EXPECT_TRUE(signal.disconnect(a));
	EXPECT_FALSE(signal.disconnect(a));
	EXPECT_FALSE(signal.disconnect(12345));
	signal.emitSignal();

	EXPECT_EQ(calls, std::vector<int>{2});
}

TEST(Signal, SlotConnectedDuringEmitRunsFromTheNextEmissionOn)
{
	Signal<> signal;
	int late = 0;
	bool connected = false;
	signal.connect([&] {
		if (!connected)
			signal.connect([&] { ++late; });
		connected = true;
	});

	signal.emitSignal();
	EXPECT_EQ(late, 0);
	signal.emitSignal();
	EXPECT_EQ(late, 1);
}

TEST(Signal, SlotDisconnectedDuringEmitDoesNotRunAnyMore)
{
	Signal<> signal;
	std::vector<int> calls;
	int second = 0;
	signal.connect([&] {
		calls.push_back(1);
		signal.disconnect(second);
	});
	second = signal.connect([&] { calls.push_back(2); });
	const int self = signal.connect([&] { calls.push_back(3); });
	signal.connect([&] {
		calls.push_back(4);
		signal.disconnect(self);
	});

	signal.emitSignal();
	signal.emitSignal();

	EXPECT_EQ(calls, (std::vector<int>{1, 3, 4, 1, 4}));
}

TEST(Signal, ReceiverDestroyedByAnEarlierSlotIsSkipped)
{
	Signal<> signal;
	auto r = std::make_unique<Receiver>();
	int calls = 0;
	signal.connect([&] { r.reset(); });
	signal.connect(r.get(), [&] { ++calls; });

	signal.emitSignal();

	EXPECT_EQ(calls, 0);
	EXPECT_EQ(signal.numConnections(), 1u);
}

TEST(Signal, ExceptionFromASlotReachesTheEmitterAndLeavesTheSignalUsable)
{
	Signal<int> signal;
	std::vector<int> calls;
	signal.connect([&](int v) {
		if (v < 0)
			throw std::runtime_error("negative");
		calls.push_back(v);
	});
	signal.connect([&](int v) { calls.push_back(10 * v); });

	EXPECT_THROW(signal.emitSignal(-1), std::runtime_error);
	EXPECT_TRUE(calls.empty());
	signal.emitSignal(2);
	EXPECT_EQ(calls, (std::vector<int>{2, 20}));
}

// --- Parameter ---------------------------------------------------------------------------------

TEST(Parameter, DifferentValueIsStoredAndAnnouncedOnceEqualValueChangesNothing)
{
	Parameter<double> p("threshold", 0.5);
	int changes = 0;
	p.changed.connect([&] { ++changes; });

	p = 0.5;
	EXPECT_EQ(changes, 0);
	p.set(0.75);
	EXPECT_EQ(changes, 1);
	EXPECT_EQ(p.get(), 0.75);
	p.set(0.75);
	EXPECT_EQ(changes, 1);

	p.resetToDefault();
	EXPECT_EQ(changes, 2);
	EXPECT_EQ(static_cast<const double&>(p), 0.5);
	EXPECT_EQ(p.name(), "threshold");
}

TEST(Parameter, GenericValueRoundTripsAndKeepsItsType)
{
	Parameter<std::string> text("dir", "/tmp");
	Parameter<Eigen::Vector3d> point("origin", Eigen::Vector3d(1, 2, 3));
	ASSERT_TRUE(std::holds_alternative<std::string>(text.value()));
	EXPECT_EQ(std::get<std::string>(text.value()), "/tmp");
	ASSERT_TRUE(std::holds_alternative<Eigen::Vector3d>(point.value()));
	EXPECT_EQ(std::get<Eigen::Vector3d>(point.value()), Eigen::Vector3d(1, 2, 3));

	int changes = 0;
	point.changed.connect([&] { ++changes; });
	point.setValue(Eigen::Vector3d(4, 5, 6));
	point.setValue(Eigen::Vector3d(4, 5, 6));
	EXPECT_EQ(point.get(), Eigen::Vector3d(4, 5, 6));
	EXPECT_EQ(changes, 1);
}

TEST(Parameter, SetValueOfAnotherTypeThrowsAndChangesNothing)
{
	Parameter<bool> flag("updateMeanShape", false);
	Parameter<int> count("iterations", 3);
	Parameter<double> weight("weight", 1.0);
	int changes = 0;
	flag.changed.connect([&] { ++changes; });
	count.changed.connect([&] { ++changes; });

	EXPECT_THROW(flag.setValue(std::string("yes")), std::invalid_argument);
	EXPECT_THROW(flag.setValue(2), std::invalid_argument);
	EXPECT_THROW(count.setValue(2.5), std::invalid_argument);
	EXPECT_THROW(weight.setValue(Eigen::Vector2d(1, 2)), std::invalid_argument);
	EXPECT_FALSE(flag.get());
	EXPECT_EQ(count.get(), 3);
	EXPECT_EQ(changes, 0);

	flag.setValue(1);      // 0 and 1 read as bool
	weight.setValue(4);    // ints widen to double
	EXPECT_TRUE(flag.get());
	EXPECT_EQ(weight.get(), 4.0);
}

// --- Properties --------------------------------------------------------------------------------

TEST(Properties, EveryValueTypeRoundTrips)
{
	Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
	m(0, 3) = 5;
	Properties nested;
	nested.setParam("depth", 2);

	Properties p;
	p.setParam("b", true);
	p.setParam("i", -3);
	p.setParam("d", 2.5);
	p.setParam("s", std::string("text"));
	p.setParam("c", "literal");
	p.setParam("v2", Eigen::Vector2d(1, 2));
	p.setParam("v3", Eigen::Vector3d(1, 2, 3));
	p.setParam("v4", Eigen::Vector4d(1, 2, 3, 4));
	p.setParam("m", m);
	p.setParam("n", nested);

	bool b = false;
	int i = 0;
	double d = 0;
	std::string s, c;
	Eigen::Vector2d v2;
	Eigen::Vector3d v3;
	Eigen::Vector4d v4;
	Eigen::Matrix4d mm;
	Properties n;
	ASSERT_TRUE(p.param("b", b) && p.param("i", i) && p.param("d", d) && p.param("s", s) && p.param("c", c));
	ASSERT_TRUE(p.param("v2", v2) && p.param("v3", v3) && p.param("v4", v4) && p.param("m", mm) && p.param("n", n));
	EXPECT_TRUE(b);
	EXPECT_EQ(i, -3);
	EXPECT_EQ(d, 2.5);
	EXPECT_EQ(s, "text");
	EXPECT_EQ(c, "literal");
	EXPECT_EQ(v2, Eigen::Vector2d(1, 2));
	EXPECT_EQ(v3, Eigen::Vector3d(1, 2, 3));
	EXPECT_EQ(v4, Eigen::Vector4d(1, 2, 3, 4));
	EXPECT_EQ(mm, m);
	EXPECT_EQ(n, nested);
	EXPECT_EQ(p.names(), (std::vector<std::string>{"b", "i", "d", "s", "c", "v2", "v3", "v4", "m", "n"}));
}

TEST(Properties, ReadingWithAnotherTypeFailsAndLeavesTheOutputAlone)
{
	Properties p;
	p.setParam("two", 2);
	p.setParam("half", 0.5);
	p.setParam("name", std::string("x"));

	bool b = true;
	int i = 7;
	std::string s = "kept";
	Eigen::Vector3d v(9, 9, 9);
	EXPECT_FALSE(p.param("two", b));     // only 0 and 1 read as bool
	EXPECT_FALSE(p.param("half", i));    // doubles never narrow
	EXPECT_FALSE(p.param("two", s));
	EXPECT_FALSE(p.param("name", v));
	EXPECT_FALSE(p.param("missing", i));
	EXPECT_TRUE(b);
	EXPECT_EQ(i, 7);
	EXPECT_EQ(s, "kept");
	EXPECT_EQ(v, Eigen::Vector3d(9, 9, 9));

	double d = 0;
	EXPECT_TRUE(p.param("two", d));
	EXPECT_EQ(d, 2.0);
}

TEST(Properties, ExistenceOfABoolIsSeparateFromItsValue)
{
	Properties p;
	bool flag = true;
	EXPECT_FALSE(p.param("visible", flag));
	EXPECT_FALSE(p.has("visible"));
	p.setParam("visible", false);
	EXPECT_TRUE(p.has("visible"));
	EXPECT_TRUE(p.param("visible", flag));
	EXPECT_FALSE(flag);

	EXPECT_TRUE(p.remove("visible"));
	EXPECT_FALSE(p.remove("visible"));
	EXPECT_FALSE(p.has("visible"));
}

TEST(Properties, ReplacingAValueKeepsItsPositionAndMayChangeItsType)
{
	Properties p;
	p.setParam("a", 1);
	p.setParam("b", 2);
	p.setParam("a", std::string("one"));
	EXPECT_EQ(p.names(), (std::vector<std::string>{"a", "b"}));
	EXPECT_TRUE(std::holds_alternative<std::string>(*p.find("a")));
}

TEST(Properties, CopiesOfNestedPropertiesAreDeepInBothDirections)
{
	Properties original;
	original.subProperties("rule").setParam("colour", Eigen::Vector3d(1, 0, 0));
	original.subProperties("rule").subProperties("inner").setParam("width", 2);

	Properties copy = original;
	copy.subProperties("rule").subProperties("inner").setParam("width", 5);
	Properties assigned;
	assigned = original;
	original.subProperties("rule").setParam("colour", Eigen::Vector3d(0, 1, 0));

	int width = 0;
	EXPECT_TRUE(original.subProperties("rule").subProperties("inner").param("width", width));
	EXPECT_EQ(width, 2);
	Eigen::Vector3d colour;
	EXPECT_TRUE(assigned.subProperties("rule").param("colour", colour));
	EXPECT_EQ(colour, Eigen::Vector3d(1, 0, 0));
	EXPECT_TRUE(copy.subProperties("rule").param("colour", colour));
	EXPECT_EQ(colour, Eigen::Vector3d(1, 0, 0));
}

TEST(Properties, SubPropertiesAreCreatedOnDemandOnlyThroughTheMutableAccess)
{
	Properties p;
	const Properties& view = p;
	EXPECT_EQ(view.subProperties("missing"), nullptr);
	EXPECT_TRUE(p.empty());

	p.setParam("plain", 3);
	EXPECT_EQ(view.subProperties("plain"), nullptr);
	p.subProperties("plain").setParam("x", 1);    // a plain value is replaced by a nested one
	ASSERT_NE(view.subProperties("plain"), nullptr);
	EXPECT_EQ(view.subProperties("plain")->size(), 1u);
}

TEST(Properties, EqualityIgnoresOrderButNotNamesValuesOrTypes)
{
	Properties a, b;
	a.setParam("x", 1);
	a.setParam("y", std::string("s"));
	b.setParam("y", std::string("s"));
	b.setParam("x", 1);
	EXPECT_TRUE(a == b);

	Properties differentValue = b;
	differentValue.setParam("x", 2);
	EXPECT_FALSE(a == differentValue);
	Properties differentType = b;
	differentType.setParam("x", 1.0);
	EXPECT_FALSE(a == differentType);
	Properties extra = b;
	extra.setParam("z", true);
	EXPECT_FALSE(a == extra);
	EXPECT_FALSE(extra == a);
	Properties renamed;
	renamed.setParam("x", 1);
	renamed.setParam("w", std::string("s"));
	EXPECT_FALSE(a == renamed);

	a.subProperties("n").setParam("k", 1);
	b.subProperties("n").setParam("k", 1);
	EXPECT_TRUE(a == b);
	b.subProperties("n").setParam("k", 2);
	EXPECT_FALSE(a == b);
}

// --- Configurable ------------------------------------------------------------------------------

struct Settings : Configurable
{
	Settings()
	{
		registerParameter(count);
		registerParameter(label);
		registerParameter(enabled);
	}
	Parameter<int> count{"count", 1};
	Parameter<std::string> label{"label", "none"};
	Parameter<bool> enabled{"enabled", true};
};

TEST(Configurable, ConfigureSetsNamedParametersAndSkipsMissingOrMistypedOnes)
{
	Settings s;
	int changes = 0;
	s.count.changed.connect([&] { ++changes; });
	Properties p;
	p.setParam("count", 4);
	p.setParam("label", 12);    // wrong type
	p.setParam("unknown", 1.5);

	s.configure(&p);
	s.configure(nullptr);

	EXPECT_EQ(s.count.get(), 4);
	EXPECT_EQ(s.label.get(), "none");
	EXPECT_TRUE(s.enabled.get());
	EXPECT_EQ(changes, 1);
}

TEST(Configurable, ConfigurationWritesEveryParameterAndDefaultsRestoreThem)
{
	Settings s;
	s.count = 9;
	s.label = "liver";
	s.enabled = false;

	Properties out;
	out.setParam("foreign", 1);
	s.configuration(&out);
	s.configuration(nullptr);
	EXPECT_EQ(out.names(), (std::vector<std::string>{"foreign", "count", "label", "enabled"}));

	Settings other;
	other.configure(&out);
	Properties roundTrip;
	other.configuration(&roundTrip);
	out.remove("foreign");
	EXPECT_EQ(roundTrip, out);

	s.configureDefaults();
	EXPECT_EQ(s.count.get(), 1);
	EXPECT_EQ(s.label.get(), "none");
	EXPECT_TRUE(s.enabled.get());
	EXPECT_EQ(s.parameter("label"), &s.label);
	EXPECT_EQ(s.parameter("nothing"), nullptr);
	EXPECT_EQ(s.parameters().size(), 3u);
}

// --- Log ---------------------------------------------------------------------------------------

class LogTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		m_savedLevel = Log::g_globalLevel;
		m_sink = Log::addSink([this](const Log::Record& r) { records.push_back(r); });
	}
	void TearDown() override
	{
		Log::removeSink(m_sink);
		Log::g_globalLevel = m_savedLevel;
		for (const char* prefix : {"AnatomyPlugin", "AnatomyPlugin.KeyValueStore", "AnatomyPlugin.Key"})
			Log::setCategoryLevel(prefix, -1);
	}

	std::vector<Log::Record> records;

private:
	int m_savedLevel = 0;
	int m_sink = 0;
};

TEST_F(LogTest, GlobalLevelIsTheLowestLevelAccepted)
{
	Log::g_globalLevel = Log::Warning;
	EXPECT_FALSE(Log::isAccepted(Log::Notice, "Any"));
	EXPECT_TRUE(Log::isAccepted(Log::Warning, "Any"));
	EXPECT_TRUE(Log::isAccepted(Log::Fatal, "Any"));
	Log::g_globalLevel = Log::Trace;
	EXPECT_TRUE(Log::isAccepted(Log::Trace, "Any"));
}

TEST_F(LogTest, LongestMatchingCategoryPrefixDecides)
{
	Log::g_globalLevel = Log::Trace;
	Log::setCategoryLevel("AnatomyPlugin.KeyValueStore", Log::Debug);
	Log::setCategoryLevel("AnatomyPlugin", Log::Error);
	Log::setCategoryLevel("AnatomyPlugin.Key", Log::Fatal);

	EXPECT_TRUE(Log::isAccepted(Log::Debug, "AnatomyPlugin.KeyValueStore"));
	EXPECT_FALSE(Log::isAccepted(Log::Trace, "AnatomyPlugin.KeyValueStore"));
	EXPECT_FALSE(Log::isAccepted(Log::Error, "AnatomyPlugin.Keys"));
	EXPECT_FALSE(Log::isAccepted(Log::Warning, "AnatomyPlugin.Style"));
	EXPECT_TRUE(Log::isAccepted(Log::Error, "AnatomyPlugin.Style"));
	EXPECT_TRUE(Log::isAccepted(Log::Trace, "Other"));

	Log::setCategoryLevel("AnatomyPlugin.KeyValueStore", -1);
	EXPECT_FALSE(Log::isAccepted(Log::Debug, "AnatomyPlugin.KeyValueStore"));
	EXPECT_FALSE(Log::isAccepted(Log::Error, "AnatomyPlugin.KeyValueStore"));
}

TEST_F(LogTest, SinksReceiveEveryFieldOfTheRecord)
{
	Log::log(Log::Warning, "AnatomyPlugin.KeyValueStore", "bad value", "Store.cpp", 42);
	Log::log(Log::Error, "Core", "no file", nullptr, -1);

	ASSERT_EQ(records.size(), 2u);
	EXPECT_EQ(records[0].level, Log::Warning);
	EXPECT_EQ(records[0].category, "AnatomyPlugin.KeyValueStore");
	EXPECT_EQ(records[0].message, "bad value");
	EXPECT_EQ(records[0].file, "Store.cpp");
	EXPECT_EQ(records[0].line, 42);
	EXPECT_EQ(records[1].file, "");
	EXPECT_EQ(records[1].line, -1);
}

TEST_F(LogTest, SinksRunInOrderAndMayUnregisterWhileLogging)
{
	std::vector<std::string> order;
	int second = 0;
	const int first = Log::addSink([&](const Log::Record&) {
		order.push_back("first");
		Log::removeSink(second);
	});
	second = Log::addSink([&](const Log::Record&) { order.push_back("second"); });

	Log::log(Log::Info, "Core", "one", "", 0);    // the removal takes effect from the next message
	Log::log(Log::Info, "Core", "two", "", 0);
	Log::removeSink(first);
	Log::log(Log::Info, "Core", "three", "", 0);

	EXPECT_EQ(order, (std::vector<std::string>{"first", "second", "first"}));
	EXPECT_EQ(records.size(), 3u);
}

// --- String ------------------------------------------------------------------------------------

using Words = std::vector<std::string>;

TEST(String, SplitWithoutFlagsKeepsEveryPart)
{
	EXPECT_EQ(String::split("a..b", '.'), (Words{"a", "", "b"}));
	EXPECT_EQ(String::split("", '.'), (Words{""}));
	EXPECT_EQ(String::split(".a.", '.'), (Words{"", "a", ""}));
	EXPECT_EQ(String::split("Orbitane.Spine.Vertebra", '.'), (Words{"Orbitane", "Spine", "Vertebra"}));
	EXPECT_EQ(String::split(" a , b ", ','), (Words{" a ", " b "}));
}

TEST(String, SplitFlagsTrimAndDropEmptyParts)
{
	EXPECT_EQ(String::split("a..b.", '.', String::SkipEmpty), (Words{"a", "b"}));
	EXPECT_EQ(String::split(" a , ,b\t", ',', String::Trim), (Words{"a", "", "b"}));
	EXPECT_EQ(String::split(" a , ,b\t", ',', String::Trim | String::SkipEmpty), (Words{"a", "b"}));
	EXPECT_EQ(String::split("", ',', String::SkipEmpty), Words{});
	EXPECT_EQ(String::split(" , ", ',', String::Trim | String::SkipEmpty), Words{});
}

TEST(String, SplitCamelCase)
{
	EXPECT_EQ(String::splitCamelCase("LeftRib12"), (Words{"Left", "Rib12"}));
	EXPECT_EQ(String::splitCamelCase("HTTPServer"), (Words{"HTTP", "Server"}));
	EXPECT_EQ(String::splitCamelCase("leftPedicle"), (Words{"left", "Pedicle"}));
	EXPECT_EQ(String::splitCamelCase("T12Vertebra"), (Words{"T12", "Vertebra"}));
	EXPECT_EQ(String::splitCamelCase("L1L2"), (Words{"L1", "L2"}));
	EXPECT_EQ(String::splitCamelCase("12Ribs"), (Words{"12", "Ribs"}));
	EXPECT_EQ(String::splitCamelCase("12ribs"), (Words{"12", "ribs"}));
	EXPECT_EQ(String::splitCamelCase("a1b"), (Words{"a1b"}));
	EXPECT_EQ(String::splitCamelCase("ABC"), (Words{"ABC"}));
	EXPECT_EQ(String::splitCamelCase("PointsAndPlanes"), (Words{"Points", "And", "Planes"}));
	EXPECT_EQ(String::splitCamelCase("X"), (Words{"X"}));
	EXPECT_EQ(String::splitCamelCase(""), Words{});
}

TEST(String, CaseConversionTouchesOnlyAsciiLetters)
{
	std::string text = "Left Rib_12 \xC3\x84";
	String::toLower(text);
	EXPECT_EQ(text, "left rib_12 \xC3\x84");

	const std::string source = "left Rib-3 \xC3\xA4";
	EXPECT_EQ(String::toUpperCopy(source), "LEFT RIB-3 \xC3\xA4");
	EXPECT_EQ(source, "left Rib-3 \xC3\xA4");
}

TEST(String, Utf8IsCheckedSequenceBySequenceAndRepairedBytewise)
{
	EXPECT_TRUE(String::isUtf8(""));
	EXPECT_TRUE(String::isUtf8("a\xC3\xA9\xE2\x82\xAC\xF4\x8F\xBF\xBF"));    // a, é, €, U+10FFFF
	for (const char* bad : {"\xFF", "\xC3", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82"})
		EXPECT_FALSE(String::isUtf8(bad)) << bad;
	EXPECT_EQ(String::withValidUtf8("a\xC3\xA9"), "a\xC3\xA9");
	EXPECT_EQ(String::withValidUtf8("k\xFF\xE2\x82!"), "k\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD!");
}

TEST(String, ContainsIsCaseSensitiveAndAcceptsTheEmptyPart)
{
	EXPECT_TRUE(String::contains("Orbitane.Spine", "Spine"));
	EXPECT_FALSE(String::contains("Orbitane.Spine", "spine"));
	EXPECT_TRUE(String::contains("abc", ""));
	EXPECT_FALSE(String::contains("", "a"));
	EXPECT_FALSE(String::contains("ab", "abc"));
}

}

TEST(FreshPages, MappingAheadKeepsWhatABufferHoldsAndLeavesItWritable)
{
	// A hint about pages must never touch their contents, whether the buffer starts on a page
	// boundary or not, and sizes below a page or of nothing are fine.
	std::vector<unsigned char> buffer(5 * 4096 + 123);
	for (std::size_t i = 0; i < buffer.size(); ++i)
		buffer[i] = static_cast<unsigned char>(i * 7 + 1);
	for (const std::size_t offset : {std::size_t{0}, std::size_t{1}, std::size_t{4095}})
		for (const std::size_t bytes : {std::size_t{0}, std::size_t{10}, buffer.size() - offset})
			Orbitane::mapPagesForWriting(buffer.data() + offset, bytes);
	for (std::size_t i = 0; i < buffer.size(); ++i)
		ASSERT_EQ(buffer[i], static_cast<unsigned char>(i * 7 + 1)) << i;
}
