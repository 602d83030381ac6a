#include "style_bindings/StylingDetail.h"

#include "support/BindingInternals.h"
#include "support/View.h"

#include <new>

namespace Orbitane::Bindings {

using AnatomyPlugin::ASCDisplayOptions;

// Display options are the one kind of view whose Python objects others make (the parent package's
// list access hands out the same objects) and whose members others bind (id, configuration and
// configure of DataComponentBase, which reach it through virtual calls). Such an object cannot be
// asked per call whether its target lives: once the options end, it is pointed at a stand-in that
// never dies, whose virtual members raise, and our own members check for that stand-in.

namespace {

constexpr binding_detail::ReferenceGone goneOptions{
    "This ASCDisplayOptions no longer exists: it was removed from its DataComponentList, or the data "
    "object that held the list was deleted."};

/// What a display-options object points at after its target is gone.
class GoneDisplayOptions final : public ASCDisplayOptions
{
public:
	void configure(const Properties*) override { goneOptions.raise(); }
	void configuration(Properties*) const override { goneOptions.raise(); }
	std::string id() const override { goneOptions.raise(); }
	std::unique_ptr<DataComponentBase> clone() const override { goneOptions.raise(); }
	bool assign(const DataComponentBase&) override { goneOptions.raise(); }
	bool equals(const DataComponentBase&) const override { goneOptions.raise(); }
};

/// Built on first use and never destroyed: Python objects may still point at it while the
/// interpreter shuts down.
GoneDisplayOptions& standIn()
{
	alignas(GoneDisplayOptions) static unsigned char storage[sizeof(GoneDisplayOptions)];
	static GoneDisplayOptions* gone = ::new (static_cast<void*>(storage)) GoneDisplayOptions();
	return *gone;
}

void onOptionsEnd(const ASCDisplayOptions& options)
{
	// Options may end during shutdown, or on a thread without the interpreter lock.
	if (!Py_IsInitialized() || Py_IsFinalizing())
		return;
	try
	{
		py::gil_scoped_acquire gil;
		binding_detail::pointViewsElsewhere(&options, typeid(ASCDisplayOptions), &standIn());
		// an object typed as the base refers to the same options through its base part
		const DataComponentBase* base = &options;
		binding_detail::pointViewsElsewhere(base, typeid(DataComponentBase),
		                                    static_cast<DataComponentBase*>(&standIn()));
	}
	catch (...)
	{
		// a destructor is running: losing the switch is better than terminating
	}
}

}

void pointOptionsViewsAtStandInWhenOptionsEnd()
{
	static const bool connected = [] {
		ASCDisplayOptions::anyDestroyed().connect(&onOptionsEnd);
		return true;
	}();
	(void)connected;
}

ASCDisplayOptions& existing(ASCDisplayOptions& options)
{
	if (&options == &standIn())
		goneOptions.raise();
	return options;
}

const ASCDisplayOptions& existing(const ASCDisplayOptions& options)
{
	return existing(const_cast<ASCDisplayOptions&>(options));
}

}
