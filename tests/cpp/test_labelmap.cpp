#include "anatomy/labelmap/LabelMask.h"
#include "anatomy/labelmap/LabelStatistics.h"
#include "anatomy/labelmap/LabelSurface.h"
#include "anatomy/labelmap/SurfaceCases.h"
#include "MeshQuality.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <random>
#include <stdexcept>
#include <vector>

using namespace Orbitane::LabelMap;

namespace {
template <typename T = std::uint8_t>
struct Volume
{
	int nx, ny, nz;
	std::vector<T> data;

	Volume(int x, int y, int z) : nx(x), ny(y), nz(z), data(static_cast<std::size_t>(x) * y * z, T{0}) {}
	T& at(int x, int y, int z) { return data[(static_cast<std::size_t>(z) * ny + y) * nx + x]; }
	T get(int x, int y, int z) const
	{
		if (x < 0 || y < 0 || z < 0 || x >= nx || y >= ny || z >= nz)
			return T{0};
		return data[(static_cast<std::size_t>(z) * ny + y) * nx + x];
	}
	LabelVolumeView<T> view() const { return {data.data(), nx, ny, nz}; }
	void fillBox(Eigen::Vector3i lo, Eigen::Vector3i hi, T label)
	{
		for (int z = lo.z(); z <= hi.z(); ++z)
			for (int y = lo.y(); y <= hi.y(); ++y)
				for (int x = lo.x(); x <= hi.x(); ++x)
					at(x, y, z) = label;
	}
};

Volume<> sphere(double radius, std::int64_t& voxels)
{
	const int n = static_cast<int>(2 * radius) + 5;
	Volume<> v(n, n, n);
	const double c = (n - 1) / 2.0;
	voxels = 0;
	for (int z = 0; z < n; ++z)
		for (int y = 0; y < n; ++y)
			for (int x = 0; x < n; ++x)
				if ((Eigen::Vector3d(x, y, z) - Eigen::Vector3d::Constant(c)).norm() <= radius)
				{
					v.at(x, y, z) = 1;
					++voxels;
				}
	return v;
}

template <typename T>
Volume<T> randomVolume(int nx, int ny, int nz, std::vector<T> values, unsigned seed)
{
	Volume<T> v(nx, ny, nz);
	std::mt19937 rng(seed);
	std::uniform_int_distribution<std::size_t> pick(0, values.size() - 1);
	for (T& voxel : v.data)
		voxel = values[pick(rng)];
	return v;
}

// Volume enclosed by the marching-cubes surface of a solid box of a x b x c voxels: the box of
// voxel centres grown by the octahedron |p|_1 <= 1/2 (Steiner formula for a box).
double boxSurfaceVolume(int a, int b, int c)
{
	const double x = a - 1, y = b - 1, z = c - 1, r = 0.5;
	return x * y * z + 2 * r * (x * y + y * z + x * z) + 2 * r * r * (x + y + z) + 4.0 / 3.0 * r * r * r;
}

void expectClosed(const SurfaceMesh& mesh, long long euler, std::size_t components)
{
	const MeshTopology t = analyzeTopology(mesh);
	EXPECT_TRUE(t.isClosedManifold()) << "boundary " << t.boundaryEdges << " non-manifold " << t.nonManifoldEdges
	                                  << " misoriented " << t.misorientedEdges << " bad vertices "
	                                  << t.nonManifoldVertices << " degenerate " << t.degenerateFaces;
	EXPECT_EQ(t.eulerCharacteristic, euler);
	EXPECT_EQ(t.components, components);
	EXPECT_GT(enclosedVolume(mesh), 0.0);
}

// Every vertex lies halfway between a voxel of the label and a voxel that is not.
template <typename T>
void expectVerticesOnLabelBoundary(const Volume<T>& v, const SurfaceMesh& mesh, T label)
{
	for (const Eigen::Vector3d& p : mesh.vertices)
	{
		int halfAxis = -1, halves = 0;
		for (int a = 0; a < 3; ++a)
			if (p[a] != std::floor(p[a]))
			{
				halfAxis = a;
				++halves;
			}
		ASSERT_EQ(halves, 1) << p.transpose();
		Eigen::Vector3i lo(static_cast<int>(std::floor(p.x())), static_cast<int>(std::floor(p.y())),
		                   static_cast<int>(std::floor(p.z())));
		Eigen::Vector3i hi = lo;
		hi[halfAxis] += 1;
		EXPECT_NE(v.get(lo.x(), lo.y(), lo.z()) == label, v.get(hi.x(), hi.y(), hi.z()) == label) << p.transpose();
	}
}

void expectSameMesh(const SurfaceMesh& a, const SurfaceMesh& b)
{
	ASSERT_EQ(a.vertices.size(), b.vertices.size());
	ASSERT_EQ(a.faces.size(), b.faces.size());
	for (std::size_t i = 0; i < a.vertices.size(); ++i)
		ASSERT_EQ(a.vertices[i], b.vertices[i]);
	for (std::size_t i = 0; i < a.faces.size(); ++i)
		ASSERT_EQ(a.faces[i], b.faces[i]);
}
}

