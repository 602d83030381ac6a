#pragma once

#include "anatomy/style/StyleSheet.h"
#include "python/native/View.h"

#include <pybind11/pybind11.h>

#include <memory>
#include <string>

namespace Orbitane::Bindings {

namespace py = pybind11;

/// What a Python StyleSheet holds: a sheet of its own (made from Python), or a view of a sheet that
/// display options hold, whose Python object it keeps alive. sheet() is the only way to the sheet,
/// and it raises ReferenceError once a held sheet is gone. A held sheet has one Python object at a
/// time, so that asking the display options for it twice gives the same object.
/// Hidden like the binding library's own types, since it holds one of them.
class __attribute__((visibility("hidden"))) StyleSheetObject
{
public:
	explicit StyleSheetObject(const std::string& name);
	~StyleSheetObject();
	StyleSheetObject(const StyleSheetObject&) = delete;
	StyleSheetObject& operator=(const StyleSheetObject&) = delete;

	AnatomyPlugin::StyleSheet& sheet() const { return m_view.get(); }

	/// The object for a sheet held by the display options whose Python object is options: the one
	/// that already exists, or a new one for the binding library to take over.
	static StyleSheetObject* viewOf(AnatomyPlugin::StyleSheet& held, py::object options);

	/// For py::custom_type_setup of the class: the garbage collector sees the display options that a
	/// view keeps alive, so that options holding their own sheet's object can be collected.
	static void collectCyclesThroughOptions(PyHeapTypeObject* heapType);

private:
	StyleSheetObject(AnatomyPlugin::StyleSheet& held, py::object options);

	std::unique_ptr<AnatomyPlugin::StyleSheet> m_own;
	Python::View<AnatomyPlugin::StyleSheet, Python::ReferenceGone> m_view;
	/// For a view: the held sheet, to find this object by, and the display options' Python object.
	const AnatomyPlugin::StyleSheet* m_held = nullptr;
	py::object m_options;
};

}
