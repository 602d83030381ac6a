// This file includes the key constants a second time, as a second part of a program would: the
// registry then holds every identifier twice, which the export must treat as already handled.
#include "keys/AnatomicalKeyConstants.h"
#include "keys/AnatomicalKeyExport.h"
#include "keys/AnatomicalKeyNames.h"
#include "keys/AnatomicalKeyRegistry.h"
#include "entry/Registration.h"

#include "core/String.h"

#include <gtest/gtest.h>
#include <pybind11/embed.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <set>
#include <type_traits>

namespace py = pybind11;
using namespace Orbitane;
using namespace Orbitane::Bindings;

namespace {

constexpr std::size_t identifierCount = 155;
constexpr std::size_t registeringParts = 2;

/// The identifiers of the registry without repeats, in the order of their first registration.
std::vector<std::string> distinctIdentifiers()
{
	std::vector<std::string> distinct;
	std::set<std::string> seen;
	for (const std::string& identifier : keyRegistry())
		if (seen.insert(identifier).second)
			distinct.push_back(identifier);
	return distinct;
}

/// Attribute path of an identifier below `orbitane.keys`, e.g. "spine.vertebra.left_pedicle".
std::string keyPath(const std::string& identifier)
{
	std::vector<std::string> parts = String::split(identifier, '.', 0);
	std::string path;
	for (std::size_t i = 1; i < parts.size(); ++i)
		path += (i > 1 ? "." : "") + toSnakeCase(parts[i]);
	return path;
}

}

// ---------------------------------------------------------------------------------------------
// Constants and registry

static_assert(std::is_same_v<decltype(AnatomicalKeys::Position), const Key<17>>,
              "N counts the characters of the identifier without the terminating zero");
static_assert(std::is_same_v<decltype(AnatomicalKeys::SpineVertebraRightSuperiorArticularProcess), const Key<53>>);

TEST(AnatomicalKeyConstants, ToStringGivesTheIdentifierThroughTheBase)
{
	const KeyBase& pedicle = AnatomicalKeys::SpineVertebraLeftPedicle;
	EXPECT_EQ(pedicle.toString(), "Orbitane.Spine.Vertebra.LeftPedicle");
	const KeyBase& lobe = AnatomicalKeys::LungsRightLungMiddleLobe;
	EXPECT_EQ(lobe.toString(), "Orbitane.Lungs.RightLung.MiddleLobe");

	constexpr Key embeddedZero{"Orbitane\0Hidden"};
	static_assert(std::is_same_v<decltype(embeddedZero), const Key<15>>);
	EXPECT_EQ(embeddedZero.toString(), "Orbitane");
}

TEST(AnatomicalKeyRegistry, EveryPartRegistersAllIdentifiersInDefinitionOrder)
{
	const std::vector<std::string>& registry = keyRegistry();
	ASSERT_EQ(registry.size(), registeringParts * identifierCount);

	std::map<std::string, std::size_t> occurrences;
	for (const std::string& identifier : registry)
		++occurrences[identifier];
	EXPECT_EQ(occurrences.size(), identifierCount);
	for (const auto& [identifier, count] : occurrences)
		EXPECT_EQ(count, registeringParts) << identifier;

	const std::vector<std::string> distinct = distinctIdentifiers();
	const std::vector<std::pair<std::size_t, std::string>> sectionStarts = {
	    {0, "Orbitane.Position"},         {8, "Orbitane.BoundingBox"},
	    {21, "Orbitane.Spine"},           {69, "Orbitane.CostalCartilage"},
	    {74, "Orbitane.Ribs.LeftRib1"},   {98, "Orbitane.Pelvis"},
	    {101, "Orbitane.Ilium"},          {104, "Orbitane.LeftLeg.Femur"},
	    {107, "Orbitane.RightLeg.Femur"}, {110, "Orbitane.Liver"},
	    {118, "Orbitane.Heart"},          {139, "Orbitane.Aorta"},
	    {147, "Orbitane.Lungs"},          {154, "Orbitane.Lungs.RightLung.MiddleLobe"}};
	for (const auto& [index, identifier] : sectionStarts)
		EXPECT_EQ(distinct.at(index), identifier) << index;

	// each part registered the whole list in the same order
	std::map<std::string, std::size_t> seen;
	std::vector<std::string> secondCopies;
	for (const std::string& identifier : registry)
		if (++seen[identifier] == 2)
			secondCopies.push_back(identifier);
	EXPECT_EQ(secondCopies, distinct);
}