TEST(LabelSurface, SphereIsClosedOutwardAndKeepsItsVolume)
{
	std::int64_t voxels = 0;
	const Volume<> v = sphere(10.0, voxels);
	const auto meshes = extractLabelSurfaces(v.view());
	ASSERT_EQ(meshes.size(), 1u);
	const SurfaceMesh& mesh = meshes.at(1);
	expectClosed(mesh, 2, 1);
	EXPECT_NEAR(enclosedVolume(mesh) / static_cast<double>(voxels), 1.0, 0.03);
	expectVerticesOnLabelBoundary(v, mesh, std::uint8_t{1});

	// Outward: every face normal points away from the centre.
	const Eigen::Vector3d centre = Eigen::Vector3d::Constant((v.nx - 1) / 2.0);
	for (const Eigen::Vector3i& f : mesh.faces)
	{
		const Eigen::Vector3d& a = mesh.vertices[f[0]];
		const Eigen::Vector3d normal = (mesh.vertices[f[1]] - a).cross(mesh.vertices[f[2]] - a);
		ASSERT_GT(normal.dot((a + mesh.vertices[f[1]] + mesh.vertices[f[2]]) / 3 - centre), 0.0);
	}
}

TEST(LabelSurface, BoxesLinesAndSingleVoxelsHaveTheirExactVolume)
{
	for (const Eigen::Vector3i size : {Eigen::Vector3i(6, 5, 4), Eigen::Vector3i(1, 1, 1), Eigen::Vector3i(9, 1, 1),
	                                   Eigen::Vector3i(1, 7, 1), Eigen::Vector3i(1, 1, 5), Eigen::Vector3i(3, 1, 4)})
	{
		Volume<> v(size.x() + 4, size.y() + 4, size.z() + 4);
		v.fillBox(Eigen::Vector3i::Constant(2), Eigen::Vector3i::Constant(1) + size, 7);
		const auto meshes = extractLabelSurfaces(v.view());
		ASSERT_EQ(meshes.count(7), 1u);
		SCOPED_TRACE(size.transpose());
		expectClosed(meshes.at(7), 2, 1);
		EXPECT_NEAR(enclosedVolume(meshes.at(7)), boxSurfaceVolume(size.x(), size.y(), size.z()), 1e-9);
		expectVerticesOnLabelBoundary(v, meshes.at(7), std::uint8_t{7});
	}
}

TEST(LabelSurface, TouchingLabelsAndBorderLabelsCloseSeparately)
{
	// Three labels tile the whole volume, so every one of them touches the border and another label.
	Volume<> v(7, 6, 5);
	v.fillBox({0, 0, 0}, {2, 5, 4}, 1);
	v.fillBox({3, 0, 0}, {6, 2, 4}, 2);
	v.fillBox({3, 3, 0}, {6, 5, 4}, 3);
	const auto meshes = extractLabelSurfaces(v.view());
	ASSERT_EQ(meshes.size(), 3u);
	const std::map<std::int64_t, Eigen::Vector3i> sizes{{1, {3, 6, 5}}, {2, {4, 3, 5}}, {3, {4, 3, 5}}};
	for (const auto& [label, size] : sizes)
	{
		SCOPED_TRACE(label);
		expectClosed(meshes.at(label), 2, 1);
		EXPECT_NEAR(enclosedVolume(meshes.at(label)), boxSurfaceVolume(size.x(), size.y(), size.z()), 1e-9);
		for (const Eigen::Vector3d& p : meshes.at(label).vertices)
			EXPECT_TRUE((p.array() >= -0.5).all() && (p.array() <= Eigen::Array3d(6.5, 5.5, 4.5)).all());
	}
}

namespace {
using Triangle = std::array<Eigen::Vector3d, 3>;

// Lexicographic order of points, so that triangles compare whatever vertex they start from.
bool pointBefore(const Eigen::Vector3d& a, const Eigen::Vector3d& b)
{
	return std::lexicographical_compare(a.data(), a.data() + 3, b.data(), b.data() + 3);
}

// The triangles of `mesh` that lie in the plane x = `x`, each turned to start at its smallest corner.
std::vector<Triangle> trianglesInPlane(const SurfaceMesh& mesh, double x, bool reversed)
{
	std::vector<Triangle> result;
	for (const Eigen::Vector3i& f : mesh.faces)
	{
		Triangle t{mesh.vertices[f[0]], mesh.vertices[f[1]], mesh.vertices[f[2]]};
		if (t[0].x() != x || t[1].x() != x || t[2].x() != x)
			continue;
		if (reversed)
			std::swap(t[1], t[2]);
		const auto first = std::min_element(t.begin(), t.end(), pointBefore);
		std::rotate(t.begin(), first, t.end());
		result.push_back(t);
	}
	std::sort(result.begin(), result.end(), [](const Triangle& a, const Triangle& b) {
		return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), pointBefore);
	});
	return result;
}

