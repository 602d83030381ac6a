// Class records in an embedded interpreter: conversions through a remembered class, and records
// that are dropped when their class dies, so that none is used after its class is gone.

#include "support/BindingInternals.h"

#include <pybind11/embed.h>

#include <gtest/gtest.h>

#include <memory>

namespace py = pybind11;
using binding_detail::ClassRecord;
using binding_detail::NewObject;
using binding_detail::Self;

namespace {

struct Probe
{
	int value = 7;
};

struct OtherProbe
{};

struct SharedProbe
{};

class ClassRecordTest : public ::testing::Test
{
protected:
	static void SetUpTestSuite() { interpreter = std::make_unique<py::scoped_interpreter>(); }
	static void TearDownTestSuite() { interpreter.reset(); }
	// Classes of one test must be gone before the next registers its own under the same C++ type.
	void TearDown() override { collect(); }

	/// A module object of its own per test, so that dropping it can free its classes.
	static py::module_ scratchModule() { return py::module_::import("types").attr("ModuleType")("scratch"); }

	static void collect() { py::module_::import("gc").attr("collect")(); }

	static inline std::unique_ptr<py::scoped_interpreter> interpreter;
};

bool loadsAsSelf(py::handle object)
{
	py::detail::make_caster<Self<Probe>> caster;
	return caster.load(object, true);
}

TEST_F(ClassRecordTest, ConvertsThroughTheRememberedClass)
{
	py::module_ scratch = scratchModule();
	py::class_<Probe> probe(scratch, "Probe");
	py::class_<OtherProbe> other(scratch, "OtherProbe");
	other.def(py::init<>());
	ClassRecord<Probe>::remember(probe);
	ASSERT_NE(ClassRecord<Probe>::get(), nullptr);
	EXPECT_EQ(reinterpret_cast<PyObject*>(ClassRecord<Probe>::get()->type), probe.ptr());

	auto made = std::make_unique<Probe>();
	made->value = 11;
	const Probe* address = made.get();
	py::object object = py::cast(NewObject<Probe>{std::move(made)});
	EXPECT_TRUE(py::type::handle_of(object).is(probe));

	py::detail::make_caster<Self<Probe>> caster;
	ASSERT_TRUE(caster.load(object, false));
	Self<Probe> self = caster;
	EXPECT_EQ(&*self, address) << "the new object owns the very instance it was given";
	EXPECT_EQ(self->value, 11);

	EXPECT_FALSE(loadsAsSelf(py::none()));
	EXPECT_FALSE(loadsAsSelf(py::int_(3)));
	EXPECT_FALSE(loadsAsSelf(other()));
}

TEST_F(ClassRecordTest, TheRecordIsDroppedWithItsClassAndTakenAgainOnRegistration)
{
	{
		py::module_ scratch = scratchModule();
		py::class_<Probe> probe(scratch, "Probe");
		ClassRecord<Probe>::remember(probe);
		ASSERT_NE(ClassRecord<Probe>::get(), nullptr);
	}
	collect();
	EXPECT_EQ(ClassRecord<Probe>::get(), nullptr);
	// Without a class there is nothing to convert to: the conversion reports a Python error.
	py::handle orphan = py::detail::make_caster<NewObject<Probe>>::cast(NewObject<Probe>{std::make_unique<Probe>()},
	                                                                    py::return_value_policy::move, {});
	EXPECT_FALSE(orphan);
	EXPECT_TRUE(PyErr_ExceptionMatches(PyExc_TypeError));
	PyErr_Clear();

	py::module_ scratch = scratchModule();
	py::class_<Probe> probe(scratch, "Probe");
	ClassRecord<Probe>::remember(probe);
	ASSERT_NE(ClassRecord<Probe>::get(), nullptr);
	EXPECT_EQ(reinterpret_cast<PyObject*>(ClassRecord<Probe>::get()->type), probe.ptr());
	EXPECT_TRUE(py::type::handle_of(py::cast(NewObject<Probe>{std::make_unique<Probe>()})).is(probe));
}

TEST_F(ClassRecordTest, AClassWithASharedHolderIsRefused)
{
	py::module_ scratch = scratchModule();
	py::class_<SharedProbe, std::shared_ptr<SharedProbe>> shared(scratch, "SharedProbe");
	ClassRecord<SharedProbe>::remember(shared);
	EXPECT_THROW(py::cast(NewObject<SharedProbe>{std::make_unique<SharedProbe>()}), py::cast_error);
}

}