TEST(AnatomicalKeyRegistry, IdentifiersFormATreeBelowTheRoot)
{
	const std::vector<std::string> distinct = distinctIdentifiers();
	std::set<std::size_t> lengths;
	for (std::size_t i = 0; i < distinct.size(); ++i)
	{
		const std::string& identifier = distinct[i];
		lengths.insert(identifier.size());
		EXPECT_TRUE(identifier.starts_with("Orbitane.")) << identifier;
		const std::vector<std::string> parts = String::split(identifier, '.', 0);
		EXPECT_LE(parts.size(), 5u) << identifier;
		// every shorter path is an identifier of its own, registered before this one
		for (std::size_t cut = identifier.find('.', 9); cut != std::string::npos; cut = identifier.find('.', cut + 1))
		{
			auto parent = std::find(distinct.begin(), distinct.begin() + i, identifier.substr(0, cut));
			EXPECT_NE(parent, distinct.begin() + i) << identifier;
		}
	}
	EXPECT_EQ(lengths.size(), 37u);
	EXPECT_EQ(*lengths.begin(), 13u);
	EXPECT_EQ(*lengths.rbegin(), 53u);
}

TEST(AnatomicalKeyRegistry, RegisterKeyAppendsACopyAndAcceptsRepeats)
{
	std::vector<std::string>& registry = keyRegistry();
	const std::size_t before = registry.size();
	std::string identifier = "Orbitane.Liver";
	EXPECT_TRUE(registerKey(identifier));
	EXPECT_TRUE(registerKey(identifier));
	identifier = "changed";
	ASSERT_EQ(registry.size(), before + 2);
	EXPECT_EQ(registry[before], "Orbitane.Liver");
	EXPECT_EQ(registry[before + 1], "Orbitane.Liver");
	registry.resize(before);    // leave the load-time contents to the other tests
}

// ---------------------------------------------------------------------------------------------
// Attribute names

TEST(AnatomicalKeyNames, CamelCaseWordsBecomeLowerCaseJoinedByUnderscores)
{
	const std::vector<std::pair<std::string, std::string>> cases = {
	    {"Spine", "spine"},
	    {"LeftPedicle", "left_pedicle"},
	    {"RegistrationDescriptor", "registration_descriptor"},
	    {"LeftSuperiorArticularProcess", "left_superior_articular_process"},
	    {"LeftRib1", "left_rib1"},
	    {"RightRib12", "right_rib12"},
	    {"RightForamen4", "right_foramen4"},
	    {"lower", "lower"},
	    {"", ""},
	};
	for (const auto& [part, expected] : cases)
		EXPECT_EQ(toSnakeCase(part), expected) << part;
}

TEST(AnatomicalKeyNames, EveryIdentifierGetsItsOwnPythonPath)
{
	std::map<std::string, std::string> owners;
	std::size_t numbered = 0;
	for (const std::string& identifier : distinctIdentifiers())
	{
		const std::string path = keyPath(identifier);
		for (const std::string& name : String::split(path, '.', 0))
		{
			ASSERT_FALSE(name.empty()) << identifier;
			EXPECT_TRUE(std::islower(static_cast<unsigned char>(name.front()))) << identifier;
			EXPECT_TRUE(std::all_of(name.begin(), name.end(), [](char c) {
				return std::islower(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) ||
				       c == '_';
			})) << identifier;
		}
		numbered += std::isdigit(static_cast<unsigned char>(path.back())) ? 1 : 0;
		const auto [it, inserted] = owners.emplace(path, identifier);
		EXPECT_TRUE(inserted) << identifier << " and " << it->second << " share " << path;
	}
	EXPECT_EQ(numbered, 32u);
}

// ---------------------------------------------------------------------------------------------
// Export into an embedded interpreter, on a stand-in parent package

class KeyNamespaceExport : public ::testing::Test
{
public:
	static void SetUpTestSuite() { interpreter = std::make_unique<py::scoped_interpreter>(); }
	static void TearDownTestSuite() { interpreter.reset(); }

protected:
	void SetUp() override
	{
		py::exec(R"(
import sys, types
for name in [n for n in sys.modules if n.split('.')[0] in ('orbitane', 'elsewhere')]:
    del sys.modules[name]
package = sys.modules['orbitane'] = types.ModuleType('orbitane')
package.__file__ = '/nowhere/orbitane/__init__.py'
)");
	}