std::vector<Eigen::Vector3d> verticesInPlane(const SurfaceMesh& mesh, double x)
{
	std::vector<Eigen::Vector3d> result;
	for (const Eigen::Vector3d& p : mesh.vertices)
		if (p.x() == x)
			result.push_back(p);
	std::sort(result.begin(), result.end(), pointBefore);
	return result;
}
}

TEST(LabelSurface, APlaneSplittingABoxIsOneInterfaceSeenFromBothSides)
{
	// The box once with background around it and once filling the whole volume, so that each
	// label fills its own bounding box and, in the second case, reaches the volume's edge.
	for (const int margin : {2, 0})
	{
		SCOPED_TRACE(testing::Message() << "margin " << margin);
		const Eigen::Vector3i size(8, 5, 6);
		Volume<> v(size.x() + 2 * margin, size.y() + 2 * margin, size.z() + 2 * margin);
		const Eigen::Vector3i lo = Eigen::Vector3i::Constant(margin), hi = lo + size - Eigen::Vector3i::Ones();
		const int split = lo.x() + 2;    // label 1 takes three columns, label 2 the other five
		v.fillBox(lo, {split, hi.y(), hi.z()}, 1);
		v.fillBox({split + 1, lo.y(), lo.z()}, hi, 2);
		const auto meshes = extractLabelSurfaces(v.view());
		ASSERT_EQ(meshes.size(), 2u);
		const SurfaceMesh &left = meshes.at(1), &right = meshes.at(2);
		expectClosed(left, 2, 1);
		expectClosed(right, 2, 1);
		EXPECT_NEAR(enclosedVolume(left), boxSurfaceVolume(3, size.y(), size.z()), 1e-9);
		EXPECT_NEAR(enclosedVolume(right), boxSurfaceVolume(5, size.y(), size.z()), 1e-9);

		const double plane = split + 0.5;
		const auto shared = verticesInPlane(left, plane);
		EXPECT_EQ(shared.size(), static_cast<std::size_t>(size.y() * size.z()));
		EXPECT_EQ(shared, verticesInPlane(right, plane));
		// The same triangles, each facing away from its own label.
		const auto fromLeft = trianglesInPlane(left, plane, false);
		ASSERT_FALSE(fromLeft.empty());
		EXPECT_EQ(fromLeft, trianglesInPlane(right, plane, true));
		for (const Triangle& t : fromLeft)
			EXPECT_GT((t[1] - t[0]).cross(t[2] - t[0]).x(), 0.0);
	}
}

TEST(LabelSurface, LabelsFillingTheirWideBoxesCloseWithAndAroundEachOther)
{
	// Label 2 fills its box, 72 voxels wide, and label 1 fills the rest of the volume around it:
	// long rows lie wholly inside label 2, and wholly in the hole of label 1.
	Volume<> v(80, 7, 6);
	v.fillBox({0, 0, 0}, {79, 6, 5}, 1);
	v.fillBox({4, 2, 2}, {75, 4, 3}, 2);
	const auto meshes = extractLabelSurfaces(v.view());
	ASSERT_EQ(meshes.size(), 2u);
	expectClosed(meshes.at(2), 2, 1);
	expectClosed(meshes.at(1), 4, 2);    // the outside and the hole
	const double inner = boxSurfaceVolume(72, 3, 2);
	EXPECT_NEAR(enclosedVolume(meshes.at(2)), inner, 1e-9);
	EXPECT_NEAR(enclosedVolume(meshes.at(1)), boxSurfaceVolume(80, 7, 6) - inner, 1e-9);
	expectVerticesOnLabelBoundary(v, meshes.at(1), std::uint8_t{1});
	expectVerticesOnLabelBoundary(v, meshes.at(2), std::uint8_t{2});
}

TEST(LabelSurface, MeshSizesOfKnownVolumesStayTheSame)
{
	// Vertex and face counts of surfaces that are known to be right: a change of method that
	// alters any of them alters the meshes users get.
	std::int64_t voxels = 0;
	const Volume<> small = sphere(10.0, voxels), large = sphere(20.0, voxels);
	Volume<> tiles(7, 6, 5);
	tiles.fillBox({0, 0, 0}, {2, 5, 4}, 1);
	tiles.fillBox({3, 0, 0}, {6, 2, 4}, 2);
	tiles.fillBox({3, 3, 0}, {6, 5, 4}, 3);
	const auto random = randomVolume<std::uint8_t>(40, 37, 9, {0, 0, 1, 2, 3}, 5);
	struct Case
	{
		const char* name;
		const Volume<>* volume;
		std::int64_t label;
		std::size_t vertices, faces;
	};
	for (const Case& c : {Case{"sphere 10", &small, 1, 1902, 3800}, Case{"sphere 20", &large, 1, 7542, 15080},
	                      Case{"tile 1", &tiles, 1, 126, 248}, Case{"tile 3", &tiles, 3, 94, 184},
	                      Case{"random 1", &random, 1, 13062, 21140}, Case{"random 3", &random, 3, 12932, 20880}})
	{
		SCOPED_TRACE(c.name);
		const SurfaceMesh mesh = extractLabelSurfaces(c.volume->view()).at(c.label);
		EXPECT_EQ(mesh.vertices.size(), c.vertices);
		EXPECT_EQ(mesh.faces.size(), c.faces);
		EXPECT_TRUE(analyzeTopology(mesh).isClosedManifold());
	}
}

