#include "anatomy/structures/AnatomicalStructureWrapper.h"

namespace Orbitane {

AnatomicalStructureWrapper::AnatomicalStructureWrapper(AnatomicalStructure* structure) : m_structure(structure)
{
	if (structure)
		m_life = structure->lifeWatch();
}

AnatomicalStructureWrapper::AnatomicalStructureWrapper(std::unique_ptr<AnatomicalStructure> structure)
    : m_owned(std::move(structure)), m_structure(m_owned.get())
{
	if (m_structure)
		m_life = m_structure->lifeWatch();
}

AnatomicalStructureWrapper::AnatomicalStructureWrapper(const AnatomicalStructureWrapper& other)
    : SignalReceiver(), Utils::NotCopyable(), m_structure(other.m_structure), m_life(other.m_life)
{}

AnatomicalStructureWrapper::~AnatomicalStructureWrapper() = default;

AnatomicalStructure* AnatomicalStructureWrapper::checked() const
{
	if (!isValid())
		throw AnatomicalStructureInvalidException(
		    "The anatomical structure is no longer valid: it was destroyed together with its owner");
	return m_structure;
}

}
