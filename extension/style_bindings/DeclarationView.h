#pragma once

#include "anatomy/style/StyleSheet.h"
#include "core/Properties.h"

#include <pybind11/pybind11.h>

#include <memory>

namespace Orbitane::Bindings {

namespace py = pybind11;

class DeclarationLend;

/// The orbitane.Properties object through which a style callback edits a rule's declaration in
/// place. It is valid only while the callback runs: when the view that lent it ends, the Python
/// object is disowned (the binding library's own state for an object whose value was taken away),
/// so a callback that kept it gets a Python error on later use instead of reaching a declaration
/// that may have moved or gone. A declaration already lent (a nested call on the same rule) is
/// lent as the same object, and only the outermost view takes it back. The callback may also end
/// the sheet that holds the rule (by removing the sheet from its display options, say): the object
/// is disowned at that moment, before the callback goes on.
/// Hidden like the binding library's own types, since it holds one of them.
class __attribute__((visibility("hidden"))) DeclarationView
{
public:
	/// Throws the binding layer's cast error when orbitane.Properties is not registered, or not
	/// with a holder that can be disowned.
	DeclarationView(Properties& declaration, const AnatomyPlugin::StyleSheet& owner);
	~DeclarationView();
	DeclarationView(const DeclarationView&) = delete;
	DeclarationView& operator=(const DeclarationView&) = delete;

	const py::object& object() const;

private:
	std::shared_ptr<DeclarationLend> m_lend;
	bool m_outermost = false;
};

}
