#pragma once

#include "anatomy/structures/AnatomicalStructureCollection.h"
#include "core/Parameter.h"
#include "data/Algorithm.h"
#include "data/SharedImageSet.h"

#include <Eigen/Core>

#include <memory>
#include <string>

namespace Orbitane {

/// Registers a moving collection onto a fixed one and moves the moving collection in place.
///
/// Structures are paired by identifier (the collections' own stores pair with each other too),
/// their keypoints, planes, images and meshes by key. The rigid and similarity methods move every
/// moving structure with its contents (setMatrixToWorld with moveContents true) and record the
/// transform, moving to fixed, in the read-only parameter "transformation" (identity before the
/// first successful compute). DeformableMeshRegistration fits the vertices of every paired moving
/// mesh onto its fixed surface and leaves "transformation" at identity.
///
/// When the pairs do not determine the result (too few, collinear, no paired element of the kind
/// the method needs), compute logs the cause, sets a non-zero status and changes nothing.
/// The algorithm refers to the collections and does not own them.
class ASCRegistration : public Algorithm
{
public:
	enum class RegistrationMethod : int
	{
		PointsAndPlanes = 1,
		DeformableMeshRegistration = 2,
		RigidImages = 3,
		PointsRigidScaling = 4
	};

	/// The image sets complete the platform's signature and are not kept: the image method
	/// registers the images that paired structures hold.
	ASCRegistration(AnatomicalStructureCollection* fixed, AnatomicalStructureCollection* moving,
	                SharedImageSet* fixedImages = nullptr, SharedImageSet* movingImages = nullptr);

	void compute() override;

	virtual Data* fixedData() const { return m_fixed; }
	virtual Data* movingData() const { return m_moving; }
	virtual AnatomicalStructureCollection* movingASC() const { return m_moving; }
	virtual AnatomicalStructureCollection* fixedASC() const { return m_fixed; }
	/// Independent copies of the collections as they are now (the algorithm owns neither).
	virtual std::unique_ptr<AnatomicalStructureCollection> takeMovingASC();
	virtual std::unique_ptr<AnatomicalStructureCollection> takeFixedASC();

	Parameter<RegistrationMethod> registrationMethod{"registrationMethod", RegistrationMethod::PointsAndPlanes};
	Parameter<Eigen::Matrix4d> transformation{"transformation", Eigen::Matrix4d::Identity(), true};

private:
	bool computeRigid();
	bool computeDeformable();

	AnatomicalStructureCollection* m_fixed;
	AnatomicalStructureCollection* m_moving;
};

}
