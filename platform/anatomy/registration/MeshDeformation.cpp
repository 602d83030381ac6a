#include "anatomy/registration/MeshDeformation.h"

#include <Eigen/Geometry>
#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <utility>

namespace Orbitane::Registration {

namespace {

Eigen::Vector3d closestPointOnSegment(const Eigen::Vector3d& p, const Eigen::Vector3d& a, const Eigen::Vector3d& b)
{
	const Eigen::Vector3d ab = b - a;
	const double len2 = ab.squaredNorm();
	if (!(len2 > 0.0))
		return a;
	return a + std::clamp((p - a).dot(ab) / len2, 0.0, 1.0) * ab;
}

Eigen::Vector3d closestOnDegenerateTriangle(const Eigen::Vector3d& p, const Eigen::Vector3d& a,
                                            const Eigen::Vector3d& b, const Eigen::Vector3d& c)
{
	Eigen::Vector3d best = closestPointOnSegment(p, a, b);
	for (const Eigen::Vector3d& q : {closestPointOnSegment(p, b, c), closestPointOnSegment(p, c, a)})
		if ((q - p).squaredNorm() < (best - p).squaredNorm())
			best = q;
	return best;
}

}    // namespace

// Classifies p against the Voronoi regions of the triangle's vertices, edges and face, testing the
// cheap vertex regions first.
Eigen::Vector3d closestPointOnTriangle(const Eigen::Vector3d& p, const Eigen::Vector3d& a, const Eigen::Vector3d& b,
                                       const Eigen::Vector3d& c)
{
	const Eigen::Vector3d ab = b - a, ac = c - a;
	const double area2 = ab.cross(ac).squaredNorm();
	if (!(area2 > 1e-24 * ab.squaredNorm() * ac.squaredNorm()))
		return closestOnDegenerateTriangle(p, a, b, c);

	const Eigen::Vector3d ap = p - a;
	const double d1 = ab.dot(ap), d2 = ac.dot(ap);
	if (d1 <= 0.0 && d2 <= 0.0)
		return a;
	const Eigen::Vector3d bp = p - b;
	const double d3 = ab.dot(bp), d4 = ac.dot(bp);
	if (d3 >= 0.0 && d4 <= d3)
		return b;
	const double vc = d1 * d4 - d3 * d2;
	if (vc <= 0.0 && d1 >= 0.0 && d3 <= 0.0)
		return a + (d1 / (d1 - d3)) * ab;
	const Eigen::Vector3d cp = p - c;
	const double d5 = ab.dot(cp), d6 = ac.dot(cp);
	if (d6 >= 0.0 && d5 <= d6)
		return c;
	const double vb = d5 * d2 - d1 * d6;
	if (vb <= 0.0 && d2 >= 0.0 && d6 <= 0.0)
		return a + (d2 / (d2 - d6)) * ac;
	const double va = d3 * d6 - d5 * d4;
	if (va <= 0.0 && d4 - d3 >= 0.0 && d5 - d6 >= 0.0)
		return b + ((d4 - d3) / ((d4 - d3) + (d5 - d6))) * (c - b);
	const double denom = 1.0 / (va + vb + vc);
	return a + ab * (vb * denom) + ac * (vc * denom);
}

struct TriangleSurface::Tree
{
	struct Node
	{
		Eigen::AlignedBox3d box;
		int left = -1, right = -1;    // children, or -1 for a leaf
		int first = 0, count = 0;     // range of `order` covered by a leaf
	};

	Vertices vertices;
	std::vector<Eigen::Vector3i> faces;
	std::vector<int> order;
	std::vector<Node> nodes;

	static constexpr int kLeafSize = 4;

	Eigen::AlignedBox3d faceBox(int f) const
	{
		Eigen::AlignedBox3d box;
		for (int k = 0; k < 3; ++k)
			box.extend(vertices[static_cast<size_t>(faces[static_cast<size_t>(f)](k))]);
		return box;
	}

	Eigen::Vector3d centre(int f) const
	{
		const auto& t = faces[static_cast<size_t>(f)];
		return (vertices[static_cast<size_t>(t(0))] + vertices[static_cast<size_t>(t(1))] +
		        vertices[static_cast<size_t>(t(2))]) /
		       3.0;
	}

