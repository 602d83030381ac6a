#include "anatomy/io/OrbFile.h"
#include "anatomy/structures/GenericASC.h"
#include "anatomy/structures/GenericAnatomicalStructure.h"
#include "anatomy/style/ASCDisplayOptions.h"
#include "anatomy/style/Selector.h"
#include "anatomy/style/SelectorElem.h"
#include "anatomy/style/StylePropertyTable.h"
#include "anatomy/style/StyleResolver.h"
#include "anatomy/style/StyleSheet.h"
#include "data/DataComponentFactory.h"
#include "data/DataComponentList.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace Orbitane;
using namespace Orbitane::AnatomyPlugin;

namespace {

std::string canonical(const std::string& text)
{
	auto elem = SelectorElem::parse(text);
	return elem ? elem->str() : "<rejected>";
}

std::string canonicalSelector(const std::string& text)
{
	auto s = Selector::parse(text);
	return s ? s->str() : "<rejected>";
}

SelectorElem elem(const std::string& text)
{
	auto e = SelectorElem::parse(text);
	if (!e)
		throw std::invalid_argument("test selector does not parse: " + text);
	return *e;
}

Selector selector(const std::string& text)
{
	auto s = Selector::parse(text);
	if (!s)
		throw std::invalid_argument("test selector does not parse: " + text);
	return *s;
}

/// Runs onEnd when target announces its end through its class-wide signal; disconnects on scope exit.
template <typename T>
class EndWatch
{
public:
	EndWatch(const T& target, std::function<void()> onEnd)
	    : m_id(T::anyDestroyed().connect([&target, onEnd](const T& gone) {
		      if (&gone == &target)
			      onEnd();
	      }))
	{}
	~EndWatch() { T::anyDestroyed().disconnect(m_id); }

private:
	int m_id;
};

auto setTo(const std::string& name, double value)
{
	return [=](Properties& p) { p.setParam(name, value); };
}

// --- Grammar -----------------------------------------------------------------------------------

TEST(SelectorGrammar, AcceptedTextsGiveTheirCanonicalForm)
{
	const std::vector<std::pair<std::string, std::string>> cases = {
	    {"*", "*"},
	    {"meshes", "meshes"},
	    {"pointclouds", "pointclouds"},
	    {"#liver", "#liver"},
	    {"*#liver", "#liver"},
	    {"@tip", "@tip"},
	    {"keypoints#liver@tip", "keypoints#liver@tip"},
	    {"keypoints@tip#liver", "keypoints#liver@tip"},
	    {"planes[side=left]", "planes[side=left]"},
	    {"[tags~=landmark]", "[tags~=landmark]"},
	    {"[tags~=a][side=left]", "[side=left][tags~=a]"},
	    {".b.a.b", ".a.b"},
	    {"graphs.x@k#s[n=v]", "graphs#s@k[n=v].x"},
	    {"#\"Orbitane.Spine.Vertebra.L1\"", "#\"Orbitane.Spine.Vertebra.L1\""},
	    {"#\"plain\"", "#plain"},
	    {"@\"\"", "@\"\""},
	    {"[\"a b\"=\"say \\\"hi\\\"\"]", "[\"a b\"=\"say \\\"hi\\\"\"]"},
	    {"#\"back\\\\slash\"", "#\"back\\\\slash\""},
	    {"  meshes#liver\t", "meshes#liver"},
	    {"#L1-2_x", "#L1-2_x"},
	};
	for (const auto& [text, expected] : cases)
		EXPECT_EQ(canonical(text), expected) << "text: " << text;
}

TEST(SelectorGrammar, RejectedTextsGiveNoElement)
{
	const std::vector<std::string> rejected = {
	    "",
	    "   ",
	    "liver",            // a bare word must be a content type
	    "Meshes",           // types are lower case
	    "meshes #liver",    // no blanks inside an element
	    "meshes,planes",    // a list is a Selector, not an element
	    "#",
	    "@",
	    ".",
	    "#a#b",    // one structure only
	    "@a@b",
	    "[a=b][c=d]",
	    "[a~=b][c~=d]",
	    "[a]",
	    "[a=]",
	    "[=b]",
	    "[a=b",
	    "[a==b]",
	    "#\"open",
	    "#\"bad\\escape\"",
	    "#a.b.",
	    "**",
	    ".x@k#s[n=v]images",    // the type comes first
	    "*meshes",
	    "meshes*",
	    "#li ver",
	    "#caf\xc3\xa9",    // non-ASCII needs quotes
	};
	for (const std::string& text : rejected)
		EXPECT_FALSE(SelectorElem::parse(text).has_value()) << "text: " << text;
}

TEST(SelectorGrammar, CanonicalTextParsesBackToAnEqualElement)
{
	const std::vector<SelectorElem> elems = {
	    SelectorElem(),
	    SelectorElem(ContentType::Images, std::nullopt, std::nullopt, std::nullopt, std::nullopt, {}),
	    SelectorElem(std::nullopt, "a.b c", "\"quoted\"", std::pair{"x\\y", ""}, std::pair{"", "w"}, {"c 1", "c2", ""}),
	    SelectorElem(ContentType::Graphs, "caf\xc3\xa9", "", std::nullopt, std::nullopt, {"-"}),
	    SelectorElem(ContentType::PointClouds, std::nullopt, "0", std::pair{"n", "v"}, std::nullopt, {}),
	};
	for (const SelectorElem& e : elems)
	{
		auto back = SelectorElem::parse(e.str());
		ASSERT_TRUE(back.has_value()) << e.str();
		EXPECT_EQ(*back, e) << e.str();
		EXPECT_EQ(back->str(), e.str());
	}
}

TEST(SelectorGrammar, SelectorListsTakeCommasWithBlanksAndDropRepeats)
{
	EXPECT_EQ(canonicalSelector("meshes"), "meshes");
	EXPECT_EQ(canonicalSelector(" meshes#liver ,keypoints@tip,  .hl "), "meshes#liver, keypoints@tip, .hl");
	EXPECT_EQ(canonicalSelector("#\"a, b\", #c"), "#\"a, b\", #c");
	EXPECT_EQ(canonicalSelector("planes, meshes, planes"), "planes, meshes");
	EXPECT_EQ(canonicalSelector(".b.a, .a.b"), ".a.b");

	for (const char* text :
	     {"", ",", "meshes,", ",meshes", "meshes,,planes", "meshes planes", "meshes;planes", "meshes | planes"})
		EXPECT_FALSE(Selector::parse(text).has_value()) << "text: " << text;

	const Selector s = selector("keypoints#\"x, y\"@\"\", [a=b], *");
	auto back = Selector::parse(s.str());
	ASSERT_TRUE(back.has_value());
	EXPECT_EQ(*back, s);
	EXPECT_EQ(back->elements().size(), 3u);
}

TEST(SelectorGrammar, OrKeepsOrderAndDropsRepeats)
{
	const SelectorElem a = elem("meshes"), b = elem("#liver"), c = elem(".x");
	EXPECT_EQ((a || b).str(), "meshes, #liver");
	EXPECT_EQ((b || a).str(), "#liver, meshes");
	EXPECT_EQ((a || a).str(), "meshes");
	EXPECT_EQ(((a || b) || c).str(), "meshes, #liver, .x");
	EXPECT_EQ(((a || b) || a).str(), "meshes, #liver");
	EXPECT_EQ(Selector(a).str(), "meshes");
	EXPECT_EQ(Selector(std::vector{c, a, c}).str(), ".x, meshes");
	EXPECT_THROW(Selector(std::vector<SelectorElem>{}), std::invalid_argument);
	EXPECT_FALSE(selector("meshes, planes") == selector("planes, meshes"));
}

// --- Matching ----------------------------------------------------------------------------------

TEST(SelectorMatching, EveryCriterionMustHoldAndAnyElementOfASelector)
{
	Properties attributes;
	attributes.setParam("side", std::string("left"));
	attributes.setParam("tags", std::string(" landmark  manual"));
	attributes.setParam("class", std::string("hl selected"));
	attributes.setParam("count", 3);
	attributes.setParam("weight", 1.5);
	attributes.setParam("done", true);
	const StyleTarget tip{ContentType::Keypoints, "liver", "tip", &attributes};
	const StyleTarget bare{ContentType::Meshes, "liver", "surface", nullptr};

	auto matches = [](const std::string& text, const StyleTarget& t) { return selector(text).matches(t); };
	for (const char* yes :
	     {"*", "keypoints", "#liver", "@tip", "keypoints#liver@tip", "[side=left]", "[count=3]", "[weight=\"1.5\"]",
	      "[done=true]", "[tags~=manual]", "[tags~=landmark]", ".hl", ".selected.hl", "meshes, @tip"})
		EXPECT_TRUE(matches(yes, tip)) << yes;
	for (const char* no :
	     {"meshes", "#kidney", "@tip2", "keypoints#kidney@tip", "[side=right]", "[missing=x]", "[count=\"3.0\"]",
	      "[done=1]", "[tags~=land]", "[side~=lef]", ".hl.other", ".sel", "meshes, #kidney"})
		EXPECT_FALSE(matches(no, tip)) << no;

	EXPECT_TRUE(matches("meshes#liver@surface", bare));
	EXPECT_FALSE(matches("meshes[a=b]", bare));
	EXPECT_FALSE(matches("meshes.hl", bare));
}

// --- StyleSheet --------------------------------------------------------------------------------

TEST(StyleSheet, ParametersSignalOnceOnChangeAndNeverForAnEqualValue)
{
	StyleSheet sheet("base");
	EXPECT_TRUE(sheet.enabled.get());
	EXPECT_EQ(sheet.name.get(), "base");
	int enabledSignals = 0, nameSignals = 0;
	sheet.enabled.changed.connect([&] { ++enabledSignals; });
	sheet.name.changed.connect([&] { ++nameSignals; });

	sheet.enabled = true;
	sheet.name = "base";
	EXPECT_EQ(enabledSignals, 0);
	EXPECT_EQ(nameSignals, 0);

	sheet.enabled = false;
	sheet.enabled = false;
	sheet.name = "other";
	sheet.name = "other";
	EXPECT_EQ(enabledSignals, 1);
	EXPECT_EQ(nameSignals, 1);
	EXPECT_FALSE(sheet.enabled.get());
	EXPECT_EQ(sheet.name.get(), "other");

	Properties p;
	p.setParam("enabled", true);
	p.setParam("name", std::string("other"));
	sheet.configure(&p);
	EXPECT_EQ(enabledSignals, 2);
	EXPECT_EQ(nameSignals, 1);
}

TEST(StyleSheet, AppendOrModifyFindsRulesByEqualSelector)
{
	StyleSheet sheet("s");
	EXPECT_TRUE(sheet.appendOrModify(selector("meshes, #liver"), setTo("alpha", 0.5)));
	EXPECT_TRUE(sheet.appendOrModify(std::nullopt, setTo("alpha", 1.0)));
	EXPECT_FALSE(sheet.appendOrModify(selector(" meshes ,#liver"), setTo("line_width", 2.0)));
	EXPECT_FALSE(sheet.appendOrModify(std::nullopt, {}));
	EXPECT_TRUE(sheet.appendOrModify(selector("#liver, meshes"), {}));
	ASSERT_EQ(sheet.size(), 3u);

	const auto& first = sheet.rules().front();
	EXPECT_EQ(first.selector->str(), "meshes, #liver");
	EXPECT_EQ(first.declaration.names(), (std::vector<std::string>{"alpha", "line_width"}));
	EXPECT_FALSE(std::next(sheet.rules().begin())->selector.has_value());
}

TEST(StyleSheet, CallbackMayAppendRulesWhileHoldingADeclaration)
{
	StyleSheet sheet("s");
	sheet.appendOrModify(selector("meshes"), [&](Properties& outer) {
		for (int i = 0; i < 50; ++i)
			sheet.appendOrModify(Selector(SelectorElem(std::nullopt, "s" + std::to_string(i), std::nullopt,
			                                           std::nullopt, std::nullopt, {})),
			                     setTo("alpha", i));
		outer.setParam("color", std::string("red"));    // must still be the first rule's declaration
	});
	ASSERT_EQ(sheet.size(), 51u);
	std::string color;
	EXPECT_TRUE(sheet.rules().front().declaration.param("color", color));
	EXPECT_EQ(color, "red");
}

TEST(StyleSheet, ThrowingCallbackKeepsTheAppendedRule)
{
	StyleSheet sheet("s");
	EXPECT_THROW(sheet.appendOrModify(selector("planes"),
	                                  [](Properties& p) {
		                                  p.setParam("alpha", 0.25);
		                                  throw std::runtime_error("boom");
	                                  }),
	             std::runtime_error);
	ASSERT_EQ(sheet.size(), 1u);
	double alpha = 0;
	EXPECT_TRUE(sheet.rules().front().declaration.param("alpha", alpha));
	EXPECT_EQ(alpha, 0.25);
}

TEST(StyleSheet, CopiesAreIndependentAndSignalTheirOwnDestruction)
{
	auto original = std::make_unique<StyleSheet>("a");
	original->enabled = false;
	original->appendOrModify(selector("meshes"), setTo("alpha", 0.5));
	StyleSheet copy(*original);
	int destroyed = 0;
	EndWatch<StyleSheet> watch(*original, [&] { ++destroyed; });
	original->name = "renamed";
	original->appendOrModify(std::nullopt, {});

	EXPECT_EQ(copy.name.get(), "a");
	EXPECT_FALSE(copy.enabled.get());
	EXPECT_EQ(copy.size(), 1u);
	EXPECT_EQ(copy.parameters().size(), 2u);
	EXPECT_EQ(copy.parameter("enabled"), &copy.enabled);

	// views of a sheet watch its own life, which no copy or assignment shares
	StyleSheet assigned("b");
	const LifeToken::Watch assignedLife = assigned.lifeWatch();
	assigned = *original;
	const LifeToken::Watch originalLife = original->lifeWatch();
	const LifeToken::Watch copyLife = copy.lifeWatch();
	original.reset();
	EXPECT_EQ(destroyed, 1);
	EXPECT_FALSE(originalLife.alive());
	EXPECT_TRUE(copyLife.alive());
	EXPECT_TRUE(assignedLife.alive());
}

TEST(StyleSheet, RulesRoundTripThroughTheirConfiguration)
{
	StyleSheet sheet("s");
	sheet.appendOrModify(selector("keypoints@tip, .hl"), setTo("point_size", 4.0));
	sheet.appendOrModify(std::nullopt, [](Properties& p) { p.setParam("visibility", false); });
	Properties p;
	sheet.configuration(&p);
	sheet.writeRules(p);

	StyleSheet restored("x");
	restored.configure(&p);
	EXPECT_EQ(restored.name.get(), "s");
	ASSERT_EQ(restored.size(), 2u);
	EXPECT_EQ(restored.rules().front().selector->str(), "keypoints@tip, .hl");
	EXPECT_EQ(restored.rules().front().declaration, sheet.rules().front().declaration);
	EXPECT_FALSE(restored.rules().back().selector.has_value());

	// a stored selector that no longer parses drops its rule instead of styling everything
	Properties broken = p;
	Properties& rules = broken.subProperties("rules");
	rules.subProperties("0").setParam("selector", std::string("not a selector"));
	restored.configure(&broken);
	ASSERT_EQ(restored.size(), 1u);
	EXPECT_FALSE(restored.rules().front().selector.has_value());
}

// --- ASCDisplayOptions -------------------------------------------------------------------------

std::vector<std::string> sheetNames(const ASCDisplayOptions& o)
{
	std::vector<std::string> names;
	for (const StyleSheet& s : o.styleSheets())
		names.push_back(s.name.get());
	return names;
}

TEST(ASCDisplayOptions, SheetsGoBeforeTheNamedSheetOrAtTheEnd)
{
	ASCDisplayOptions o;
	int changes = 0;
	o.changed.connect([&] { ++changes; });
	o.addStyleSheet(StyleSheet("a"), std::nullopt);
	o.addStyleSheet(StyleSheet("c"), "missing");
	o.addStyleSheet(StyleSheet("b"), "c");
	StyleSheet& first = o.getOrAppendStyleSheet("first", "a");
	StyleSheet& again = o.getOrAppendStyleSheet("first", std::nullopt);
	o.addStyleSheet(StyleSheet("a"), std::nullopt);
	EXPECT_EQ(&first, &again);
	EXPECT_EQ(sheetNames(o), (std::vector<std::string>{"first", "a", "b", "c", "a"}));
	EXPECT_EQ(changes, 5);

	EXPECT_EQ(o.removeStyleSheetsByName("a"), 2u);
	EXPECT_EQ(o.removeStyleSheetsByName("a"), 0u);
	EXPECT_EQ(sheetNames(o), (std::vector<std::string>{"first", "b", "c"}));
	EXPECT_EQ(&first, &o.styleSheets().front());
	EXPECT_EQ(changes, 6);

	first.enabled = false;
	o.styleSheet("c")->name = "d";
	EXPECT_EQ(changes, 8);
}

TEST(ASCDisplayOptions, RemovedSheetsSignalAfterTheListIsConsistent)
{
	ASCDisplayOptions o;
	o.addStyleSheet(StyleSheet("x"), std::nullopt);
	o.addStyleSheet(StyleSheet("y"), std::nullopt);
	std::vector<std::vector<std::string>> seen;
	EndWatch<StyleSheet> watch(*o.styleSheet("x"), [&] { seen.push_back(sheetNames(o)); });
	o.removeStyleSheetsByName("x");
	EXPECT_EQ(seen, (std::vector<std::vector<std::string>>{{"y"}}));
}

TEST(ASCDisplayOptions, CloneAssignAndEqualsGoThroughTheConfiguration)
{
	ASCDisplayOptions o;
	StyleSheet& s = o.getOrAppendStyleSheet("base", std::nullopt);
	s.appendOrModify(selector("meshes#liver"), setTo("alpha", 0.5));
	s.enabled = false;
	o.getOrAppendStyleSheet("top", std::nullopt).appendOrModify(std::nullopt, setTo("line_width", 3.0));
	EXPECT_EQ(o.id(), "ASCDisplayOptions");

	std::unique_ptr<DataComponentBase> clone = o.clone();
	ASSERT_TRUE(clone);
	auto& copy = dynamic_cast<ASCDisplayOptions&>(*clone);
	EXPECT_TRUE(copy.equals(o));
	EXPECT_EQ(sheetNames(copy), (std::vector<std::string>{"base", "top"}));
	EXPECT_FALSE(copy.styleSheets().front().enabled.get());

	ASCDisplayOptions other;
	other.getOrAppendStyleSheet("stale", std::nullopt);
	int destroyedSheets = 0;
	EndWatch<StyleSheet> watch(*other.styleSheet("stale"), [&] { ++destroyedSheets; });
	EXPECT_FALSE(other.equals(o));
	EXPECT_TRUE(other.assign(o));
	EXPECT_EQ(destroyedSheets, 1);
	EXPECT_TRUE(other.equals(o));
	EXPECT_EQ(sheetNames(other), (std::vector<std::string>{"base", "top"}));
	EXPECT_EQ(other.styleSheets().front().rules().front().selector->str(), "meshes#liver");

	copy.styleSheet("top")->appendOrModify(std::nullopt, setTo("line_width", 4.0));
	EXPECT_FALSE(copy.equals(o));

	Properties empty;
	empty.subProperties("styleSheets");
	other.configure(&empty);
	EXPECT_TRUE(other.styleSheets().empty());
	Properties unrelated;
	o.configure(&unrelated);
	EXPECT_EQ(o.styleSheets().size(), 2u);
}

TEST(ASCDisplayOptions, ConfigurationCarriesEverySheetAndRule)
{
	ASCDisplayOptions o;
	o.getOrAppendStyleSheet("a", std::nullopt).appendOrModify(selector("#x"), setTo("alpha", 0.1));
	Properties p;
	o.configuration(&p);
	const Properties* sheets = std::as_const(p).subProperties("styleSheets");
	ASSERT_NE(sheets, nullptr);
	ASSERT_EQ(sheets->size(), 1u);
	const Properties* sheet = sheets->subProperties("0");
	ASSERT_NE(sheet, nullptr);
	std::string name, text;
	bool enabled = false;
	EXPECT_TRUE(sheet->param("name", name));
	EXPECT_TRUE(sheet->param("enabled", enabled));
	EXPECT_EQ(name, "a");
	EXPECT_TRUE(enabled);
	const Properties* rule = sheet->subProperties("rules")->subProperties("0");
	ASSERT_NE(rule, nullptr);
	EXPECT_TRUE(rule->param("selector", text));
	EXPECT_EQ(text, "#x");
	EXPECT_NE(rule->subProperties("declaration"), nullptr);
}

TEST(ASCDisplayOptions, SurvivesASaveAndRestoreOfItsCollection)
{
	ASSERT_TRUE(DataComponentFactory::isRegistered("ASCDisplayOptions"));
	GenericASC asc;
	asc.setName("patient");
	ASCDisplayOptions options;
	StyleSheet& s = options.getOrAppendStyleSheet("base", std::nullopt);
	s.appendOrModify(selector("meshes#\"Orbitane.Liver\", .hl"), [](Properties& p) {
		p.setParam("color", Eigen::Vector4d(1, 0, 0, 1));
		p.setParam("visibility", true);
	});
	s.appendOrModify(std::nullopt, setTo("alpha", 0.5));
	options.getOrAppendStyleSheet("off", "base").enabled = false;
	asc.components().add(options.clone());

	auto restored = OrbFile::decode(OrbFile::encode(asc), "memory");
	ASSERT_TRUE(restored);
	const auto* back = restored->components().get<ASCDisplayOptions>();
	ASSERT_NE(back, nullptr);
	EXPECT_TRUE(back->equals(options));
	EXPECT_EQ(sheetNames(*back), (std::vector<std::string>{"off", "base"}));
	EXPECT_FALSE(back->styleSheets().front().enabled.get());
	EXPECT_EQ(back->styleSheets().back().rules().front().selector->str(), "meshes#\"Orbitane.Liver\", .hl");
}

TEST(ASCDisplayOptions, DestructionSignalsTheComponentBeforeItsSheets)
{
	auto o = std::make_unique<ASCDisplayOptions>();
	o->getOrAppendStyleSheet("a", std::nullopt);
	std::vector<std::string> order;
	EndWatch<ASCDisplayOptions> watchOptions(*o, [&] { order.push_back("options"); });
	EndWatch<StyleSheet> watchSheet(*o->styleSheet("a"), [&] { order.push_back("sheet"); });
	o.reset();
	EXPECT_EQ(order, (std::vector<std::string>{"options", "sheet"}));
}

// --- Cascade -----------------------------------------------------------------------------------

TEST(StyleCascade, LaterEnabledSheetsAndLaterRulesWin)
{
	ASCDisplayOptions o;
	StyleSheet& base = o.getOrAppendStyleSheet("base", std::nullopt);
	base.appendOrModify(std::nullopt, [](Properties& p) {
		p.setParam("alpha", 1.0);
		p.setParam("color", std::string("white"));
	});
	base.appendOrModify(selector("keypoints"), setTo("alpha", 0.5));
	base.appendOrModify(selector("#liver@tip"), setTo("point_size", 3.0));
	StyleSheet& top = o.getOrAppendStyleSheet("top", std::nullopt);
	top.appendOrModify(selector("#liver"), [](Properties& p) { p.setParam("color", std::string("red")); });
	StyleSheet& off = o.getOrAppendStyleSheet("off", std::nullopt);
	off.appendOrModify(std::nullopt, setTo("alpha", 0.0));
	off.enabled = false;
	// inserted first, so everything else overrides it
	o.getOrAppendStyleSheet("defaults", "base").appendOrModify(std::nullopt, setTo("line_width", 1.0));

	const StyleTarget tip{ContentType::Keypoints, "liver", "tip", nullptr};
	Properties style = resolveStyle(o, tip);
	double alpha = 0, size = 0, width = 0;
	std::string color;
	EXPECT_TRUE(style.param("alpha", alpha));
	EXPECT_TRUE(style.param("point_size", size));
	EXPECT_TRUE(style.param("color", color));
	EXPECT_TRUE(style.param("line_width", width));
	EXPECT_EQ(alpha, 0.5);
	EXPECT_EQ(size, 3.0);
	EXPECT_EQ(color, "red");
	EXPECT_EQ(width, 1.0);
	EXPECT_EQ(style.size(), 4u);

	const StyleTarget mesh{ContentType::Meshes, "kidney", "surface", nullptr};
	style = resolveStyle(o, mesh);
	EXPECT_TRUE(style.param("alpha", alpha));
	EXPECT_TRUE(style.param("color", color));
	EXPECT_EQ(alpha, 1.0);
	EXPECT_EQ(color, "white");
	EXPECT_FALSE(style.has("point_size"));

	off.enabled = true;
	EXPECT_TRUE(resolveStyle(o, mesh).param("alpha", alpha));
	EXPECT_EQ(alpha, 0.0);
}

TEST(StyleCascade, ElementAttributesOverrideOnlyWhenAllowed)
{
	Properties attributes;
	attributes.setParam("color", std::string("green"));
	attributes.setParam("point_size", 9.0);
	attributes.setParam("comment", std::string("not a style property"));
	attributes.setParam("allow_object_attributes_override", true);
	const StyleTarget target{ContentType::Keypoints, "liver", "tip", &attributes};

	ASCDisplayOptions o;
	StyleSheet& s = o.getOrAppendStyleSheet("s", std::nullopt);
	s.appendOrModify(std::nullopt, [](Properties& p) { p.setParam("color", std::string("red")); });
	std::string color;
	Properties style = resolveStyle(o, target);
	EXPECT_TRUE(style.param("color", color));
	EXPECT_EQ(color, "red");
	EXPECT_FALSE(style.has("point_size"));    // the switch is not taken from the attributes

	s.appendOrModify(selector("@tip"), [](Properties& p) { p.setParam("allow_object_attributes_override", true); });
	style = resolveStyle(o, target);
	double size = 0;
	EXPECT_TRUE(style.param("color", color));
	EXPECT_TRUE(style.param("point_size", size));
	EXPECT_EQ(color, "green");
	EXPECT_EQ(size, 9.0);
	EXPECT_FALSE(style.has("comment"));

	o.getOrAppendStyleSheet("later", std::nullopt).appendOrModify(std::nullopt, [](Properties& p) {
		p.setParam("allow_object_attributes_override", false);
	});
	EXPECT_TRUE(resolveStyle(o, target).param("color", color));
	EXPECT_EQ(color, "red");
}

TEST(StyleCascade, ResolvesElementsOfACollectionWithItsDisplayOptions)
{
	GenericASC asc;
	auto liver = std::make_unique<GenericAnatomicalStructure>("liver");
	liver->keypoints.set("tip", Eigen::Vector3d(1, 2, 3));
	liver->keypoints.find("tip")->attributes().setParam("class", std::string("landmark"));
	liver->keypoints.find("tip")->attributes().setParam("color", std::string("green"));
	ASSERT_TRUE(asc.addAnatomicalStructure(std::move(liver)));
	const AnatomicalStructure& structure = *asc.anatomicalStructureByIdentifier("liver");

	EXPECT_TRUE(resolveStyle(asc, structure, ContentType::Keypoints, "tip").empty());

	ASCDisplayOptions options;
	StyleSheet& s = options.getOrAppendStyleSheet("s", std::nullopt);
	s.appendOrModify(selector("keypoints.landmark"), [](Properties& p) {
		p.setParam("color", std::string("red"));
		p.setParam("allow_object_attributes_override", true);
	});
	s.appendOrModify(selector("keypoints#liver"), setTo("alpha", 0.5));
	asc.components().add(options.clone());

	std::string color;
	double alpha = 0;
	Properties tip = resolveStyle(asc, structure, ContentType::Keypoints, "tip");
	EXPECT_TRUE(tip.param("color", color));
	EXPECT_TRUE(tip.param("alpha", alpha));
	EXPECT_EQ(color, "green");
	EXPECT_EQ(alpha, 0.5);

	Properties missing = resolveStyle(asc, structure, ContentType::Keypoints, "other");
	EXPECT_FALSE(missing.has("color"));
	EXPECT_TRUE(missing.param("alpha", alpha));
	EXPECT_TRUE(resolveStyle(asc, structure, ContentType::Planes, "tip").empty());
}

TEST(StylePropertyTable, NamesAreUniqueLowerCaseAndEndWithTheOverrideSwitch)
{
	auto table = knownStyleProperties();
	ASSERT_EQ(table.size(), 49u);
	std::set<std::string_view> names;
	for (const StylePropertyInfo& info : table)
	{
		EXPECT_TRUE(names.insert(info.name).second) << info.name;
		std::string lower;
		for (char c : info.sourceName)
		{
			if (c >= 'A' && c <= 'Z' && !lower.empty())
				lower += '_';
			lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
		}
		EXPECT_EQ(lower, info.name);
		EXPECT_FALSE(info.description.empty());
	}
	EXPECT_EQ(table.back().name, allowObjectAttributesOverride);
}

}