	static py::dict modules() { return py::module_::import("sys").attr("modules"); }
	static py::object module(const std::string& name) { return modules()[py::str(name)]; }
	static bool hasModule(const std::string& name) { return modules().contains(name); }
	static py::object newModule(const std::string& name)
	{
		return py::module_::import("types").attr("ModuleType")(name);
	}
	static std::string keyOf(const std::string& name) { return module(name).attr("key").cast<std::string>(); }

	/// Names in a module's namespace besides the ones every module object starts with.
	static std::set<std::string> ownAttributes(const py::object& m)
	{
		static const std::set<std::string> standard = {"__name__", "__doc__", "__package__", "__loader__", "__spec__"};
		std::set<std::string> names;
		for (const auto& item : py::dict(m.attr("__dict__")))
			if (auto name = item.first.cast<std::string>(); !standard.contains(name))
				names.insert(name);
		return names;
	}

	static std::size_t keyModuleCount()
	{
		std::size_t count = 0;
		for (const auto& item : modules())
			count += item.first.cast<std::string>().starts_with("orbitane.keys.") ? 1 : 0;
		return count;
	}

private:
	static inline std::unique_ptr<py::scoped_interpreter> interpreter;
};

TEST_F(KeyNamespaceExport, CreatesOneModulePerLevelWithItsKeyOnly)
{
	Bindings::exportKeys({"Orbitane.Spine.Vertebra.LeftPedicle"});

	py::object keys = module("orbitane.keys");
	EXPECT_TRUE(keys.is(module("orbitane").attr("keys")));
	EXPECT_EQ(ownAttributes(keys), std::set<std::string>{"spine"});
	EXPECT_EQ(ownAttributes(module("orbitane")), (std::set<std::string>{"__file__", "keys"}));

	const std::vector<std::pair<std::string, std::string>> levels = {
	    {"orbitane.keys.spine", "Orbitane.Spine"},
	    {"orbitane.keys.spine.vertebra", "Orbitane.Spine.Vertebra"},
	    {"orbitane.keys.spine.vertebra.left_pedicle", "Orbitane.Spine.Vertebra.LeftPedicle"}};
	py::object parent = keys;
	for (const auto& [name, key] : levels)
	{
		ASSERT_TRUE(hasModule(name)) << name;
		py::object child = module(name);
		EXPECT_TRUE(child.is(parent.attr(name.substr(name.rfind('.') + 1).c_str()))) << name;
		EXPECT_EQ(child.attr("__name__").cast<std::string>(), name);
		EXPECT_EQ(keyOf(name), key);
		EXPECT_TRUE(child.attr("__doc__").is_none());
		parent = child;
	}
	EXPECT_EQ(ownAttributes(module("orbitane.keys.spine")), (std::set<std::string>{"key", "vertebra"}));
	EXPECT_EQ(ownAttributes(module("orbitane.keys.spine.vertebra.left_pedicle")), std::set<std::string>{"key"});
	EXPECT_EQ(keyModuleCount(), 3u);
}

TEST_F(KeyNamespaceExport, RebuildsKeysFromTheRootLiteralAndSkipsUndottedIdentifiers)
{
	Bindings::exportKeys({"Orbitane", "", "Other.Liver"});
	EXPECT_EQ(keyModuleCount(), 1u);
	EXPECT_EQ(keyOf("orbitane.keys.liver"), "Orbitane.Liver");
	EXPECT_EQ(ownAttributes(module("orbitane.keys")), std::set<std::string>{"liver"});
}

TEST_F(KeyNamespaceExport, RepeatedIdentifiersLeaveTheTreeUnchanged)
{
	Bindings::exportKeys({"Orbitane.Heart", "Orbitane.Heart.LeftAtrium"});
	py::object heart = module("orbitane.keys.heart");
	py::object atrium = module("orbitane.keys.heart.left_atrium");

	Bindings::exportKeys({"Orbitane.Heart.LeftAtrium", "Orbitane.Heart", "Orbitane.Heart.LeftAtrium"});
	EXPECT_TRUE(module("orbitane.keys.heart").is(heart));
	EXPECT_TRUE(module("orbitane.keys.heart.left_atrium").is(atrium));
	EXPECT_TRUE(atrium.is(heart.attr("left_atrium")));
	EXPECT_EQ(keyOf("orbitane.keys.heart.left_atrium"), "Orbitane.Heart.LeftAtrium");
	EXPECT_EQ(keyModuleCount(), 2u);
}