	// Splits at the median along the longest axis, so the depth stays logarithmic for any input.
	int build(int first, int count)
	{
		const int id = static_cast<int>(nodes.size());
		nodes.emplace_back();
		Eigen::AlignedBox3d box;
		for (int i = first; i < first + count; ++i)
			box.extend(faceBox(order[static_cast<size_t>(i)]));
		nodes[static_cast<size_t>(id)].box = box;
		if (count <= kLeafSize)
		{
			nodes[static_cast<size_t>(id)].first = first;
			nodes[static_cast<size_t>(id)].count = count;
			return id;
		}
		int axis = 0;
		box.sizes().maxCoeff(&axis);
		const int half = count / 2;
		std::nth_element(order.begin() + first, order.begin() + first + half, order.begin() + first + count,
		                 [&](int a, int b) { return centre(a)(axis) < centre(b)(axis); });
		const int left = build(first, half);
		const int right = build(first + half, count - half);
		nodes[static_cast<size_t>(id)].left = left;
		nodes[static_cast<size_t>(id)].right = right;
		return id;
	}

	void testLeaf(const Node& leaf, const Eigen::Vector3d& q, SurfacePoint& best, double& best2) const
	{
		for (int i = leaf.first; i < leaf.first + leaf.count; ++i)
		{
			const int f = order[static_cast<size_t>(i)];
			const auto& t = faces[static_cast<size_t>(f)];
			const Eigen::Vector3d c =
			    closestPointOnTriangle(q, vertices[static_cast<size_t>(t(0))], vertices[static_cast<size_t>(t(1))],
			                           vertices[static_cast<size_t>(t(2))]);
			const double d2 = (c - q).squaredNorm();
			if (d2 < best2)
			{
				best2 = d2;
				best.point = c;
				best.triangle = f;
			}
		}
	}

