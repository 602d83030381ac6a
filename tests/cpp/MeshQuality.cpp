#include "MeshQuality.h"

#include <Eigen/Geometry>

#include <algorithm>
#include <numeric>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace Orbitane::LabelMap {
namespace {
// Area below which a triangle counts as degenerate, relative to the squared longest side.
constexpr double degenerateAreaRatio = 1e-12;

struct DirectedEdge
{
	int from;
	int to;
	std::size_t face;
};

void checkIndices(const SurfaceMesh& mesh)
{
	const auto count = static_cast<long long>(mesh.vertices.size());
	for (std::size_t f = 0; f < mesh.faces.size(); ++f)
		for (int k = 0; k < 3; ++k)
			if (mesh.faces[f][k] < 0 || mesh.faces[f][k] >= count)
				throw std::invalid_argument("face " + std::to_string(f) + " refers to vertex " +
				                            std::to_string(mesh.faces[f][k]) + " of " + std::to_string(count));
}

bool isDegenerate(const SurfaceMesh& mesh, const Eigen::Vector3i& f)
{
	if (f[0] == f[1] || f[1] == f[2] || f[0] == f[2])
		return true;
	const Eigen::Vector3d& a = mesh.vertices[f[0]];
	const Eigen::Vector3d& b = mesh.vertices[f[1]];
	const Eigen::Vector3d& c = mesh.vertices[f[2]];
	const double longest = std::max({(b - a).squaredNorm(), (c - b).squaredNorm(), (a - c).squaredNorm()});
	return (b - a).cross(c - a).norm() <= degenerateAreaRatio * longest;
}

struct UnionFind
{
	std::vector<std::size_t> parent;
	explicit UnionFind(std::size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), std::size_t{0}); }
	std::size_t find(std::size_t i)
	{
		while (parent[i] != i)
			i = parent[i] = parent[parent[i]];
		return i;
	}
	void unite(std::size_t a, std::size_t b) { parent[find(a)] = find(b); }
};

// Edges grouped by their undirected vertex pair: counts, orientation, and face adjacency.
void analyzeEdges(const SurfaceMesh& mesh, MeshTopology& topo, UnionFind& faceSets)
{
	std::vector<DirectedEdge> edges;
	edges.reserve(3 * mesh.faces.size());
	for (std::size_t f = 0; f < mesh.faces.size(); ++f)
		for (int k = 0; k < 3; ++k)
			edges.push_back({mesh.faces[f][k], mesh.faces[f][(k + 1) % 3], f});
	auto key = [](const DirectedEdge& e) { return std::minmax(e.from, e.to); };
	std::sort(edges.begin(), edges.end(),
	          [&](const DirectedEdge& a, const DirectedEdge& b) { return key(a) < key(b); });
	for (std::size_t i = 0; i < edges.size();)
	{
		std::size_t j = i;
		while (j < edges.size() && key(edges[j]) == key(edges[i]))
			++j;
		const std::size_t uses = j - i;
		++topo.edges;
		if (uses == 1)
			++topo.boundaryEdges;
		else if (uses > 2)
			++topo.nonManifoldEdges;
		else if (edges[i].from == edges[i + 1].from)
			++topo.misorientedEdges;
		for (std::size_t k = i + 1; k < j; ++k)
			faceSets.unite(edges[i].face, edges[k].face);
		i = j;
	}
}

// A vertex is manifold when the edges opposite it in its faces (its link) form one cycle.
std::size_t countNonManifoldVertices(const SurfaceMesh& mesh, std::size_t& usedVertices)
{
	const std::size_t n = mesh.vertices.size();
	std::vector<std::size_t> start(n + 1, 0);
	for (const auto& f : mesh.faces)
		for (int k = 0; k < 3; ++k)
			++start[static_cast<std::size_t>(f[k]) + 1];
	std::partial_sum(start.begin(), start.end(), start.begin());
	std::vector<std::pair<int, int>> link(start[n]);
	std::vector<std::size_t> fill(start.begin(), start.end() - 1);
	for (const auto& f : mesh.faces)
		for (int k = 0; k < 3; ++k)
			link[fill[static_cast<std::size_t>(f[k])]++] = {f[(k + 1) % 3], f[(k + 2) % 3]};

	std::size_t bad = 0;
	usedVertices = 0;
	for (std::size_t v = 0; v < n; ++v)
	{
		const std::size_t begin = start[v];
		const std::size_t end = start[v + 1];
		if (begin == end)
			continue;
		++usedVertices;
		// Follow the link from its first edge; it must come back after visiting every edge once.
		std::size_t steps = 0;
		int at = link[begin].second;
		const int first = link[begin].first;
		bool closed = false;
		while (steps < end - begin)
		{
			++steps;
			if (at == first)
			{
				closed = true;
				break;
			}
			auto next = std::find_if(link.begin() + static_cast<std::ptrdiff_t>(begin),
			                         link.begin() + static_cast<std::ptrdiff_t>(end),
			                         [at](const std::pair<int, int>& e) { return e.first == at; });
			if (next == link.begin() + static_cast<std::ptrdiff_t>(end))
				break;
			at = next->second;
		}
		if (!closed || steps != end - begin)
			++bad;
	}
	return bad;
}
}

MeshTopology analyzeTopology(const SurfaceMesh& mesh)
{
	checkIndices(mesh);
	MeshTopology topo;
	topo.faces = mesh.faces.size();
	for (const auto& f : mesh.faces)
		topo.degenerateFaces += isDegenerate(mesh, f) ? 1 : 0;

	UnionFind faceSets(mesh.faces.size());
	analyzeEdges(mesh, topo, faceSets);
	for (std::size_t f = 0; f < mesh.faces.size(); ++f)
		topo.components += faceSets.find(f) == f ? 1 : 0;

	topo.nonManifoldVertices = countNonManifoldVertices(mesh, topo.vertices);
	topo.eulerCharacteristic =
	    static_cast<long long>(topo.vertices) - static_cast<long long>(topo.edges) + static_cast<long long>(topo.faces);
	return topo;
}

double enclosedVolume(const SurfaceMesh& mesh)
{
	checkIndices(mesh);
	if (mesh.vertices.empty())
		return 0.0;
	// Measured from the vertex centroid to keep the sum well conditioned far from the origin.
	Eigen::Vector3d origin = Eigen::Vector3d::Zero();
	for (const auto& v : mesh.vertices)
		origin += v;
	origin /= static_cast<double>(mesh.vertices.size());
	double sixfold = 0.0;
	for (const auto& f : mesh.faces)
	{
		const Eigen::Vector3d a = mesh.vertices[f[0]] - origin;
		const Eigen::Vector3d b = mesh.vertices[f[1]] - origin;
		const Eigen::Vector3d c = mesh.vertices[f[2]] - origin;
		sixfold += a.dot(b.cross(c));
	}
	return sixfold / 6.0;
}

double surfaceArea(const SurfaceMesh& mesh)
{
	checkIndices(mesh);
	double area = 0.0;
	for (const auto& f : mesh.faces)
	{
		const Eigen::Vector3d& a = mesh.vertices[f[0]];
		area += 0.5 * (mesh.vertices[f[1]] - a).cross(mesh.vertices[f[2]] - a).norm();
	}
	return area;
}
}