TEST(LabelSurface, DiagonalContactsGiveSeparateClosedPieces)
{
	// Voxels that share only an edge or a corner belong to the same label but to separate pieces.
	Volume<> edge(4, 4, 3);
	edge.at(1, 1, 1) = 1;
	edge.at(2, 2, 1) = 1;
	Volume<> corner(4, 4, 4);
	corner.at(1, 1, 1) = 1;
	corner.at(2, 2, 2) = 1;
	for (const Volume<>* v : {&edge, &corner})
	{
		const SurfaceMesh mesh = extractLabelSurfaces(v->view()).at(1);
		expectClosed(mesh, 4, 2);
		EXPECT_NEAR(enclosedVolume(mesh), 2.0 / 6.0, 1e-12);
	}

	// A 3-D checkerboard of label voxels: every voxel is its own octahedron.
	Volume<> board(4, 4, 4);
	for (int z = 0; z < 4; ++z)
		for (int y = 0; y < 4; ++y)
			for (int x = 0; x < 4; ++x)
				board.at(x, y, z) = (x + y + z) % 2 == 0 ? 1 : 0;
	const SurfaceMesh pieces = extractLabelSurfaces(board.view()).at(1);
	expectClosed(pieces, 64, 32);
	EXPECT_NEAR(enclosedVolume(pieces), 32.0 / 6.0, 1e-9);

	// The inverse: a block pierced by a checkerboard of holes that touch each other diagonally.
	Volume<> pierced(8, 8, 8);
	pierced.fillBox({1, 1, 1}, {6, 6, 6}, 1);
	for (int z = 2; z < 6; ++z)
		for (int y = 2; y < 6; ++y)
			for (int x = 2; x < 6; ++x)
				if ((x + y + z) % 2 == 0)
					pierced.at(x, y, z) = 0;
	const MeshTopology t = analyzeTopology(extractLabelSurfaces(pierced.view()).at(1));
	EXPECT_TRUE(t.isClosedManifold());
}

TEST(LabelSurface, ScatteredVoxelsFarApartStayClosed)
{
	// A label whose extent is far larger than its surface (vertex sharing then works without a
	// table over the label's extent): isolated voxels over a large 2-D image and a 3-D volume.
	Volume<> image(700, 650, 1);
	Volume<> volume(300, 260, 9);
	std::mt19937 rng(5);
	std::bernoulli_distribution keep(0.02);
	std::size_t inImage = 0, inVolume = 0;
	for (int y = 0; y < 650; y += 2)
		for (int x = 0; x < 700; x += 2)
			if (keep(rng))
			{
				image.at(x, y, 0) = 3;
				++inImage;
			}
	for (int z = 0; z < 9; z += 2)
		for (int y = 0; y < 260; y += 2)
			for (int x = 0; x < 300; x += 2)
				if (keep(rng))
				{
					volume.at(x, y, z) = 3;
					++inVolume;
				}
	image.at(0, 0, 0) = image.at(698, 648, 0) = 3;    // span the whole plane
	inImage += 2;
	for (auto [v, count] : {std::pair{&image, &inImage}, std::pair{&volume, &inVolume}})
	{
		const SurfaceMesh mesh = extractLabelSurfaces(v->view()).at(3);
		expectClosed(mesh, 2 * static_cast<long long>(*count), *count);
		EXPECT_NEAR(enclosedVolume(mesh), static_cast<double>(*count) / 6.0, 1e-6);
		expectVerticesOnLabelBoundary(*v, mesh, std::uint8_t{3});
	}
}

TEST(LabelSurface, EveryCornerPatternOfOneCellCloses)
{
	for (int pattern = 1; pattern < 256; ++pattern)
	{
		Volume<> v(4, 4, 4);
		for (int c = 0; c < 8; ++c)
			if (pattern >> c & 1)
				v.at(1 + (c & 1), 1 + (c >> 1 & 1), 1 + (c >> 2 & 1)) = 1;
		const SurfaceMesh mesh = extractLabelSurfaces(v.view()).at(1);
		const MeshTopology t = analyzeTopology(mesh);
		ASSERT_TRUE(t.isClosedManifold()) << "pattern " << pattern;
		ASSERT_GT(enclosedVolume(mesh), 0.0) << "pattern " << pattern;
		// Without tunnels every piece is a sphere.
		ASSERT_EQ(t.eulerCharacteristic, 2 * static_cast<long long>(t.components)) << "pattern " << pattern;
	}
}

