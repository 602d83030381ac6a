#include "anatomy/structures/GenericAnatomicalStructure.h"

namespace Orbitane {

GenericAnatomicalStructure::GenericAnatomicalStructure() : m_identifier(defaultIdentifier) {}

GenericAnatomicalStructure::GenericAnatomicalStructure(std::string identifier) : m_identifier(std::move(identifier)) {}

std::unique_ptr<AnatomicalStructure> GenericAnatomicalStructure::cloneImpl() const
{
	return std::unique_ptr<AnatomicalStructure>(new GenericAnatomicalStructure(*this));
}

}
