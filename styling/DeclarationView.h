#pragma once

#include "core/Properties.h"

#include <pybind11/pybind11.h>

namespace Orbitane::Bindings::StylingDetail {

namespace py = pybind11;

/// The orbitane.Properties object through which a style callback edits a rule's declaration in
/// place. It is valid only while the callback runs: when the view that made it ends, the Python
/// object is disowned, so a callback that kept it gets a Python error on later use instead of
/// reaching a declaration that may have moved or gone. A declaration that already has a Python
/// object (a nested call on the same rule) reuses it, and only the outermost view lets it go.
class DeclarationView
{
public:
	/// Throws the binding layer's cast error when orbitane.Properties is not registered.
	explicit DeclarationView(Properties& declaration);
	~DeclarationView();
	DeclarationView(const DeclarationView&) = delete;
	DeclarationView& operator=(const DeclarationView&) = delete;

	const py::object& object() const { return m_object; }

private:
	Properties* m_declaration;
	py::object m_object;
	bool m_made = false;
};

}
