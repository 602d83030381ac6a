#pragma once

#include "core/LifeToken.h"

#include <pybind11/pybind11.h>

#include <utility>

namespace Orbitane::Python {

/// What a Python object uses to reach native data that lives elsewhere and may end while the
/// object lives on (the store of a structure, a style sheet inside its display options, a component
/// inside its list), in either Python module. This is where the rule "a view whose target is gone
/// raises, and never touches freed memory" lives: every access goes through get(), which checks the
/// target's life first and, once it has ended, raises the error of its kind, Gone: a small type with
/// `[[noreturn]] void raise() const` that carries what its message needs.
///
/// A bound function may take a View as an argument, shown as T in its signature, when Gone also has
/// `static View<T, Gone> viewOf(py::handle object, T& native)`, which finds the life to watch for
/// the Python object (the conversion is in InstanceInternals.h).
template <typename T, typename Gone>
class View
{
public:
	View(T& target, Orbitane::LifeToken::Watch life, Gone gone = {})
	    : m_target(&target), m_life(std::move(life)), m_gone(std::move(gone))
	{}

	bool alive() const { return m_life.alive(); }

	T& get() const
	{
		if (!alive())
			m_gone.raise();
		return *m_target;
	}
	T* operator->() const { return &get(); }

	const Gone& gone() const { return m_gone; }

private:
	T* m_target;
	Orbitane::LifeToken::Watch m_life;
	Gone m_gone;
};

/// Gone for views whose Python callers learn of the end through ReferenceError.
struct ReferenceGone
{
	const char* message;

	[[noreturn]] void raise() const
	{
		pybind11::set_error(PyExc_ReferenceError, message);
		throw pybind11::error_already_set();
	}
};

}
