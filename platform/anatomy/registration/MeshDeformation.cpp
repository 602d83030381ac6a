#include "anatomy/registration/MeshDeformation.h"

#include "anatomy/registration/DisplacementLattice.h"
#include "core/ParallelTasks.h"

#include <Eigen/Geometry>
#include <Eigen/IterativeLinearSolvers>
#include <Eigen/SparseCore>

#include <algorithm>
#include <array>
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
	std::vector<Eigen::Vector3d> centres;    // of the faces, kept only while building
	std::vector<Node> nodes;

	static constexpr int kLeafSize = 4;
	// Median splits keep the depth near log2(faces / kLeafSize), far below this for any mesh that fits in memory.
	static constexpr int kMaxDepth = 64;

	const Eigen::Vector3d& corner(int f, int k) const
	{
		return vertices[static_cast<size_t>(faces[static_cast<size_t>(f)](k))];
	}

	Eigen::AlignedBox3d faceBox(int f) const
	{
		Eigen::AlignedBox3d box;
		for (int k = 0; k < 3; ++k)
			box.extend(corner(f, k));
		return box;
	}

	void build()
	{
		order.resize(faces.size());
		std::iota(order.begin(), order.end(), 0);
		centres.resize(faces.size());
		for (size_t f = 0; f < faces.size(); ++f)
			centres[f] =
			    (corner(static_cast<int>(f), 0) + corner(static_cast<int>(f), 1) + corner(static_cast<int>(f), 2)) /
			    3.0;
		nodes.reserve(2 * faces.size() / kLeafSize + 2);
		build(0, static_cast<int>(faces.size()), 0);
		centres = {};
	}

	// Splits at the median along the longest axis of the face centres, so the depth stays
	// logarithmic for any input; boxes are gathered from the children on the way back.
	int build(int first, int count, int depth)
	{
		const int id = static_cast<int>(nodes.size());
		nodes.emplace_back();
		if (count <= kLeafSize || depth + 1 >= kMaxDepth)
		{
			Eigen::AlignedBox3d box;
			for (int i = first; i < first + count; ++i)
				box.extend(faceBox(order[static_cast<size_t>(i)]));
			nodes[static_cast<size_t>(id)].box = box;
			nodes[static_cast<size_t>(id)].first = first;
			nodes[static_cast<size_t>(id)].count = count;
			return id;
		}
		Eigen::AlignedBox3d spread;
		for (int i = first; i < first + count; ++i)
			spread.extend(centres[static_cast<size_t>(order[static_cast<size_t>(i)])]);
		int axis = 0;
		spread.sizes().maxCoeff(&axis);
		const int half = count / 2;
		std::nth_element(order.begin() + first, order.begin() + first + half, order.begin() + first + count,
		                 [&](int a, int b) {
			                 return centres[static_cast<size_t>(a)](axis) < centres[static_cast<size_t>(b)](axis);
		                 });
		const int left = build(first, half, depth + 1);
		const int right = build(first + half, count - half, depth + 1);
		Node& node = nodes[static_cast<size_t>(id)];
		node.left = left;
		node.right = right;
		node.box = nodes[static_cast<size_t>(left)].box.merged(nodes[static_cast<size_t>(right)].box);
		return id;
	}

	void testFace(int f, const Eigen::Vector3d& q, SurfacePoint& best, double& best2) const
	{
		const Eigen::Vector3d c = closestPointOnTriangle(q, corner(f, 0), corner(f, 1), corner(f, 2));
		const double d2 = (c - q).squaredNorm();
		if (d2 < best2)
		{
			best2 = d2;
			best.point = c;
			best.triangle = f;
		}
	}

	SurfacePoint query(const Eigen::Vector3d& q, int hint) const
	{
		SurfacePoint best;
		double best2 = std::numeric_limits<double>::infinity();
		// A nearby point's triangle bounds the search from the start, which prunes most of the tree.
		if (hint >= 0 && static_cast<size_t>(hint) < faces.size())
			testFace(hint, q, best, best2);
		std::array<int, kMaxDepth + 1> stack;
		int top = 0;
		stack[static_cast<size_t>(top++)] = 0;
		while (top > 0)
		{
			const Node& node = nodes[static_cast<size_t>(stack[static_cast<size_t>(--top)])];
			if (node.box.squaredExteriorDistance(q) >= best2)
				continue;
			if (node.left < 0)
			{
				for (int i = node.first; i < node.first + node.count; ++i)
					testFace(order[static_cast<size_t>(i)], q, best, best2);
				continue;
			}
			// The nearer child goes on top so that it tightens the bound first.
			int nearChild = node.left, farChild = node.right;
			if (nodes[static_cast<size_t>(farChild)].box.squaredExteriorDistance(q) <
			    nodes[static_cast<size_t>(nearChild)].box.squaredExteriorDistance(q))
				std::swap(nearChild, farChild);
			stack[static_cast<size_t>(top++)] = farChild;
			stack[static_cast<size_t>(top++)] = nearChild;
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
	m_tree->build();
}

TriangleSurface::~TriangleSurface() = default;
TriangleSurface::TriangleSurface(TriangleSurface&&) noexcept = default;
TriangleSurface& TriangleSurface::operator=(TriangleSurface&&) noexcept = default;

SurfacePoint TriangleSurface::closestPoint(const Eigen::Vector3d& query, int nearTriangle) const
{
	return m_tree->query(query, nearTriangle);
}

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
using Solver = Eigen::ConjugateGradient<SparseMatrix, Eigen::Lower | Eigen::Upper>;

// Lattice cells span this many mean edge lengths of the moving mesh.
constexpr double kLatticeEdges = 8.0;
// A stiffness s spreads a vertex's pull over about sqrt(1.5 s) edges; from this stiffness on the
// pull spans half a lattice cell, which the lattice can carry.
constexpr double kLatticeStiffness = kLatticeEdges * kLatticeEdges / 4.0 / 1.5;
// Iterations over every vertex are capped at this many vertex visits in all (but never fewer
// than kMinVertexIterations): they cost a closest-point search and a solve over the whole mesh each.
constexpr double kVertexVisits = 2e6;
constexpr int kMinVertexIterations = 3;
// Each solve starts from the previous iteration's field, so a loose tolerance is reached in a few steps.
constexpr double kSolverTolerance = 1e-3;
constexpr int kSolverSteps = 100;

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

double meanEdgeLength(const Eigen::MatrixX3d& base, const Faces& faces)
{
	double sum = 0.0;
	for (const auto& f : faces)
		for (int k = 0; k < 3; ++k)
			sum += (base.row(f(k)) - base.row(f((k + 1) % 3))).norm();
	const double mean = faces.empty() ? 0.0 : sum / (3.0 * static_cast<double>(faces.size()));
	return mean > 0.0 ? mean : 1.0;
}

/// Which iterations run on the lattice (the first ones) and each iteration's stiffness.
struct Schedule
{
	int latticeIterations = 0;
	std::vector<double> stiffness;
};

Schedule planSchedule(const MeshDeformationOptions& options, Eigen::Index vertices)
{
	const int total = options.iterations;
	const double first = options.initialStiffness, last = options.finalStiffness;
	// Stiff at first, so the mesh moves nearly as a whole; supple at the end, for the detail.
	auto at = [&](double t) {
		return first > 0.0 && last > 0.0 ? first * std::pow(last / first, t) : first + t * (last - first);
	};
	auto share = [](int i, int count) { return count > 1 ? static_cast<double>(i) / (count - 1) : 1.0; };
	int stiff = 0;
	while (stiff < total && at(share(stiff, total)) >= kLatticeStiffness)
		++stiff;
	const int cap =
	    std::max(kMinVertexIterations,
	             static_cast<int>(std::ceil(kVertexVisits / static_cast<double>(std::max<Eigen::Index>(vertices, 1)))));
	const int fine = std::max(1, std::min(total - stiff, cap));

	// Where the cap leaves more iterations to the lattice, the schedule is stretched over them.
	Schedule schedule;
	schedule.latticeIterations = total - fine;
	const double latticeEnd = std::max(0.0, share(stiff - 1, total));
	const double fineStart = share(std::min(stiff, total - 1), total);
	for (int i = 0; i < schedule.latticeIterations; ++i)
		schedule.stiffness.push_back(at(latticeEnd * share(i, schedule.latticeIterations)));
	for (int i = 0; i < fine; ++i)
		schedule.stiffness.push_back(at(fineStart + (1.0 - fineStart) * share(i, fine)));
	return schedule;
}

/// The state the iterations share: the moving vertices at rest, their displacement so far and
/// the triangle each last found closest (which speeds up its next search).
struct Deformation
{
	const TriangleSurface& surface;
	Eigen::MatrixX3d base;
	Eigen::MatrixX3d displacement;
	std::vector<int> nearTriangle;
	const MeshDeformationOptions& options;
	int done = 0;

	// The way from vertex v, displaced by `offset`, to its closest point on the fixed surface.
	Eigen::RowVector3d pull(Eigen::Index v, const Eigen::RowVector3d& offset)
	{
		const Eigen::Vector3d x = (base.row(v) + offset).transpose();
		const SurfacePoint closest = surface.closestPoint(x, nearTriangle[static_cast<size_t>(v)]);
		nearTriangle[static_cast<size_t>(v)] = closest.triangle;
		return (closest.point - x).transpose();
	}

	// Runs f(i) for i in [0, count) on the hardware threads. The closest-point searches are most
	// of an iteration's time, and each vertex's search reads and writes only its own entries.
	template <typename F>
	void forEachVertex(Eigen::Index count, F&& f)
	{
		const std::size_t chunks = chunkCountFor(static_cast<std::size_t>(count), resolveThreadCount(0));
		runTasks(chunks, 0, [&](std::size_t chunk, int) {
			const ChunkRange range = chunkRange(static_cast<std::size_t>(count), chunks, chunk);
			for (auto i = static_cast<Eigen::Index>(range.begin); i < static_cast<Eigen::Index>(range.end); ++i)
				f(i);
		});
	}

	void iterationDone()
	{
		++done;
		if (options.progress)
			options.progress(static_cast<double>(done) / options.iterations);
	}
};

Eigen::RowVector3d interpolate(const DisplacementLattice::Stencil& s, const Eigen::MatrixX3d& field)
{
	Eigen::RowVector3d u = Eigen::RowVector3d::Zero();
	for (int k = 0; k < 8; ++k)
		u += s.weights[static_cast<size_t>(k)] * field.row(s.nodes[static_cast<size_t>(k)]);
	return u;
}

// Fits a lattice field to the pulls of a spread sample of the vertices; the stiffness acts along
// the lattice's edges. Minimises Σ_sample |u − target|² + stiffness · scale · Σ_edges |U_a − U_b|².
bool fitLattice(Deformation& d, const std::vector<double>& stiffness, double edge)
{
	const DisplacementLattice lattice(d.base, kLatticeEdges * edge);
	const std::vector<int> sample = lattice.spreadSample(d.base);
	std::vector<DisplacementLattice::Stencil> stencils;
	stencils.reserve(sample.size());
	std::vector<Eigen::Triplet<double>> entries;
	entries.reserve(sample.size() * 64);
	for (const int v : sample)
	{
		const auto& s = stencils.emplace_back(lattice.stencil(d.base.row(v).transpose()));
		for (int a = 0; a < 8; ++a)
			for (int b = 0; b < 8; ++b)
				entries.emplace_back(s.nodes[static_cast<size_t>(a)], s.nodes[static_cast<size_t>(b)],
				                     s.weights[static_cast<size_t>(a)] * s.weights[static_cast<size_t>(b)]);
	}
	const Eigen::Index m = lattice.nodeCount();
	SparseMatrix gram(m, m);
	gram.setFromTriplets(entries.begin(), entries.end());
	entries = {};
	// The lattice's edges are longer than the mesh's and its sample sparser than the vertices: the
	// scale keeps the reach of a stiffness what it is on the mesh. The small ridge settles nodes
	// that no sampled vertex weighs.
	const double h = lattice.spacing();
	const double scale = 0.5 * (edge / h) * (edge / h) * static_cast<double>(sample.size()) / static_cast<double>(m);
	const SparseMatrix laplacian = lattice.edgeLaplacian() * scale;
	const SparseMatrix ridge = identity(m) * (1e-9 * gram.diagonal().maxCoeff());

	Eigen::MatrixX3d field = Eigen::MatrixX3d::Zero(m, 3);
	Eigen::MatrixX3d pulls(static_cast<Eigen::Index>(sample.size()), 3);
	SparseMatrix system;
	Solver solver;
	solver.setTolerance(kSolverTolerance);
	solver.setMaxIterations(kSolverSteps);
	for (const double s : stiffness)
	{
		Eigen::MatrixX3d rhs = gram * field;
		d.forEachVertex(static_cast<Eigen::Index>(sample.size()), [&](Eigen::Index k) {
			pulls.row(k) = d.pull(sample[static_cast<size_t>(k)], interpolate(stencils[static_cast<size_t>(k)], field));
		});
		for (size_t k = 0; k < sample.size(); ++k)
			for (int c = 0; c < 8; ++c)
				rhs.row(stencils[k].nodes[static_cast<size_t>(c)]) +=
				    stencils[k].weights[static_cast<size_t>(c)] * pulls.row(static_cast<Eigen::Index>(k));
		system = gram + s * laplacian + ridge;    // the solver keeps a reference to it
		solver.compute(system);
		field = solver.solveWithGuess(rhs, field);
		if (solver.info() == Eigen::NumericalIssue || !field.allFinite())
			return false;
		d.iterationDone();
	}
	for (Eigen::Index v = 0; v < d.base.rows(); ++v)
		d.displacement.row(v) = interpolate(lattice.stencil(d.base.row(v).transpose()), field);
	return true;
}

// Minimises |u − target|² + stiffness · Σ_edges |u_a − u_b|² over every vertex, where the target
// is each vertex's displacement plus its pull.
bool fitVertices(Deformation& d, const std::vector<double>& stiffness, const Faces& faces)
{
	const Eigen::Index n = d.base.rows();
	const SparseMatrix laplacian = edgeLaplacian(static_cast<size_t>(n), faces);
	const SparseMatrix eye = identity(n);
	SparseMatrix system;
	Solver solver;
	solver.setTolerance(kSolverTolerance);
	solver.setMaxIterations(kSolverSteps);
	for (const double s : stiffness)
	{
		Eigen::MatrixX3d target = d.displacement;
		d.forEachVertex(n, [&](Eigen::Index v) { target.row(v) += d.pull(v, d.displacement.row(v)); });
		system = eye + s * laplacian;    // the solver keeps a reference to it
		solver.compute(system);
		d.displacement = solver.solveWithGuess(target, d.displacement);
		if (solver.info() == Eigen::NumericalIssue || !d.displacement.allFinite())
			return false;
		d.iterationDone();
	}
	return true;
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
	Deformation d{*surface, Eigen::MatrixX3d(n, 3), Eigen::MatrixX3d::Zero(n, 3),
	              std::vector<int>(movingVertices.size(), -1), options};
	for (Eigen::Index i = 0; i < n; ++i)
		d.base.row(i) = movingVertices[static_cast<size_t>(i)].transpose();

	const Schedule schedule = planSchedule(options, n);
	const auto split = schedule.stiffness.begin() + schedule.latticeIterations;
	const bool solved = (schedule.latticeIterations == 0 ||
	                     fitLattice(d, {schedule.stiffness.begin(), split}, meanEdgeLength(d.base, movingFaces))) &&
	                    fitVertices(d, {split, schedule.stiffness.end()}, movingFaces);
	if (!solved)
		return {false, "the smoothing system could not be solved", {}};

	result.ok = true;
	result.vertices.resize(movingVertices.size());
	for (Eigen::Index i = 0; i < n; ++i)
		result.vertices[static_cast<size_t>(i)] = (d.base.row(i) + d.displacement.row(i)).transpose();
	return result;
}

}    // namespace Orbitane::Registration
