#pragma once

#include "core/NotCopyable.h"

namespace Orbitane::Bindings {

/// One share of the module's Python interface. Binding objects live only while the module
/// initialises; they hold references into the module under construction, hence not copyable.
class BindingsInterface : Utils::NotCopyable
{
public:
	virtual ~BindingsInterface() = default;

	/// Registers this object's classes and functions on the module.
	virtual void bind() = 0;
};

}
