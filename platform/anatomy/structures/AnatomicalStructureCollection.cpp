#include "anatomy/structures/AnatomicalStructureCollection.h"

#include <fmt/format.h>

namespace Orbitane {

std::string AnatomicalStructureCollection::describe() const
{
	return fmt::format("AnatomicalStructureCollection '{}' with {} anatomical structures", name(),
	                   numAnatomicalStructures());
}

void AnatomicalStructureCollection::setMatrixToWorld(const Eigen::Matrix4d& matrix, bool moveContents)
{
	AnatomicalStructure::setMatrixToWorld(matrix, moveContents);
	matrixChanged.emitSignal(this);
}

AnatomicalStructure* AnatomicalStructureCollection::anatomicalStructureByIdentifier(const std::string& identifier)
{
	for (int i = 0; i < numAnatomicalStructures(); ++i)
		if (AnatomicalStructure* s = structureAt(i); s && s->identifier() == identifier)
			return s;
	return nullptr;
}

const AnatomicalStructure*
AnatomicalStructureCollection::anatomicalStructureByIdentifier(const std::string& identifier) const
{
	return const_cast<AnatomicalStructureCollection*>(this)->anatomicalStructureByIdentifier(identifier);
}

std::unique_ptr<AnatomicalStructureCollection> AnatomicalStructureCollection::clone() const
{
	std::unique_ptr<AnatomicalStructure> copy = cloneImpl();
	auto* typed = dynamic_cast<AnatomicalStructureCollection*>(copy.get());
	if (!typed)
		return nullptr;
	copy.release();
	return std::unique_ptr<AnatomicalStructureCollection>(typed);
}

}
