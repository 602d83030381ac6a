#include "data/Mesh.h"

#include "data/DataDetail.h"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

namespace Orbitane {

namespace {

bool fits(const Eigen::Vector3i& face, int numVertices)
{
	return (face.array() >= 0).all() && (face.array() < numVertices).all();
}

void checkFaces(const std::vector<Eigen::Vector3i>& faces, int numVertices)
{
	for (std::size_t f = 0; f < faces.size(); ++f)
		for (int corner = 0; corner < 3; ++corner)
		{
			const int v = faces[f][corner];
			if (v < 0 || v >= numVertices)
				throw std::invalid_argument(
				    fmt::format("face {} refers to vertex {}, but the mesh has {} vertices", f, v, numVertices));
		}
}

void checkNormals(const std::vector<Eigen::Vector3d>& normals, std::size_t numVertices)
{
	if (!normals.empty() && normals.size() != numVertices)
		throw std::invalid_argument(fmt::format("a mesh with {} vertices needs {} normals or none, got {}", numVertices,
		                                        numVertices, normals.size()));
}

}

Mesh::Mesh(std::vector<Eigen::Vector3d> vertices, std::vector<Eigen::Vector3i> faces)
{
	checkFaces(faces, static_cast<int>(vertices.size()));
	m_vertices = std::move(vertices);
	m_faces = std::move(faces);
}

void Mesh::setVertices(std::vector<Eigen::Vector3d> v)
{
	const int n = static_cast<int>(v.size());
	std::erase_if(m_faces, [n](const Eigen::Vector3i& f) { return !fits(f, n); });
	if (m_normals.size() != v.size())
		m_normals.clear();
	m_vertices = std::move(v);
}

void Mesh::setFaces(std::vector<Eigen::Vector3i> f)
{
	checkFaces(f, numVertices());
	m_faces = std::move(f);
}

void Mesh::setNormals(std::vector<Eigen::Vector3d> n)
{
	checkNormals(n, m_vertices.size());
	m_normals = std::move(n);
}

Eigen::AlignedBox3d Mesh::bounds() const { return DataDetail::worldBounds(m_vertices, matrixToWorld()); }

std::string Mesh::describe() const
{
	return fmt::format("{} {} vertices, {} faces{}", DataDetail::describeHeader("Mesh", name()), numVertices(),
	                   numFaces(), m_normals.empty() ? "" : ", with normals");
}

}
