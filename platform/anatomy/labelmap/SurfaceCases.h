#pragma once

// Triangulation table of the label surface inside one cell of the dual grid (a cube whose eight
// corners are voxel centres), for each of the 256 inside/outside patterns of its corners. The
// table is derived once from two rules, so that it is consistent by construction rather than typed:
//  - on a cube face whose inside corners lie diagonally (the ambiguous "checkerboard" face) the
//    inside corners stay separate, i.e. a label is 6-connected and the background around it is not;
//    both cells that share the face see the same four corners and so make the same choice;
//  - the surface pieces inside a cell are the loops that those face segments form on the cube's
//    surface, each spanned by a disc. A disc is triangulated without any diagonal between two
//    vertices on a common cube face (the neighbouring cell could use the same diagonal, and that
//    edge would then belong to four triangles); a loop that admits no such triangulation is fanned
//    around an extra vertex at its centre.
// Surface vertices sit at the midpoints of the crossed cell edges or at those centres. The
// triangles are wound counter-clockwise seen from outside the label.

#include <array>
#include <cstdint>

namespace Orbitane::LabelMap {
// Corner c of a cell lies at offset (c & 1, (c >> 1) & 1, (c >> 2) & 1) from the cell's lower corner.
struct CubeEdge
{
	std::uint8_t corner;    // lower end
	std::uint8_t axis;      // 0 = x, 1 = y, 2 = z
};

struct SurfaceCase
{
	static constexpr int maxCentres = 4;
	static constexpr int maxTriangles = 12;
	// Triangle corners < 12 name a cube edge (its midpoint), 12 + k names centre k.
	static constexpr std::uint8_t firstCentreToken = 12;

	std::uint16_t edgeMask = 0;    // bit e set when cube edge e is crossed
	std::uint8_t edgeCount = 0;    // bits set in edgeMask
	std::uint8_t centreCount = 0;
	std::uint8_t triangleCount = 0;
	std::array<std::array<float, 3>, maxCentres> centres{};    // offsets from the cell's lower corner
	std::array<std::array<std::uint8_t, 3>, maxTriangles> triangles{};
};

const std::array<CubeEdge, 12>& cubeEdges();

// Indexed by the corner pattern: bit c set when corner c is inside the label.
const std::array<SurfaceCase, 256>& surfaceCases();
}
