#include "style_bindings/StylingDetail.h"

#include <new>
#include <utility>
#include <vector>

namespace Orbitane::Bindings::StylingDetail {

using AnatomyPlugin::ASCDisplayOptions;
using AnatomyPlugin::StyleSheet;

namespace {

constexpr const char* goneSheetMessage =
    "This StyleSheet no longer exists: it was removed from its ASCDisplayOptions, or they were deleted.";
constexpr const char* goneOptionsMessage =
    "This ASCDisplayOptions no longer exists: it was removed from its DataComponentList, or the data "
    "object that held the list was deleted.";

[[noreturn]] void raiseGone(const char* message)
{
	PyErr_SetString(PyExc_ReferenceError, message);
	throw py::error_already_set();
}

/// Storage for an object that is built on first use and never destroyed: views may still point
/// at it while the interpreter shuts down.
template <typename T>
class Immortal
{
public:
	Immortal() { ::new (static_cast<void*>(m_storage)) T(); }
	T& get() { return *std::launder(reinterpret_cast<T*>(m_storage)); }

private:
	alignas(T) unsigned char m_storage[sizeof(T)];
};

/// What a display-options view points at after its target is gone. The members the parent
/// package binds on DataComponentBase reach it through these overrides and raise as well.
class GoneDisplayOptions final : public ASCDisplayOptions
{
public:
	void configure(const Properties*) override { raiseGone(goneOptionsMessage); }
	void configuration(Properties*) const override { raiseGone(goneOptionsMessage); }
	std::string id() const override { raiseGone(goneOptionsMessage); }
	std::unique_ptr<DataComponentBase> clone() const override { raiseGone(goneOptionsMessage); }
	bool assign(const DataComponentBase&) override { raiseGone(goneOptionsMessage); }
	bool equals(const DataComponentBase&) const override { raiseGone(goneOptionsMessage); }
};

StyleSheet& goneSheet()
{
	struct Gone : StyleSheet
	{
		Gone() : StyleSheet("") {}
	};
	static Immortal<Gone> gone;
	return gone.get();
}

ASCDisplayOptions& goneOptions()
{
	static Immortal<GoneDisplayOptions> gone;
	return gone.get();
}

/// Switches every non-owning Python view of type tinfo on target over to standIn.
void detachViews(const void* target, const py::detail::type_info* tinfo, void* standIn)
{
	if (!tinfo)
		return;
	std::vector<py::detail::instance*> views;
	py::detail::with_instance_map(target, [&](py::detail::instance_map& instances) {
		auto [first, last] = instances.equal_range(target);
		for (auto it = first; it != last; ++it)
			views.push_back(it->second);
	});
	for (py::detail::instance* view : views)
	{
		py::detail::value_and_holder vh = view->get_value_and_holder(tinfo, false);
		// owned objects die together with their target and need no stand-in
		if (!vh || vh.value_ptr() != target || view->owned || vh.holder_constructed())
			continue;
		if (vh.instance_registered())
			py::detail::deregister_instance(view, vh.value_ptr(), tinfo);
		vh.set_instance_registered(false);
		vh.value_ptr() = standIn;
	}
}

/// Runs f with the interpreter lock when there is an interpreter to speak of. Targets may end
/// during shutdown, or on a thread that does not hold the lock.
template <typename F>
void withInterpreter(F&& f) noexcept
{
	if (!Py_IsInitialized() || Py_IsFinalizing())
		return;
	try
	{
		py::gil_scoped_acquire gil;
		f();
	}
	catch (...)
	{
		// a destructor is running: losing the switch is better than terminating
	}
}

void onSheetEnd(const StyleSheet& sheet)
{
	withInterpreter([&] { detachViews(&sheet, py::detail::get_type_info(typeid(StyleSheet)), &goneSheet()); });
}

void onOptionsEnd(const ASCDisplayOptions& options)
{
	withInterpreter([&] {
		detachViews(&options, py::detail::get_type_info(typeid(ASCDisplayOptions)), &goneOptions());
		// a view typed as the base refers to the same object through its base part
		const DataComponentBase* base = &options;
		detachViews(base, py::detail::get_type_info(typeid(DataComponentBase)),
		            static_cast<DataComponentBase*>(&goneOptions()));
	});
}

}

void detachViewsWhenTargetsEnd()
{
	static const bool connected = [] {
		StyleSheet::anyDestroyed().connect(&onSheetEnd);
		ASCDisplayOptions::anyDestroyed().connect(&onOptionsEnd);
		return true;
	}();
	(void) connected;
}

StyleSheet& alive(StyleSheet& target)
{
	if (&target == &goneSheet())
		raiseGone(goneSheetMessage);
	return target;
}

const StyleSheet& alive(const StyleSheet& target)
{
	return alive(const_cast<StyleSheet&>(target));
}

ASCDisplayOptions& alive(ASCDisplayOptions& target)
{
	if (&target == &goneOptions())
		raiseGone(goneOptionsMessage);
	return target;
}

const ASCDisplayOptions& alive(const ASCDisplayOptions& target)
{
	return alive(const_cast<ASCDisplayOptions&>(target));
}

}
