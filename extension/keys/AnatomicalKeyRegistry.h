#pragma once

#include <string>
#include <vector>

namespace Orbitane::Bindings {

/// The identifiers registered by the key constants while the library was loaded, in registration
/// order. It only grows; an identifier compiled into several parts appears once per part.
std::vector<std::string>& keyRegistry();

/// Appends a copy of the identifier; returns true so that a namespace-scope constant can be
/// initialised with the call.
bool registerKey(const std::string& identifier);

}
