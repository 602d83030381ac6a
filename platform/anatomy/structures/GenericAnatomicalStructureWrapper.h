#pragma once

#include "anatomy/structures/AnatomicalStructureWrapper.h"
#include "anatomy/structures/GenericAnatomicalStructure.h"

#include <memory>
#include <string>

namespace Orbitane {

/// An owning handle to a new generic structure that it creates itself.
class GenericAnatomicalStructureWrapper : public AnatomicalStructureWrapper
{
public:
	/// A structure with GenericAnatomicalStructure::defaultIdentifier.
	GenericAnatomicalStructureWrapper();
	explicit GenericAnatomicalStructureWrapper(const std::string& identifier);
	/// Owns a structure made elsewhere (decoded, for instance); null gives a handle never valid.
	explicit GenericAnatomicalStructureWrapper(std::unique_ptr<GenericAnatomicalStructure> structure);

	/// Both throw AnatomicalStructureInvalidException when the handle is not valid.
	const GenericAnatomicalStructure* operator->() const;
	GenericAnatomicalStructure* operator->();
};

}
