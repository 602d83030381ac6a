#pragma once

// Checks of a triangle surface: closedness, orientation, manifoldness, enclosed volume, topology.
// A test oracle, built only with the native tests: the suites of the label-map conversion and of
// everything that consumes its meshes check their surfaces with it.

#include "anatomy/labelmap/LabelSurface.h"

#include <cstddef>

namespace Orbitane::LabelMap {
struct MeshTopology
{
	std::size_t vertices = 0;    // vertices used by at least one face
	std::size_t edges = 0;       // distinct undirected edges
	std::size_t faces = 0;
	std::size_t boundaryEdges = 0;          // in one face only
	std::size_t nonManifoldEdges = 0;       // in three faces or more
	std::size_t misorientedEdges = 0;       // in two faces that run along it the same way
	std::size_t nonManifoldVertices = 0;    // whose faces do not form one fan closed around it
	std::size_t degenerateFaces = 0;        // a repeated vertex or (almost) zero area
	std::size_t components = 0;             // edge-connected groups of faces
	long long eulerCharacteristic = 0;      // V - E + F

	// Watertight, consistently oriented, manifold at every edge and vertex, no degenerate face.
	bool isClosedManifold() const
	{
		return faces > 0 && boundaryEdges == 0 && nonManifoldEdges == 0 && misorientedEdges == 0 &&
		       nonManifoldVertices == 0 && degenerateFaces == 0;
	}
};

// Throws std::invalid_argument when a face refers to a vertex that does not exist.
MeshTopology analyzeTopology(const SurfaceMesh& mesh);

// Signed volume enclosed by the surface (divergence theorem); positive when the faces are
// counter-clockwise seen from outside. Meaningful for closed meshes only. Like surfaceArea, it
// throws std::invalid_argument for a face index out of range.
double enclosedVolume(const SurfaceMesh& mesh);

double surfaceArea(const SurfaceMesh& mesh);
}