TEST(LabelSurface, EveryPatternOfTwoNeighbouringCellsCloses)
{
	// Two cells sharing a face, along each axis: the shared face is where the two cells' choices
	// must agree, so this covers every way in which they could disagree.
	for (int axis = 0; axis < 3; ++axis)
	{
		Eigen::Vector3i size = Eigen::Vector3i::Constant(2);
		size[axis] = 3;
		for (int pattern = 1; pattern < 4096; ++pattern)
		{
			Volume<> v(size.x() + 2, size.y() + 2, size.z() + 2);
			int bit = 0;
			for (int z = 0; z < size.z(); ++z)
				for (int y = 0; y < size.y(); ++y)
					for (int x = 0; x < size.x(); ++x)
						v.at(x + 1, y + 1, z + 1) = (pattern >> bit++ & 1) ? 1 : 0;
			const MeshTopology t = analyzeTopology(extractLabelSurfaces(v.view(), 1).at(1));
			ASSERT_TRUE(t.isClosedManifold()) << "axis " << axis << " pattern " << pattern;
		}
	}
}

TEST(LabelSurface, RandomMultiLabelVolumesGiveClosedManifolds)
{
	for (unsigned seed = 1; seed <= 12; ++seed)
	{
		const auto v = randomVolume<std::int16_t>(9 + seed % 4, 8, 1 + seed % 6, {0, 0, 1, 2, -3, 300}, seed);
		const auto meshes = extractLabelSurfaces(v.view(), 3);
		for (const auto& [label, mesh] : meshes)
		{
			SCOPED_TRACE(testing::Message() << "seed " << seed << " label " << label);
			const MeshTopology t = analyzeTopology(mesh);
			EXPECT_TRUE(t.isClosedManifold());
			EXPECT_GT(enclosedVolume(mesh), 0.0);
			expectVerticesOnLabelBoundary(v, mesh, static_cast<std::int16_t>(label));
		}
	}
}

TEST(LabelSurface, TwoDimensionalImagesBecomeOneVoxelSlabs)
{
	Volume<> rect(8, 7, 1);
	rect.fillBox({1, 1, 0}, {5, 4, 0}, 2);
	const SurfaceMesh slab = extractLabelSurfaces(rect.view()).at(2);
	expectClosed(slab, 2, 1);
	EXPECT_NEAR(enclosedVolume(slab), boxSurfaceVolume(5, 4, 1), 1e-9);

	Volume<> disc(24, 24, 1);
	for (int y = 0; y < 24; ++y)
		for (int x = 0; x < 24; ++x)
			if (std::hypot(x - 11.5, y - 11.5) <= 9.0)
				disc.at(x, y, 0) = 1;
	const SurfaceMesh round = extractLabelSurfaces(disc.view()).at(1);
	expectClosed(round, 2, 1);
	for (const Eigen::Vector3d& p : round.vertices)
		EXPECT_LE(std::abs(p.z()), 0.5);
}

TEST(LabelSurface, AllVoxelTypesGiveTheSameMeshes)
{
	const auto reference = randomVolume<std::uint8_t>(10, 9, 7, {0, 0, 0, 1, 2, 3}, 42);
	const auto expected = extractLabelSurfaces(reference.view());
	ASSERT_EQ(expected.size(), 3u);

	// Each type maps labels 1, 2, 3 to values that use its range, including negative ones.
	auto check = [&]<typename T>(std::vector<T> values) {
		Volume<T> v(reference.nx, reference.ny, reference.nz);
		for (std::size_t i = 0; i < v.data.size(); ++i)
			v.data[i] = reference.data[i] == 0 ? T{0} : values[reference.data[i] - 1];
		SCOPED_TRACE(sizeof(T));
		const auto typed = extractLabelSurfaces(v.view(), 2);
		ASSERT_EQ(typed.size(), 3u);
		for (std::size_t k = 0; k < 3; ++k)
			expectSameMesh(typed.at(static_cast<std::int64_t>(values[k])),
			               expected.at(static_cast<std::int64_t>(k + 1)));
	};
	check(std::vector<std::uint8_t>{255, 1, 128});
	check(std::vector<std::int8_t>{-128, 127, -1});
	check(std::vector<std::uint16_t>{65535, 3, 4096});
	check(std::vector<std::int16_t>{-32768, 32767, 256});
	check(std::vector<std::uint32_t>{4294967295u, 65536, 1u << 31});
	check(std::vector<std::int32_t>{-2147483647 - 1, 2147483647, 1 << 20});

	// Through the run-time type.
	const LabelVolumeRef ref{VoxelType::UInt8, reference.data.data(), reference.nx, reference.ny, reference.nz};
	const auto viaRef = extractLabelSurfaces(ref, std::vector<std::int64_t>{2, 99});
	ASSERT_EQ(viaRef.size(), 1u);
	expectSameMesh(viaRef.at(2), expected.at(2));
}

