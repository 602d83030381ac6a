#pragma once

#include "data/Mesh.h"
#include "data/PointCloud.h"
#include "data/SharedImageSet.h"
#include "graph/Graph.h"
#include "anatomy/stores/KeyValueStore.h"
#include "core/LifeToken.h"

#include <Eigen/Core>

#include <memory>
#include <string>

namespace Orbitane {

/// One anatomical entity (an organ, a bone, a vessel tree): named keypoints, planes, images,
/// meshes, point clouds and graphs, all in world coordinates, plus the transform from the
/// structure's own frame to the world. Every store's `matrix` points at that transform, so each
/// element also has a copy in the structure's frame.
///
/// Structures are not copyable; clone() makes an independent deep copy. Handles
/// (AnatomicalStructureWrapper) learn that a structure is gone through lifeToken().
class AnatomicalStructure
{
public:
	virtual ~AnatomicalStructure();
	AnatomicalStructure& operator=(const AnatomicalStructure&) = delete;

	virtual std::string identifier() const = 0;
	/// A one-line human-readable summary: identifier, 2-D flag and store sizes.
	virtual std::string describe() const;

	const Eigen::Matrix4d& matrixToWorld() const { return m_matrixToWorld; }

	/// Sets the local-to-world matrix. The matrix must be finite and invertible, else
	/// std::invalid_argument is thrown and nothing changes.
	///
	/// moveContents true: the contents move with the frame. Every element's world value is mapped
	/// by new · old⁻¹ (keypoints as points, planes exactly by the inverse transpose, objects by
	/// their own matrix), so their local copies stay as they were; keypoints and planes announce
	/// the move through entryChanged.
	/// moveContents false: the contents stay where they are in the world; local copies are
	/// recomputed against the new frame.
	/// Either way, elements whose attribute "synchronization" is false are left untouched.
	virtual void setMatrixToWorld(const Eigen::Matrix4d& matrix, bool moveContents);

	/// A deep, independent copy: identifier, 2-D flag, matrix, every store with its attributes.
	std::unique_ptr<AnatomicalStructure> clone() const { return cloneImpl(); }

	/// Ends when this structure is destroyed; handles watch it and never extend the life of the
	/// structure itself.
	LifeToken::Watch lifeWatch() const { return m_life.watch(); }

	/// True for a structure that lives in a 2-D image plane.
	bool is2D = false;

	KeyValueStore<Eigen::Vector3d> keypoints;
	KeyValueStore<Eigen::Vector4d> planes;
	KeyValueStore<std::unique_ptr<SharedImageSet>> images;
	KeyValueStore<std::unique_ptr<Mesh>> meshes;
	KeyValueStore<std::unique_ptr<PointCloud>> pointclouds;
	KeyValueStore<std::unique_ptr<Graph>> graphs;

protected:
	AnatomicalStructure();
	/// Deep copy for cloneImpl: matrix, 2-D flag and store contents; the life token is new.
	AnatomicalStructure(const AnatomicalStructure& other);

	virtual std::unique_ptr<AnatomicalStructure> cloneImpl() const = 0;

private:
	void attachStores();
	template <typename F>
	void forEachStore(F&& f);

	Eigen::Matrix4d m_matrixToWorld = Eigen::Matrix4d::Identity();
	LifeToken m_life;
};

}
