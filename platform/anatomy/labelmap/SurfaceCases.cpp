#include "anatomy/labelmap/SurfaceCases.h"

#include <Eigen/Core>
#include <Eigen/Geometry>

#include <bit>
#include <limits>
#include <stdexcept>
#include <vector>

namespace Orbitane::LabelMap {
namespace {
Eigen::Vector3d cornerPosition(int c) { return {double(c & 1), double((c >> 1) & 1), double((c >> 2) & 1)}; }

std::array<CubeEdge, 12> makeEdges()
{
	std::array<CubeEdge, 12> edges{};
	int e = 0;
	for (int axis = 0; axis < 3; ++axis)
		for (int c = 0; c < 8; ++c)
			if ((c & (1 << axis)) == 0)
				edges[e++] = {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(axis)};
	return edges;
}

int edgeBetween(int p, int q)
{
	const int lower = p < q ? p : q;
	const int axis = std::countr_zero(static_cast<unsigned>(p ^ q));
	const auto& edges = cubeEdges();
	for (int e = 0; e < 12; ++e)
		if (edges[e].corner == lower && edges[e].axis == axis)
			return e;
	throw std::logic_error("corners do not span a cube edge");
}

Eigen::Vector3d edgeMidpoint(int e)
{
	const CubeEdge& edge = cubeEdges()[e];
	Eigen::Vector3d p = cornerPosition(edge.corner);
	p[edge.axis] += 0.5;
	return p;
}

// Corners of the six faces, counter-clockwise seen from outside the cube.
std::array<std::array<int, 4>, 6> makeFaces()
{
	std::array<std::array<int, 4>, 6> faces{};
	for (int d = 0; d < 3; ++d)
	{
		const int u = (d + 1) % 3;
		const int v = (d + 2) % 3;
		for (int side = 0; side < 2; ++side)
		{
			const int uv[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
			std::array<int, 4>& face = faces[2 * d + side];
			for (int k = 0; k < 4; ++k)
			{
				const int slot = side == 1 ? k : 3 - k;    // e_u x e_v = e_d, so the lower face runs backwards
				face[slot] = (side << d) | (uv[k][0] << u) | (uv[k][1] << v);
			}
		}
	}
	return faces;
}

const std::array<std::array<int, 4>, 6>& cubeFaces()
{
	static const auto faces = makeFaces();
	return faces;
}

bool shareFace(int e1, int e2)
{
	for (const auto& face : cubeFaces())
	{
		int hits = 0;
		for (int k = 0; k < 4; ++k)
		{
			const int e = edgeBetween(face[k], face[(k + 1) % 4]);
			hits += (e == e1) + (e == e2);
		}
		if (hits == 2)
			return true;
	}
	return false;
}

// Directed face segments chain into loops: each crossed edge is left by exactly one segment,
// next[e] is the edge that segment arrives at.
std::vector<std::vector<int>> traceLoops(int pattern)
{
	auto inside = [pattern](int c) { return (pattern >> c & 1) != 0; };
	std::array<int, 12> next;
	next.fill(-1);
	for (const auto& face : cubeFaces())
	{
		for (int k = 0; k < 4; ++k)
		{
			const int from = face[k];
			const int to = face[(k + 1) % 4];
			if (!(inside(from) && !inside(to)))
				continue;    // not an exit
			// Pair the exit with the nearest entry before it: this keeps diagonal inside corners apart.
			for (int back = 1; back < 4; ++back)
			{
				const int a = face[(k - back + 4) % 4];
				const int b = face[(k - back + 5) % 4];
				if (!inside(a) && inside(b))
				{
					next[edgeBetween(a, b)] = edgeBetween(from, to);
					break;
				}
			}
		}
	}
	std::vector<std::vector<int>> loops;
	std::array<bool, 12> seen{};
	for (int e = 0; e < 12; ++e)
	{
		if (next[e] < 0 || seen[e])
			continue;
		std::vector<int> loop;
		for (int cur = e; !seen[cur]; cur = next[cur])
		{
			seen[cur] = true;
			loop.push_back(cur);
		}
		loops.push_back(std::move(loop));
	}
	return loops;
}

double triangleArea(const Eigen::Vector3d& a, const Eigen::Vector3d& b, const Eigen::Vector3d& c)
{
	return 0.5 * (b - a).cross(c - a).norm();
}

// Minimal-area triangulation of the loop that avoids diagonals between vertices on a common
// cube face; empty when there is none.
std::vector<std::array<int, 3>> triangulateLoop(const std::vector<int>& loop)
{
	const int k = static_cast<int>(loop.size());
	auto allowed = [&](int i, int j) { return j - i == 1 || (i == 0 && j == k - 1) || !shareFace(loop[i], loop[j]); };
	constexpr double none = std::numeric_limits<double>::infinity();
	std::vector<std::vector<double>> cost(k, std::vector<double>(k, none));
	std::vector<std::vector<int>> split(k, std::vector<int>(k, -1));
	for (int i = 0; i + 1 < k; ++i)
		cost[i][i + 1] = 0.0;
	for (int len = 2; len < k; ++len)
		for (int i = 0; i + len < k; ++i)
		{
			const int j = i + len;
			for (int m = i + 1; m < j; ++m)
			{
				if (!allowed(i, m) || !allowed(m, j))
					continue;
				const double c = cost[i][m] + cost[m][j] +
				                 triangleArea(edgeMidpoint(loop[i]), edgeMidpoint(loop[m]), edgeMidpoint(loop[j]));
				if (c < cost[i][j])
				{
					cost[i][j] = c;
					split[i][j] = m;
				}
			}
		}
	std::vector<std::array<int, 3>> triangles;
	if (cost[0][k - 1] == none)
		return triangles;
	std::vector<std::pair<int, int>> pending{{0, k - 1}};
	while (!pending.empty())
	{
		const auto [i, j] = pending.back();
		pending.pop_back();
		if (j - i < 2)
			continue;
		const int m = split[i][j];
		triangles.push_back({loop[i], loop[m], loop[j]});
		pending.push_back({i, m});
		pending.push_back({m, j});
	}
	return triangles;
}

void addTriangle(SurfaceCase& sc, int a, int b, int c)
{
	if (sc.triangleCount >= SurfaceCase::maxTriangles)
		throw std::logic_error("surface case exceeds its triangle capacity");
	sc.triangles[sc.triangleCount++] = {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b),
	                                    static_cast<std::uint8_t>(c)};
}

void addCentreFan(SurfaceCase& sc, const std::vector<int>& loop)
{
	if (sc.centreCount >= SurfaceCase::maxCentres)
		throw std::logic_error("surface case exceeds its centre capacity");
	Eigen::Vector3d centre = Eigen::Vector3d::Zero();
	for (int e : loop)
		centre += edgeMidpoint(e);
	centre /= static_cast<double>(loop.size());
	const int token = SurfaceCase::firstCentreToken + sc.centreCount;
	sc.centres[sc.centreCount++] = {float(centre.x()), float(centre.y()), float(centre.z())};
	for (std::size_t i = 0; i < loop.size(); ++i)
		addTriangle(sc, token, loop[i], loop[(i + 1) % loop.size()]);
}

SurfaceCase buildCase(int pattern)
{
	SurfaceCase sc;
	const auto& edges = cubeEdges();
	for (int e = 0; e < 12; ++e)
	{
		const int lower = edges[e].corner;
		const int upper = lower | (1 << edges[e].axis);
		if (((pattern >> lower) ^ (pattern >> upper)) & 1)
		{
			sc.edgeMask |= static_cast<std::uint16_t>(1u << e);
			++sc.edgeCount;
		}
	}
	for (const std::vector<int>& loop : traceLoops(pattern))
	{
		const auto triangles = triangulateLoop(loop);
		if (triangles.empty())
			addCentreFan(sc, loop);
		else
			for (const auto& t : triangles)
				addTriangle(sc, t[0], t[1], t[2]);
	}
	return sc;
}

Eigen::Vector3d tokenPosition(const SurfaceCase& sc, int token)
{
	if (token < SurfaceCase::firstCentreToken)
		return edgeMidpoint(token);
	const auto& c = sc.centres[token - SurfaceCase::firstCentreToken];
	return {c[0], c[1], c[2]};
}

// The loop direction follows from the face rule; which way round that is relative to the
// label is read off the single-corner pattern (outward = away from corner 0).
bool loopsRunOutward(const SurfaceCase& single)
{
	const auto& t = single.triangles[0];
	const Eigen::Vector3d a = tokenPosition(single, t[0]);
	const Eigen::Vector3d normal = (tokenPosition(single, t[1]) - a).cross(tokenPosition(single, t[2]) - a);
	return normal.dot(Eigen::Vector3d(1, 1, 1)) > 0;
}

std::array<SurfaceCase, 256> makeCases()
{
	std::array<SurfaceCase, 256> cases{};
	for (int pattern = 0; pattern < 256; ++pattern)
		cases[pattern] = buildCase(pattern);
	if (!loopsRunOutward(cases[1]))
		for (SurfaceCase& sc : cases)
			for (int t = 0; t < sc.triangleCount; ++t)
				std::swap(sc.triangles[t][1], sc.triangles[t][2]);
	return cases;
}
}

const std::array<CubeEdge, 12>& cubeEdges()
{
	static const auto edges = makeEdges();
	return edges;
}

const std::array<SurfaceCase, 256>& surfaceCases()
{
	static const auto cases = makeCases();
	return cases;
}
}
