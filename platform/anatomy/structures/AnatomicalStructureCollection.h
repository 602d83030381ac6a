#pragma once

#include "anatomy/structures/AnatomicalStructure.h"
#include "data/Data.h"

#include <Eigen/Core>

#include <memory>
#include <string>

namespace Orbitane {

/// A set of anatomical structures that is itself a structure (its own stores, frame and 2-D flag)
/// and a data object (name, modality, components). Its identifier is its data name.
///
/// The one frame is shared by both bases: matrixToWorld() of Data and of AnatomicalStructure give
/// the same matrix, and setting it either way emits Data::matrixChanged. The structures held by
/// the collection keep their own frames.
///
/// Structures are owned by the collection: destroying the collection or removing a structure
/// destroys it (and invalidates every handle on it); takeAnatomicalStructure hands one over alive.
class AnatomicalStructureCollection : public AnatomicalStructure, public Data
{
public:
	~AnatomicalStructureCollection() override = default;

	Kind kind() const override { return Kind::AnatomicalStructureCollection; }

	std::string identifier() const override { return name(); }
	/// Class, name and structure count.
	std::string describe() const override;

	const Eigen::Matrix4d& matrixToWorld() const override { return AnatomicalStructure::matrixToWorld(); }
	/// Data's form: moves the collection's own contents with the frame.
	void setMatrixToWorld(const Eigen::Matrix4d& matrix) override { setMatrixToWorld(matrix, true); }
	void setMatrixToWorld(const Eigen::Matrix4d& matrix, bool moveContents) override;

	virtual int numAnatomicalStructures() const = 0;
	/// Null for an index outside [0, numAnatomicalStructures()).
	AnatomicalStructure* anatomicalStructure(int index) { return structureAt(index); }
	const AnatomicalStructure* anatomicalStructure(int index) const { return structureAt(index); }
	/// The first structure with this identifier, or null.
	AnatomicalStructure* anatomicalStructureByIdentifier(const std::string& identifier);
	const AnatomicalStructure* anatomicalStructureByIdentifier(const std::string& identifier) const;

	/// Takes ownership; false when the collection refuses the structure (it is then destroyed).
	virtual bool addAnatomicalStructure(std::unique_ptr<AnatomicalStructure> structure) = 0;
	/// Removes the structure and hands it over; null when it is not part of this collection.
	virtual std::unique_ptr<AnatomicalStructure> takeAnatomicalStructure(const AnatomicalStructure* structure) = 0;

	/// A deep, independent copy of the same dynamic type.
	std::unique_ptr<AnatomicalStructureCollection> clone() const;

protected:
	AnatomicalStructureCollection() = default;
	AnatomicalStructureCollection(const AnatomicalStructureCollection& other) = default;

	virtual AnatomicalStructure* structureAt(int index) const = 0;
};

}
