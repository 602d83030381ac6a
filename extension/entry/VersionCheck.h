#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Orbitane::Bindings {

/// Whether an interpreter whose version string is runtimeVersion can load a module compiled for
/// the "major.minor" release compiledFor. The minor number must match in full: "3.14.2" fits
/// "3.14", "3.140" does not.
bool isCompatibleInterpreter(std::string_view compiledFor, std::string_view runtimeVersion);

/// The ImportError text for an incompatible interpreter, or nothing when it is compatible.
std::optional<std::string> interpreterMismatchMessage(std::string_view compiledFor, std::string_view runtimeVersion);

}