TEST_F(KeyNamespaceExport, ReusesAnExistingKeysModuleAndChildrenCarryingKey)
{
	py::object keys = newModule("orbitane.keys");
	keys.attr("custom") = 7;
	py::object spine = newModule("elsewhere");
	spine.attr("key") = "preset";
	keys.attr("spine") = spine;
	modules()["orbitane.keys"] = keys;
	module("orbitane").attr("keys") = 5;

	Bindings::exportKeys({"Orbitane.Spine", "Orbitane.Spine.Vertebra"});

	EXPECT_TRUE(module("orbitane.keys").is(keys));
	EXPECT_TRUE(keys.is(module("orbitane").attr("keys")));
	EXPECT_EQ(keys.attr("custom").cast<int>(), 7);
	EXPECT_TRUE(spine.is(keys.attr("spine")));
	EXPECT_EQ(spine.attr("key").cast<std::string>(), "preset");
	// a child is entered under its parent's name, whatever that is
	ASSERT_TRUE(hasModule("elsewhere.vertebra"));
	EXPECT_TRUE(module("elsewhere.vertebra").is(spine.attr("vertebra")));
	EXPECT_EQ(keyOf("elsewhere.vertebra"), "Orbitane.Spine.Vertebra");
	EXPECT_FALSE(hasModule("orbitane.keys.spine"));
}

TEST_F(KeyNamespaceExport, NonModuleUnderAGeneratedNameIsATypeError)
{
	py::object keys = newModule("orbitane.keys");
	keys.attr("liver") = 42;
	modules()["orbitane.keys"] = keys;

	try
	{
		Bindings::exportKeys({"Orbitane.Position", "Orbitane.Liver", "Orbitane.Spleen"});
		FAIL() << "no error";
	}
	catch (const py::type_error& e)
	{
		EXPECT_EQ(std::string(e.what()), "Object of type 'int' is not an instance of 'module_'");
	}
	EXPECT_EQ(PyErr_Occurred(), nullptr);
	// the export stops where it failed; what it made before stays
	EXPECT_EQ(keyOf("orbitane.keys.position"), "Orbitane.Position");
	EXPECT_EQ(keys.attr("liver").cast<int>(), 42);
	EXPECT_FALSE(hasModule("orbitane.keys.spleen"));
}

TEST_F(KeyNamespaceExport, ModuleWithoutKeyUnderAGeneratedNameRaisesAttributeError)
{
	py::object keys = newModule("orbitane.keys");
	keys.attr("spine") = newModule("bare");
	modules()["orbitane.keys"] = keys;

	try
	{
		Bindings::exportKeys({"Orbitane.Spine.Vertebra"});
		FAIL() << "no error";
	}
	catch (py::error_already_set& e)
	{
		EXPECT_TRUE(e.matches(PyExc_AttributeError)) << e.what();
	}
	EXPECT_FALSE(hasModule("orbitane.keys.spine.vertebra"));
}

TEST_F(KeyNamespaceExport, ParentPackageFailuresArePendingPythonErrors)
{
	modules()["orbitane"] = py::none();    // an import of "orbitane" now fails
	try
	{
		Bindings::exportKeys({"Orbitane.Liver"});
		FAIL() << "no error";
	}
	catch (py::error_already_set& e)
	{
		EXPECT_TRUE(e.matches(PyExc_ModuleNotFoundError)) << e.what();
	}

	modules()["orbitane"] = 5;    // imports, but has no module name
	try
	{
		Bindings::exportKeys({"Orbitane.Liver"});
		FAIL() << "no error";
	}
	catch (py::error_already_set& e)
	{
		EXPECT_TRUE(e.matches(PyExc_TypeError)) << e.what();
	}
	EXPECT_FALSE(hasModule("orbitane.keys"));
}

TEST_F(KeyNamespaceExport, RegistryExportGivesOneModulePerIdentifier)
{
	// the registry holds every identifier twice here (see the top of this file)
	Bindings::exportKeyNamespace();
	EXPECT_EQ(keyModuleCount(), identifierCount);
	for (const std::string& identifier : distinctIdentifiers())
		EXPECT_EQ(keyOf("orbitane.keys." + keyPath(identifier)), identifier);
	EXPECT_EQ(keyOf("orbitane.keys.ribs.right_rib12"), "Orbitane.Ribs.RightRib12");
	EXPECT_EQ(keyOf("orbitane.keys.left_leg.femur.head.center"), "Orbitane.LeftLeg.Femur.Head.Center");
}