TEST(LabelSurface, ResultDoesNotDependOnThreadCount)
{
	auto v = randomVolume<std::uint16_t>(40, 33, 29, {0, 0, 0, 0, 0, 0, 5, 6, 7, 1000}, 7);
	const auto single = extractLabelSurfaces(v.view(), 1);
	for (int threads : {2, 3, 8, 0})
	{
		const auto multi = extractLabelSurfaces(v.view(), threads);
		ASSERT_EQ(multi.size(), single.size());
		for (const auto& [label, mesh] : single)
			expectSameMesh(multi.at(label), mesh);
	}
}

TEST(LabelSurface, EmptyVolumesAndBadInput)
{
	Volume<> empty(5, 4, 3);
	EXPECT_TRUE(extractLabelSurfaces(empty.view()).empty());
	EXPECT_THROW(extractLabelSurfaces(LabelVolumeView<std::uint8_t>{nullptr, 2, 2, 2}), std::invalid_argument);
	EXPECT_THROW(extractLabelSurfaces(LabelVolumeView<std::uint8_t>{empty.data.data(), 0, 4, 3}),
	             std::invalid_argument);
	EXPECT_THROW(computeLabelStatistics(LabelVolumeView<std::int32_t>{nullptr, 2, 2, 2}), std::invalid_argument);
	const LabelVolumeRef unknown{static_cast<VoxelType>(17), empty.data.data(), 5, 4, 3};
	EXPECT_THROW(computeLabelStatistics(unknown), std::invalid_argument);
}

TEST(LabelStatistics, MatchesBruteForceForAnyThreadCount)
{
	const std::vector<std::int32_t> values{0, 0, 0, 0, 1, 2, -7, 1000000000, -2147483647 - 1};
	const auto v = randomVolume<std::int32_t>(37, 23, 11, values, 3);

	struct Sums
	{
		std::int64_t n = 0, sx = 0, sy = 0, sz = 0;
		Eigen::Vector3i lo = Eigen::Vector3i::Constant(1 << 30), hi = Eigen::Vector3i::Constant(-1);
	};
	std::map<std::int64_t, Sums> brute;
	for (int z = 0; z < v.nz; ++z)
		for (int y = 0; y < v.ny; ++y)
			for (int x = 0; x < v.nx; ++x)
				if (const std::int32_t l = v.get(x, y, z); l != 0)
				{
					Sums& s = brute[l];
					++s.n;
					s.sx += x;
					s.sy += y;
					s.sz += z;
					s.lo = s.lo.cwiseMin(Eigen::Vector3i(x, y, z));
					s.hi = s.hi.cwiseMax(Eigen::Vector3i(x, y, z));
				}

	for (int threads : {1, 2, 5, 0})
	{
		const auto stats = computeLabelStatistics(v.view(), threads);
		ASSERT_EQ(stats.size(), brute.size());
		auto expected = brute.begin();
		for (const LabelStatistics& s : stats)
		{
			SCOPED_TRACE(s.label);
			const Sums& b = expected->second;
			EXPECT_EQ(s.label, expected->first);
			EXPECT_EQ(s.voxelCount, b.n);
			EXPECT_EQ(s.centroid, Eigen::Vector3d(double(b.sx) / double(b.n), double(b.sy) / double(b.n),
			                                      double(b.sz) / double(b.n)));
			EXPECT_EQ(s.boxMin, b.lo);
			EXPECT_EQ(s.boxMax, b.hi);
			++expected;
		}
	}
}

TEST(LabelStatistics, RunsAlongRowsAndTypesAgree)
{
	// Long runs, runs that end at the row end, and a single-voxel label.
	Volume<std::uint16_t> v(70, 3, 2);
	v.fillBox({0, 0, 0}, {69, 0, 0}, 4);
	v.fillBox({5, 1, 1}, {68, 2, 1}, 9);
	v.at(69, 2, 1) = 65535;
	const auto stats = computeLabelStatistics(v.view(), 2);
	ASSERT_EQ(stats.size(), 3u);
	EXPECT_EQ(stats[0].label, 4);
	EXPECT_EQ(stats[0].voxelCount, 70);
	EXPECT_EQ(stats[0].centroid, Eigen::Vector3d(34.5, 0, 0));
	EXPECT_EQ(stats[1].label, 9);
	EXPECT_EQ(stats[1].voxelCount, 128);
	EXPECT_EQ(stats[1].boxMin, Eigen::Vector3i(5, 1, 1));
	EXPECT_EQ(stats[1].boxMax, Eigen::Vector3i(68, 2, 1));
	EXPECT_EQ(stats[2].label, 65535);
	EXPECT_EQ(stats[2].centroid, Eigen::Vector3d(69, 2, 1));

	Volume<std::int8_t> signedVolume(3, 1, 1);
	signedVolume.data = {-1, 0, 127};
	const auto fromRef = computeLabelStatistics(LabelVolumeRef{VoxelType::Int8, signedVolume.data.data(), 3, 1, 1});
	ASSERT_EQ(fromRef.size(), 2u);
	EXPECT_EQ(fromRef[0].label, -1);
	EXPECT_EQ(fromRef[1].label, 127);
	EXPECT_EQ(fromRef[1].boxMin, Eigen::Vector3i(2, 0, 0));
}

