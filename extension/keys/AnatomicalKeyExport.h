#pragma once

#include <string>
#include <vector>

namespace Orbitane::Bindings {

/// Publishes the given dotted identifiers as a tree of modules below the parent package's
/// submodule `keys`, each with the attribute `key`. Modules already present are reused and keep
/// their `key`. Throws pybind11's error_already_set for a pending Python error and its type_error
/// when a generated name is held by something that is not a module. `exportKeyNamespace` passes
/// the key registry.
void exportKeys(const std::vector<std::string>& identifiers);

}
