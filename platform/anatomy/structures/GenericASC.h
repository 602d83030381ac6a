#pragma once

#include "anatomy/structures/AnatomicalStructureCollection.h"

#include <memory>
#include <string>
#include <vector>

namespace Orbitane {

/// A collection of structures of any kind, kept in the order they were added.
///
/// The constructor's flag is the collection's 2-D flag: a 2-D collection holds only 2-D
/// structures and a 3-D one only 3-D structures. addAnatomicalStructure refuses null, other
/// collections, structures whose 2-D flag differs from the collection's, and structures whose
/// identifier is already taken in the collection (lookup by identifier must be unambiguous).
class GenericASC : public AnatomicalStructureCollection
{
public:
	explicit GenericASC(bool is2D = false);
	~GenericASC() override;

	int numAnatomicalStructures() const override { return static_cast<int>(m_structures.size()); }
	bool addAnatomicalStructure(std::unique_ptr<AnatomicalStructure> structure) override;
	std::unique_ptr<AnatomicalStructure> takeAnatomicalStructure(const AnatomicalStructure* structure) override;

	std::unique_ptr<GenericASC> clone() const;
	std::string describe() const override;

protected:
	/// Clones every structure, besides what the bases copy (stores, frame, name, components).
	GenericASC(const GenericASC& other);
	std::unique_ptr<AnatomicalStructure> cloneImpl() const override;
	AnatomicalStructure* structureAt(int index) const override;

private:
	std::vector<std::unique_ptr<AnatomicalStructure>> m_structures;
};

}
