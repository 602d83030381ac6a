#pragma once

#include <Eigen/Core>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Orbitane::Registration {

using Vertices = std::vector<Eigen::Vector3d>;
using Faces = std::vector<Eigen::Vector3i>;

struct SurfacePoint
{
	Eigen::Vector3d point = Eigen::Vector3d::Zero();
	double distance = 0.0;
	int triangle = -1;
};

/// The point of triangle (a, b, c) closest to `p`; degenerate triangles are handled as segments or points.
Eigen::Vector3d closestPointOnTriangle(const Eigen::Vector3d& p, const Eigen::Vector3d& a, const Eigen::Vector3d& b,
                                       const Eigen::Vector3d& c);

/// Closest-point queries on a triangle surface, answered through a bounding-volume hierarchy.
class TriangleSurface
{
public:
	/// Throws std::invalid_argument when there are no faces, a face refers to a missing vertex or a
	/// vertex is not finite.
	TriangleSurface(Vertices vertices, const Faces& faces);
	~TriangleSurface();
	TriangleSurface(TriangleSurface&&) noexcept;
	TriangleSurface& operator=(TriangleSurface&&) noexcept;

	/// The closest surface point to `query`. `nearTriangle`, the triangle found for a point close
	/// by (or -1), only speeds the search up.
	SurfacePoint closestPoint(const Eigen::Vector3d& query, int nearTriangle = -1) const;

private:
	struct Tree;
	std::unique_ptr<Tree> m_tree;
};

/// Mean distance of `points` to the surface.
double meanSurfaceDistance(const Vertices& points, const TriangleSurface& surface);
double meanSurfaceDistance(const Vertices& points, const Vertices& surfaceVertices, const Faces& surfaceFaces);

struct MeshDeformationOptions
{
	/// Closest-point iterations; stiffness falls geometrically from the first value to the last.
	/// Stiffness is in units of the moving mesh's edges: a stiffness s spreads a vertex's pull over
	/// about sqrt(1.5 s) edges.
	int iterations = 40;
	double initialStiffness = 50.0;
	double finalStiffness = 0.1;
	/// Receives the fraction done, from 0 to 1.
	std::function<void(double)> progress;
};

struct MeshDeformationResult
{
	bool ok = false;
	std::string reason;
	Vertices vertices;    // the moving vertices after deformation, in their original order
};

/// Moves the moving mesh's vertices onto the fixed surface by a smooth displacement field
/// (non-rigid closest-point iterations regularised along the moving mesh's edges). The moving
/// faces only supply the neighbourhoods; the topology is not changed.
///
/// The stiff first iterations, whose pull spreads over many edges, fit a coarse lattice field to a
/// spread sample of the vertices; the supple last ones work on every vertex and edge. On large
/// meshes the vertex iterations are capped (the lattice takes over the rest of the schedule), so
/// the cost grows about linearly with the vertex count. `progress` receives one report per
/// iteration.
MeshDeformationResult deformMeshOnto(const Vertices& fixedVertices, const Faces& fixedFaces,
                                     const Vertices& movingVertices, const Faces& movingFaces,
                                     const MeshDeformationOptions& options = {});

}    // namespace Orbitane::Registration
