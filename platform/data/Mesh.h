#pragma once

#include "data/Data.h"

#include <Eigen/Core>

#include <vector>

namespace Orbitane {

/// Triangle mesh; vertices in the mesh's own frame, placed in the world by its matrix.
class Mesh : public Data
{
public:
	Mesh() = default;
	/// Throws std::invalid_argument when a face refers to a vertex that does not exist.
	Mesh(std::vector<Eigen::Vector3d> vertices, std::vector<Eigen::Vector3i> faces);
	Kind kind() const override { return Kind::Mesh; }

	const std::vector<Eigen::Vector3d>& vertices() const { return m_vertices; }
	const std::vector<Eigen::Vector3i>& faces() const { return m_faces; }
	const std::vector<Eigen::Vector3d>& normals() const { return m_normals; }
	/// Replacing vertices drops faces that no longer fit; check with setFaces.
	void setVertices(std::vector<Eigen::Vector3d> v);
	void setFaces(std::vector<Eigen::Vector3i> f);
	/// Per-vertex normals; empty or one per vertex.
	void setNormals(std::vector<Eigen::Vector3d> n);
	int numVertices() const { return static_cast<int>(m_vertices.size()); }
	int numFaces() const { return static_cast<int>(m_faces.size()); }

	Eigen::AlignedBox3d bounds() const override;
	std::string describe() const override;

private:
	std::vector<Eigen::Vector3d> m_vertices;
	std::vector<Eigen::Vector3i> m_faces;
	std::vector<Eigen::Vector3d> m_normals;
};

}
