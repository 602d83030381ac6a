#pragma once

#include "anatomy/style/StyleSheet.h"
#include "core/Properties.h"
#include "core/Signal.h"

#include <pybind11/pybind11.h>

namespace Orbitane::Bindings::StylingDetail {

namespace py = pybind11;

/// The orbitane.Properties object through which a style callback edits a rule's declaration in
/// place. It is valid only while the callback runs: when the view that made it ends, the Python
/// object is disowned, so a callback that kept it gets a Python error on later use instead of
/// reaching a declaration that may have moved or gone. A declaration that already has a Python
/// object (a nested call on the same rule) reuses it, and only the outermost view lets it go.
/// The callback may also end the sheet that holds the rule (by removing the sheet from its
/// display options, say): the object is disowned at that moment, before the callback goes on.
/// Hidden like the binding library's own types, since it holds one of them.
class __attribute__((visibility("hidden"))) DeclarationView
{
public:
	/// Throws the binding layer's cast error when orbitane.Properties is not registered.
	DeclarationView(Properties& declaration, const AnatomyPlugin::StyleSheet& owner);
	~DeclarationView();
	DeclarationView(const DeclarationView&) = delete;
	DeclarationView& operator=(const DeclarationView&) = delete;

	const py::object& object() const { return m_object; }

private:
	void onSheetEnd(const AnatomyPlugin::StyleSheet& sheet);

	Properties* m_declaration;
	const AnatomyPlugin::StyleSheet* m_owner;
	py::object m_object;
	bool m_made = false;
	/// Holds the connection to the sheets' end signal; declared last, so it goes first.
	SignalReceiver m_sheetWatch;
};

}
