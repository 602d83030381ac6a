#pragma once

#include "core/String.h"

#include <stdexcept>
#include <string>

namespace Orbitane::Bindings {

/// The name itself, checked where it enters a store or a structure. Python hands bytes over as
/// they are, but only UTF-8 names can be listed, printed and written back as str, so anything else
/// is refused (ValueError) before it is kept. `kind` says what the name is, e.g. "key".
inline const std::string& utf8Name(const std::string& name, const char* kind)
{
	if (!String::isUtf8(name))
		throw std::invalid_argument(std::string("The ") + kind + " '" + String::withValidUtf8(name) +
		                            "' is not valid UTF-8");
	return name;
}

}
