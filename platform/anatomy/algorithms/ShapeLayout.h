#pragma once

#include "anatomy/structures/AnatomicalStructureCollection.h"

#include <Eigen/Core>

#include <optional>
#include <string>
#include <vector>

namespace Orbitane {

/// Which elements of a collection form a shape, and how they map to a sequence of points.
class ShapeLayout
{
public:
	/// Everything the mean shape holds: keypoints and meshes of each of its structures.
	explicit ShapeLayout(const AnatomicalStructureCollection& mean);

	/// The points of a collection in layout order (world coordinates), or the reason it lacks one.
	std::optional<Eigen::Matrix3Xd> extract(const AnatomicalStructureCollection& c, std::string& missing) const;
	/// Writes points (layout order) into the keypoints and mesh vertices of a collection; elements
	/// of the layout that the collection lacks are passed over.
	void apply(const Eigen::Matrix3Xd& points, AnatomicalStructureCollection& c) const;

	int numPoints() const { return m_numPoints; }
	int numKeypoints() const { return m_numKeypoints; }
	/// 1 for keypoints, 0 for mesh vertices: keypoints drive the alignment.
	Eigen::VectorXd keypointWeights() const;

private:
	struct Item
	{
		std::string structure;
		std::string key;
		bool isMesh;
		int vertexCount;    // meshes only
	};
	std::vector<Item> m_items;
	int m_numPoints = 0;
	int m_numKeypoints = 0;
};

}