TEST(LabelMask, CropHasAZeroRimEvenAtTheBorder)
{
	const auto v = randomVolume<std::int16_t>(9, 8, 6, {0, 3, 3, -2}, 11);
	const LabelVolumeRef ref{VoxelType::Int16, v.data.data(), v.nx, v.ny, v.nz};
	for (const LabelStatistics& s : computeLabelStatistics(v.view()))
	{
		const MaskRegion region = maskRegion(s.boxMin, s.boxMax);
		EXPECT_EQ(region.offset, (s.boxMin - Eigen::Vector3i::Ones()).eval());
		EXPECT_EQ(region.dims, (s.boxMax - s.boxMin + Eigen::Vector3i::Constant(3)).eval());
		std::vector<std::uint8_t> mask(region.voxelCount(), 0);
		markLabel(ref, s.label, s.boxMin, s.boxMax, region, mask.data());
		std::int64_t ones = 0;
		std::size_t i = 0;
		for (int z = 0; z < region.dims.z(); ++z)
			for (int y = 0; y < region.dims.y(); ++y)
				for (int x = 0; x < region.dims.x(); ++x, ++i)
				{
					const Eigen::Vector3i p = region.offset + Eigen::Vector3i(x, y, z);
					const bool rim = x == 0 || y == 0 || z == 0 || x == region.dims.x() - 1 ||
					                 y == region.dims.y() - 1 || z == region.dims.z() - 1;
					const std::uint8_t expected = !rim && v.get(p.x(), p.y(), p.z()) == s.label ? 1 : 0;
					ASSERT_EQ(mask[i], expected) << p.transpose();
					ones += mask[i];
				}
		EXPECT_EQ(ones, s.voxelCount);
	}

	std::vector<std::uint8_t> buffer(1000, 0);
	auto mark = [&](Eigen::Vector3i lo, Eigen::Vector3i hi) {
		markLabel(ref, 3, lo, hi, maskRegion(lo, hi), buffer.data());
	};
	EXPECT_NO_THROW(mark({0, 0, 0}, {0, 0, 0}));
	EXPECT_THROW(mark({0, 0, 0}, {9, 0, 0}), std::invalid_argument);
	EXPECT_THROW(mark({2, 0, 0}, {1, 0, 0}), std::invalid_argument);
	EXPECT_THROW(mark({-1, 0, 0}, {1, 0, 0}), std::invalid_argument);
}

TEST(LabelMask, MarkingJoinsLabelsAndRefusesBoxesOutsideTheRegion)
{
	const auto v = randomVolume<std::uint16_t>(7, 6, 5, {0, 4, 9, 300}, 3);
	const LabelVolumeRef ref{VoxelType::UInt16, v.data.data(), v.nx, v.ny, v.nz};
	const Eigen::Vector3i lo(1, 1, 1), hi(5, 4, 3);
	const MaskRegion region = maskRegion(lo, hi);
	std::vector<std::uint8_t> mask(region.voxelCount(), 0);
	markLabel(ref, 4, lo, hi, region, mask.data());
	markLabel(ref, 300, lo, hi, region, mask.data());
	markLabel(ref, 70000, lo, hi, region, mask.data());    // beyond the voxel type: marks nothing
	for (int z = 0; z < region.dims.z(); ++z)
		for (int y = 0; y < region.dims.y(); ++y)
			for (int x = 0; x < region.dims.x(); ++x)
			{
				const Eigen::Vector3i p = region.offset + Eigen::Vector3i(x, y, z);
				const bool inBox = (p.array() >= lo.array()).all() && (p.array() <= hi.array()).all();
				const auto value = v.get(p.x(), p.y(), p.z());
				const std::size_t i = (static_cast<std::size_t>(z) * region.dims.y() + y) * region.dims.x() + x;
				ASSERT_EQ(mask[i], inBox && (value == 4 || value == 300) ? 1 : 0) << p.transpose();
			}

	const MaskRegion planar = maskRegion({2, 3, 0}, {4, 3, 0}, true);
	EXPECT_EQ(planar.offset, Eigen::Vector3i(1, 2, 0));
	EXPECT_EQ(planar.dims, Eigen::Vector3i(5, 3, 1));
	EXPECT_THROW(markLabel(ref, 4, lo, hi, maskRegion({2, 2, 2}, {3, 3, 3}), mask.data()), std::invalid_argument);
	EXPECT_THROW(markLabel(ref, 4, lo, {7, 4, 3}, maskRegion(lo, {7, 4, 3}), mask.data()), std::invalid_argument);
}

