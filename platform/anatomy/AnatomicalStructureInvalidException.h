#pragma once

#include <stdexcept>
#include <string>

namespace Orbitane {

/// Thrown when a structure, or a store of it, is reached after the structure is gone.
class AnatomicalStructureInvalidException : public std::runtime_error
{
public:
	explicit AnatomicalStructureInvalidException(const std::string& message) : std::runtime_error(message) {}
};

}
