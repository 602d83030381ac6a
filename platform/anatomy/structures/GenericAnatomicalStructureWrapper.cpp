#include "anatomy/structures/GenericAnatomicalStructureWrapper.h"

namespace Orbitane {

GenericAnatomicalStructureWrapper::GenericAnatomicalStructureWrapper()
    : AnatomicalStructureWrapper(std::make_unique<GenericAnatomicalStructure>())
{}

GenericAnatomicalStructureWrapper::GenericAnatomicalStructureWrapper(const std::string& identifier)
    : AnatomicalStructureWrapper(std::make_unique<GenericAnatomicalStructure>(identifier))
{}

GenericAnatomicalStructureWrapper::GenericAnatomicalStructureWrapper(
    std::unique_ptr<GenericAnatomicalStructure> structure)
    : AnatomicalStructureWrapper(std::move(structure))
{}

// the constructors above are the only way in, so the structure is always a generic one
const GenericAnatomicalStructure* GenericAnatomicalStructureWrapper::operator->() const
{
	return static_cast<const GenericAnatomicalStructure*>(AnatomicalStructureWrapper::operator->());
}

GenericAnatomicalStructure* GenericAnatomicalStructureWrapper::operator->()
{
	return static_cast<GenericAnatomicalStructure*>(AnatomicalStructureWrapper::operator->());
}

}
