#pragma once

#include <string>

namespace Orbitane::Bindings {

/// Attribute name of one identifier part in the `orbitane.keys` tree: the camel-case words of the
/// part, lower-cased and joined by "_" ("LeftPedicle" gives "left_pedicle", "LeftRib1" "left_rib1").
std::string toSnakeCase(const std::string& part);

}
