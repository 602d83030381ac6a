#include "style_bindings/StyleSheetObject.h"

#include "python/native/InstanceInternals.h"

#include <unordered_map>
#include <utility>

namespace Orbitane::Bindings {

using AnatomyPlugin::StyleSheet;

namespace {

constexpr Python::ReferenceGone goneSheet{
    "This StyleSheet no longer exists: it was removed from its ASCDisplayOptions, or they were deleted."};

/// The Python object of each held sheet that has one. Only the interpreter's thread, holding its
/// lock, reads or changes it.
std::unordered_map<const StyleSheet*, StyleSheetObject*>& viewsByHeldSheet()
{
	static std::unordered_map<const StyleSheet*, StyleSheetObject*> views;
	return views;
}

}

StyleSheetObject::StyleSheetObject(const std::string& name)
    : m_own(std::make_unique<StyleSheet>(name)), m_view(*m_own, m_own->lifeWatch(), goneSheet)
{}

StyleSheetObject::StyleSheetObject(StyleSheet& held, py::object options)
    : m_view(held, held.lifeWatch(), goneSheet), m_held(&held), m_options(std::move(options))
{}

StyleSheetObject::~StyleSheetObject()
{
	auto& views = viewsByHeldSheet();
	// a later sheet at the same address may have its own object by now
	if (auto it = views.find(m_held); it != views.end() && it->second == this)
		views.erase(it);
}

StyleSheetObject* StyleSheetObject::viewOf(StyleSheet& held, py::object options)
{
	auto& views = viewsByHeldSheet();
	auto it = views.find(&held);
	// an object whose sheet is gone stays with whoever holds it; a new sheet at that address gets its own
	if (it != views.end() && it->second->m_view.alive())
		return it->second;
	std::unique_ptr<StyleSheetObject> view(new StyleSheetObject(held, std::move(options)));
	views[&held] = view.get();
	// the caller hands it to the binding library, which takes ownership of it
	return view.release();
}

void StyleSheetObject::collectCyclesThroughOptions(PyHeapTypeObject* heapType)
{
	PyTypeObject* type = &heapType->ht_type;
	type->tp_flags |= Py_TPFLAGS_HAVE_GC;
	type->tp_traverse = [](PyObject* self, visitproc visit, void* arg) -> int {
		Py_VISIT(Py_TYPE(self));
		if (Python::ownsAlone<std::unique_ptr<StyleSheetObject>>(self))
			Py_VISIT(py::handle(self).cast<const StyleSheetObject&>().m_options.ptr());
		return 0;
	};
	type->tp_clear = [](PyObject* self) -> int {
		if (Python::ownsAlone<std::unique_ptr<StyleSheetObject>>(self))
			py::handle(self).cast<StyleSheetObject&>().m_options = py::object();
		return 0;
	};
}

}
