#include "anatomy/structures/GenericASC.h"

#include <fmt/format.h>

#include <algorithm>

namespace Orbitane {

GenericASC::GenericASC(bool twoDimensional) { is2D = twoDimensional; }

GenericASC::GenericASC(const GenericASC& other) : AnatomicalStructureCollection(other)
{
	m_structures.reserve(other.m_structures.size());
	for (const auto& structure : other.m_structures)
		m_structures.push_back(structure->clone());
}

GenericASC::~GenericASC() = default;

bool GenericASC::addAnatomicalStructure(std::unique_ptr<AnatomicalStructure> structure)
{
	if (!structure || dynamic_cast<const AnatomicalStructureCollection*>(structure.get()))
		return false;
	if (structure->is2D != is2D || anatomicalStructureByIdentifier(structure->identifier()))
		return false;
	m_structures.push_back(std::move(structure));
	return true;
}

std::unique_ptr<AnatomicalStructure> GenericASC::takeAnatomicalStructure(const AnatomicalStructure* structure)
{
	auto it = std::find_if(m_structures.begin(), m_structures.end(),
	                       [structure](const auto& s) { return s.get() == structure; });
	if (!structure || it == m_structures.end())
		return nullptr;
	std::unique_ptr<AnatomicalStructure> taken = std::move(*it);
	m_structures.erase(it);
	return taken;
}

std::unique_ptr<GenericASC> GenericASC::clone() const { return std::unique_ptr<GenericASC>(new GenericASC(*this)); }

std::string GenericASC::describe() const
{
	return fmt::format("GenericASC '{}' with {} anatomical structures", name(), numAnatomicalStructures());
}

std::unique_ptr<AnatomicalStructure> GenericASC::cloneImpl() const { return clone(); }

AnatomicalStructure* GenericASC::structureAt(int index) const
{
	if (index < 0 || index >= numAnatomicalStructures())
		return nullptr;
	return m_structures[static_cast<std::size_t>(index)].get();
}

}
