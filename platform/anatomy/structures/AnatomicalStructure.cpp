#include "anatomy/structures/AnatomicalStructure.h"

#include "anatomy/TransformHelpers.h"

#include <fmt/format.h>

#include <stdexcept>

namespace Orbitane {

AnatomicalStructure::AnatomicalStructure() { attachStores(); }

AnatomicalStructure::AnatomicalStructure(const AnatomicalStructure& other)
    : is2D(other.is2D), m_matrixToWorld(other.m_matrixToWorld)
{
	attachStores();
	keypoints.assignFrom(other.keypoints);
	planes.assignFrom(other.planes);
	images.assignFrom(other.images);
	meshes.assignFrom(other.meshes);
	pointclouds.assignFrom(other.pointclouds);
	graphs.assignFrom(other.graphs);
}

AnatomicalStructure::~AnatomicalStructure()
{
	// handles must see the structure as gone before any of its parts is torn down
	m_life.end();
}

template <typename F>
void AnatomicalStructure::forEachStore(F&& f)
{
	f(keypoints);
	f(planes);
	f(images);
	f(meshes);
	f(pointclouds);
	f(graphs);
}

void AnatomicalStructure::attachStores()
{
	forEachStore([this](auto& store) { store.matrix = &m_matrixToWorld; });
}

std::string AnatomicalStructure::describe() const
{
	return fmt::format("AnatomicalStructure '{}' ({}, {} keypoints, {} planes, {} images, {} meshes, {} pointclouds, "
	                   "{} graphs)",
	                   identifier(), is2D ? "2D" : "3D", keypoints.size(), planes.size(), images.size(), meshes.size(),
	                   pointclouds.size(), graphs.size());
}

void AnatomicalStructure::setMatrixToWorld(const Eigen::Matrix4d& matrix, bool moveContents)
{
	if (!TransformHelpers::isValidTransform(matrix))
		throw std::invalid_argument("The matrix of an anatomical structure must be finite and invertible");
	const Eigen::Matrix4d transform = matrix * m_matrixToWorld.inverse();
	m_matrixToWorld = matrix;
	forEachStore([&](auto& store) {
		if (moveContents)
			store.moveWithFrame(transform);
		else
			store.updateLocalCopies();
	});
}

}