	SurfacePoint query(const Eigen::Vector3d& q) const
	{
		SurfacePoint best;
		double best2 = std::numeric_limits<double>::infinity();
		std::vector<int> stack{0};
		while (!stack.empty())
		{
			const Node& node = nodes[static_cast<size_t>(stack.back())];
			stack.pop_back();
			if (node.box.squaredExteriorDistance(q) >= best2)
				continue;
			if (node.left < 0)
			{
				testLeaf(node, q, best, best2);
				continue;
			}
			// The nearer child goes on top so that it tightens the bound first.
			int nearChild = node.left, farChild = node.right;
			if (nodes[static_cast<size_t>(farChild)].box.squaredExteriorDistance(q) <
			    nodes[static_cast<size_t>(nearChild)].box.squaredExteriorDistance(q))
				std::swap(nearChild, farChild);
			stack.push_back(farChild);
			stack.push_back(nearChild);
		}
		best.distance = std::sqrt(best2);
		return best;
	}
};

namespace {

std::string checkMesh(const Vertices& vertices, const Faces& faces)
{
	for (const auto& v : vertices)
		if (!v.allFinite())
			return "has a non-finite vertex";
	const int n = static_cast<int>(vertices.size());
	for (const auto& f : faces)
		if ((f.array() < 0).any() || (f.array() >= n).any())
			return "has a face that refers to a missing vertex";
	return {};
}

}    // namespace

TriangleSurface::TriangleSurface(Vertices vertices, const Faces& faces) : m_tree(std::make_unique<Tree>())
{
	if (faces.empty())
		throw std::invalid_argument("the surface has no faces");
	if (auto why = checkMesh(vertices, faces); !why.empty())
		throw std::invalid_argument("the surface " + why);
	m_tree->vertices = std::move(vertices);
	m_tree->faces = faces;
	m_tree->order.resize(faces.size());
	std::iota(m_tree->order.begin(), m_tree->order.end(), 0);
	m_tree->nodes.reserve(2 * faces.size() / Tree::kLeafSize + 2);
	m_tree->build(0, static_cast<int>(faces.size()));
}

TriangleSurface::~TriangleSurface() = default;
TriangleSurface::TriangleSurface(TriangleSurface&&) noexcept = default;
TriangleSurface& TriangleSurface::operator=(TriangleSurface&&) noexcept = default;

SurfacePoint TriangleSurface::closestPoint(const Eigen::Vector3d& query) const { return m_tree->query(query); }

double meanSurfaceDistance(const Vertices& points, const TriangleSurface& surface)
{
	if (points.empty())
		return 0.0;
	double sum = 0.0;
	for (const auto& p : points)
		sum += surface.closestPoint(p).distance;
	return sum / static_cast<double>(points.size());
}

double meanSurfaceDistance(const Vertices& points, const Vertices& surfaceVertices, const Faces& surfaceFaces)
{
	return meanSurfaceDistance(points, TriangleSurface(surfaceVertices, surfaceFaces));
}

namespace {

using SparseMatrix = Eigen::SparseMatrix<double>;

// The graph Laplacian of the mesh's edges (each shared edge counted once).
SparseMatrix edgeLaplacian(size_t vertexCount, const Faces& faces)
{
	std::vector<std::pair<int, int>> edges;
	edges.reserve(faces.size() * 3);
	for (const auto& f : faces)
		for (int k = 0; k < 3; ++k)
		{
			const int a = f(k), b = f((k + 1) % 3);
			if (a != b)
				edges.emplace_back(std::min(a, b), std::max(a, b));
		}
	std::sort(edges.begin(), edges.end());
	edges.erase(std::unique(edges.begin(), edges.end()), edges.end());

	std::vector<Eigen::Triplet<double>> entries;
	entries.reserve(edges.size() * 4);
	for (const auto& [a, b] : edges)
	{
		entries.emplace_back(a, a, 1.0);
		entries.emplace_back(b, b, 1.0);
		entries.emplace_back(a, b, -1.0);
		entries.emplace_back(b, a, -1.0);
	}
	const auto n = static_cast<Eigen::Index>(vertexCount);
	SparseMatrix l(n, n);
	l.setFromTriplets(entries.begin(), entries.end());
	return l;
}

SparseMatrix identity(Eigen::Index n)
{
	SparseMatrix i(n, n);
	i.setIdentity();
	return i;
}

}    // namespace

MeshDeformationResult deformMeshOnto(const Vertices& fixedVertices, const Faces& fixedFaces,
                                     const Vertices& movingVertices, const Faces& movingFaces,
                                     const MeshDeformationOptions& options)
{
	MeshDeformationResult result;
	if (movingVertices.empty())
		return {false, "the moving mesh has no vertices", {}};
	if (auto why = checkMesh(movingVertices, movingFaces); !why.empty())
		return {false, "the moving mesh " + why, {}};
	if (!(options.initialStiffness >= 0.0) || !(options.finalStiffness >= 0.0) || options.iterations < 1)
		return {false, "the deformation options need at least one iteration and stiffness that is not negative", {}};
	std::unique_ptr<TriangleSurface> surface;
	try
	{
		surface = std::make_unique<TriangleSurface>(fixedVertices, fixedFaces);
	}
	catch (const std::invalid_argument& e)
	{
		return {false, std::string("the fixed mesh cannot be used: ") + e.what(), {}};
	}

	const auto n = static_cast<Eigen::Index>(movingVertices.size());
	const SparseMatrix laplacian = edgeLaplacian(movingVertices.size(), movingFaces);
	const SparseMatrix eye = identity(n);
	Eigen::MatrixX3d base(n, 3);
	for (Eigen::Index i = 0; i < n; ++i)
		base.row(i) = movingVertices[static_cast<size_t>(i)].transpose();
	Eigen::MatrixX3d displacement = Eigen::MatrixX3d::Zero(n, 3);

	Eigen::SimplicialLDLT<SparseMatrix> solver;
	solver.analyzePattern(eye + laplacian);
	const int iterations = options.iterations;
	for (int it = 0; it < iterations; ++it)
	{
		// Stiff at first, so the mesh moves nearly as a whole; supple at the end, for the detail.
		const double t = iterations > 1 ? static_cast<double>(it) / (iterations - 1) : 1.0;
		const double stiffness =
		    options.initialStiffness > 0.0 && options.finalStiffness > 0.0
		        ? options.initialStiffness * std::pow(options.finalStiffness / options.initialStiffness, t)
		        : options.initialStiffness + t * (options.finalStiffness - options.initialStiffness);
		Eigen::MatrixX3d target = displacement;
		for (Eigen::Index i = 0; i < n; ++i)
		{
			const Eigen::Vector3d x = base.row(i).transpose() + displacement.row(i).transpose();
			target.row(i) += (surface->closestPoint(x).point - x).transpose();
		}
		// Minimises |u − target|² + stiffness · Σ_edges |u_a − u_b|².
		solver.factorize(eye + stiffness * laplacian);
		if (solver.info() != Eigen::Success)
			return {false, "the smoothing system could not be solved", {}};
		displacement = solver.solve(target);
		if (options.progress)
			options.progress(static_cast<double>(it + 1) / iterations);
	}

	result.ok = true;
	result.vertices.resize(movingVertices.size());
	for (Eigen::Index i = 0; i < n; ++i)
		result.vertices[static_cast<size_t>(i)] = (base.row(i) + displacement.row(i)).transpose();
	return result;
}

}    // namespace Orbitane::Registration
