#pragma once

#include "anatomy/structures/GenericASC.h"
#include "core/Parameter.h"
#include "data/Algorithm.h"
#include "data/LabelDataComponent.h"
#include "data/SharedImageSet.h"

namespace Orbitane::AnatomicalStructureProcessing {

/// Turns a label image into a collection with one structure per label name.
///
/// Input: the focused image of the set, of any integer voxel type; value 0 is background. Names come
/// from the label component given (or, without one, the image set's own LabelDataComponent). With
/// onlyConfiguredLabels true (the default) only configured values become structures; with false every
/// value present does, unconfigured ones named by LabelDataComponent::defaultLabelConfig. Values that
/// share a name become one structure.
///
/// Each structure holds, in world coordinates:
/// - meshes["Orbitane.Segmentation"]: closed, outward-oriented triangle surface of the label;
/// - images["Orbitane.Segmentation"]: the label's mask cropped to its bounding box plus one voxel
///   (label modality, placed where it lies in the image), with the attributes "voxelCount" (int)
///   and "volume" (voxel count times voxel volume, mm³; mm² times the slice spacing in 2-D);
/// - keypoints["Orbitane.Position"]: the centroid of its voxels;
/// - keypoints "Orbitane.BoundingBox.<corner>": the corners of its voxel bounding box (outer voxel
///   faces). Index axes name the corners: Left = low x, Right = high x, Upper = low y, Lower = high y,
///   Front = low z, Back = high z; 3-D images get the eight "…Front"/"…Back" corners, 2-D images the
///   four corners UpperLeft, UpperRight, LowerLeft, LowerRight in their plane.
/// The structure's matrix is a translation to the centroid, and its 2-D flag is that of the image.
///
/// Without a target collection a new GenericASC is made and handed out by takeOutput(); with one,
/// the structures are added to it (a structure it refuses is logged and dropped).
class GenericASCFromMultiLabelMap : public Algorithm
{
public:
	GenericASCFromMultiLabelMap(const SharedImageSet* labelImages, GenericASC* target = nullptr,
	                            const LabelDataComponent* labels = nullptr);

	void compute() override;

	/// Worker threads of the mesh and statistics passes; 0 uses every hardware thread.
	Parameter<int> threads{"threads", 0};
	Parameter<bool> onlyConfiguredLabels{"onlyConfiguredLabels", true};

private:
	const SharedImageSet* m_images;
	GenericASC* m_target;
	const LabelDataComponent* m_labels;
};

}
