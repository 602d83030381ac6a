#include "anatomy/algorithms/ShapeLayout.h"

#include <Eigen/Geometry>

namespace Orbitane {

ShapeLayout::ShapeLayout(const AnatomicalStructureCollection& mean)
{
	for (int i = 0; i < mean.numAnatomicalStructures(); ++i)
	{
		const AnatomicalStructure& s = *mean.anatomicalStructure(i);
		for (const auto& [key, entry] : s.keypoints)
			if (entry.isInitialized())
			{
				m_items.push_back({s.identifier(), key, false, 1});
				++m_numKeypoints;
			}
		for (const auto& [key, entry] : s.meshes)
			if (entry.isInitialized())
				m_items.push_back({s.identifier(), key, true, entry.value()->numVertices()});
	}
	for (const Item& item : m_items)
		m_numPoints += item.vertexCount;
}

std::optional<Eigen::Matrix3Xd> ShapeLayout::extract(const AnatomicalStructureCollection& c, std::string& missing) const
{
	Eigen::Matrix3Xd points(3, m_numPoints);
	int column = 0;
	for (const Item& item : m_items)
	{
		const AnatomicalStructure* s = c.anatomicalStructureByIdentifier(item.structure);
		const std::string where = "'" + item.key + "' of structure '" + item.structure + "'";
		if (!s)
		{
			missing = "structure '" + item.structure + "'";
			return std::nullopt;
		}
		if (!item.isMesh)
		{
			const auto* entry = s->keypoints.find(item.key);
			if (!entry || !entry->isInitialized())
				return missing = "keypoint " + where, std::nullopt;
			points.col(column++) = entry->value();
			continue;
		}
		const auto* entry = s->meshes.find(item.key);
		if (!entry || !entry->isInitialized() || entry->value()->numVertices() != item.vertexCount)
			return missing = "mesh " + where + " with " + std::to_string(item.vertexCount) + " vertices", std::nullopt;
		const Mesh& mesh = *entry->value();
		for (const Eigen::Vector3d& v : mesh.vertices())
			points.col(column++) = (mesh.matrixToWorld() * v.homogeneous()).head<3>();
	}
	return points;
}

void ShapeLayout::apply(const Eigen::Matrix3Xd& points, AnatomicalStructureCollection& c) const
{
	int column = 0;
	for (const Item& item : m_items)
	{
		AnatomicalStructure* s = c.anatomicalStructureByIdentifier(item.structure);
		const auto* meshEntry = s && item.isMesh ? s->meshes.find(item.key) : nullptr;
		if (!s || (item.isMesh && (!meshEntry || !meshEntry->isInitialized() ||
		                           meshEntry->value()->numVertices() != item.vertexCount)))
		{
			// a collection that lacks an element of the layout just does not receive its points
			column += item.vertexCount;
			continue;
		}
		if (!item.isMesh)
		{
			s->keypoints.set(item.key, points.col(column++));
			continue;
		}
		const Mesh& old = *meshEntry->value();
		const Eigen::Matrix4d toMesh = old.matrixToWorld().inverse();
		std::vector<Eigen::Vector3d> vertices;
		vertices.reserve(static_cast<std::size_t>(item.vertexCount));
		for (int k = 0; k < item.vertexCount; ++k)
			vertices.push_back((toMesh * points.col(column++).homogeneous()).head<3>());
		auto mesh = std::make_unique<Mesh>(old);
		mesh->setVertices(std::move(vertices));
		s->meshes.set(item.key, std::move(mesh));
	}
}

Eigen::VectorXd ShapeLayout::keypointWeights() const
{
	Eigen::VectorXd w(m_numPoints);
	int column = 0;
	for (const Item& item : m_items)
		for (int k = 0; k < item.vertexCount; ++k)
			w[column++] = item.isMesh ? 0.0 : 1.0;
	return w;
}

}