TEST(MaskSurface, SetVoxelsOnTheMaskBorderCloseAndAnyNonZeroValueCounts)
{
	// Without a rim of zeros the surface must still close over the mask's six sides.
	auto v = randomVolume<std::uint8_t>(9, 7, 6, {0, 1, 1, 200}, 21);
	SurfaceScratch scratch;
	const SurfaceMesh mesh = extractMaskSurface(v.view(), scratch);
	EXPECT_TRUE(analyzeTopology(mesh).isClosedManifold());
	for (std::uint8_t& voxel : v.data)
		voxel = voxel != 0 ? 5 : 0;
	expectVerticesOnLabelBoundary(v, mesh, std::uint8_t{5});
	expectSameMesh(mesh, extractLabelSurfaces(v.view()).at(5));

	// The scratch keeps nothing that changes the next result.
	const SurfaceMesh again = extractMaskSurface(v.view(), scratch);
	expectSameMesh(mesh, again);
	Volume<> empty(4, 3, 2);
	EXPECT_TRUE(extractMaskSurface(empty.view(), scratch).faces.empty());
	EXPECT_THROW(extractMaskSurface(LabelVolumeView<std::uint8_t>{nullptr, 2, 2, 2}, scratch), std::invalid_argument);
}

TEST(MeshQuality, DetectsEveryKindOfDefect)
{
	// A unit cube as two triangles per side, counter-clockwise from outside.
	SurfaceMesh cube;
	for (int i = 0; i < 8; ++i)
		cube.vertices.emplace_back(i & 1, i >> 1 & 1, i >> 2 & 1);
	cube.faces = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
	              {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
	const MeshTopology good = analyzeTopology(cube);
	EXPECT_TRUE(good.isClosedManifold());
	EXPECT_EQ(good.eulerCharacteristic, 2);
	EXPECT_EQ(good.edges, 18u);
	EXPECT_NEAR(enclosedVolume(cube), 1.0, 1e-12);
	EXPECT_NEAR(surfaceArea(cube), 6.0, 1e-12);

	SurfaceMesh open = cube;
	open.faces.pop_back();
	EXPECT_EQ(analyzeTopology(open).boundaryEdges, 3u);
	EXPECT_FALSE(analyzeTopology(open).isClosedManifold());

	SurfaceMesh flipped = cube;
	std::swap(flipped.faces[0][1], flipped.faces[0][2]);
	EXPECT_EQ(analyzeTopology(flipped).misorientedEdges, 3u);
	SurfaceMesh inverted = cube;
	for (auto& f : inverted.faces)
		std::swap(f[1], f[2]);
	EXPECT_TRUE(analyzeTopology(inverted).isClosedManifold());
	EXPECT_NEAR(enclosedVolume(inverted), -1.0, 1e-12);

	// Two cubes sharing vertex 7 only: edge-manifold, but not at that vertex.
	SurfaceMesh pinched = cube;
	for (int i = 0; i < 8; ++i)
		if (i != 0)
			pinched.vertices.emplace_back(Eigen::Vector3d(i & 1, i >> 1 & 1, i >> 2 & 1) + Eigen::Vector3d::Ones());
	auto remap = [](int i) { return i == 0 ? 7 : 7 + i; };
	for (const auto& f : cube.faces)
		pinched.faces.emplace_back(remap(f[0]), remap(f[1]), remap(f[2]));
	const MeshTopology pinch = analyzeTopology(pinched);
	EXPECT_EQ(pinch.nonManifoldEdges, 0u);
	EXPECT_EQ(pinch.nonManifoldVertices, 1u);
	EXPECT_EQ(pinch.components, 2u);

	SurfaceMesh fin = cube;
	fin.vertices.emplace_back(0.5, -1, 0);
	fin.faces.emplace_back(0, 1, 8);
	EXPECT_EQ(analyzeTopology(fin).nonManifoldEdges, 1u);

	SurfaceMesh flat = cube;
	flat.vertices.emplace_back(2, 0, 0);
	flat.faces.emplace_back(0, 1, 8);
	flat.faces.emplace_back(3, 3, 2);
	EXPECT_EQ(analyzeTopology(flat).degenerateFaces, 2u);

	SurfaceMesh broken = cube;
	broken.faces.emplace_back(0, 1, 8);
	EXPECT_THROW(analyzeTopology(broken), std::invalid_argument);
	EXPECT_THROW(enclosedVolume(broken), std::invalid_argument);
}
