#pragma once

#include "anatomy/structures/AnatomicalStructureCollection.h"
#include "core/Parameter.h"
#include "data/Algorithm.h"

#include <memory>
#include <string>

namespace Orbitane {

/// Builds a linear shape model (mean plus principal modes) from the collections stored as .orb
/// files in a directory, relative to a mean shape.
///
/// The mean shape names what is modelled: for each of its structures (in index order) its
/// keypoints (in key order) and then the vertices of its meshes (in key order). That sequence of
/// points, in world coordinates, is a shape. Every `*.orb` file of inputDirectory (sorted by name,
/// not recursive) is read; a file that cannot be read, holds no collection, or lacks a structure,
/// keypoint or mesh of interest (or whose mesh has another vertex count) is skipped with a warning
/// naming it. Each shape is aligned rigidly to the mean by its keypoints (all points when the mean
/// has fewer than three keypoints). With updateMeanShape, the mean is re-estimated in batches
/// (generalised alignment) until it settles, and getMeanShape hands it over. Fewer than two usable
/// shapes give a non-zero status.
///
/// The output "shape model" is a GenericASC named "shape_model", 2-D if the mean shape is:
/// - copies of the mean shape's structures, with keypoints and mesh vertices at the model mean;
/// - a structure "Orbitane.ShapeModel" (replacing one that the mean shape may bring) whose point
///   cloud "Orbitane.ShapeModel.Mean" holds the model mean as one point per shape point (order
///   above), with attributes "numModes" (int) and "numShapes" (int), and whose point clouds
///   "Orbitane.ShapeModel.Mode<i>" (i from 0, by descending variance) hold mode i as one
///   displacement per shape point (the modes are orthonormal over all coordinates), with the
///   attributes "variance" (double) and "mode" (int).
/// A shape is mean + Σ c_i · mode_i.
class GenerateLinearShapeModel : public Algorithm
{
public:
	explicit GenerateLinearShapeModel(const AnatomicalStructureCollection* meanShape);

	void compute() override;

	/// The re-estimated mean shape of the last compute with updateMeanShape; null otherwise or
	/// once handed over.
	std::unique_ptr<AnatomicalStructureCollection> getMeanShape() { return std::move(m_updatedMean); }

	Parameter<std::string> inputDirectory{"inputDirectory", ""};
	Parameter<bool> updateMeanShape{"updateMeanShape", false};

private:
	const AnatomicalStructureCollection* m_meanShape;
	std::unique_ptr<AnatomicalStructureCollection> m_updatedMean;
};

}
