#include "anatomy/io/DataObjectCodec.h"

#include "anatomy/io/PropertiesCodec.h"
#include "core/Log.h"
#include "data/DataComponentFactory.h"
#include "data/DataComponentList.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <typeinfo>
#include <utility>

namespace Orbitane::DataObjectCodec {

namespace {

constexpr std::size_t kVec3Bytes = 24;
constexpr std::size_t kImageHeaderBytes = 1 + 3 * 4 + kVec3Bytes + 4 + 8;
constexpr std::size_t kComponentMinBytes = 4 + 4;
constexpr std::size_t kFeatureMinBytes = 4 + 4;
constexpr int kLastPixelType = static_cast<int>(PixelType::Double);
constexpr int kLastModality = static_cast<int>(Modality::LABEL);

/// A component is saved when the factory recreates its very type from its id; components of other
/// origins (defined in Python, or not registered) cannot come back from a file. Their ids are never
/// asked for: a Python-defined id runs Python code, which could change the data being written.
bool isSaveable(const DataComponentBase& component)
{
	if (!DataComponentFactory::makesType(typeid(component)))
		return false;
	auto probe = DataComponentFactory::create(component.id());
	if (!probe)
		return false;
	const DataComponentBase& recreated = *probe;
	return typeid(recreated) == typeid(component);
}

void logSkippedComponent(const std::string& id)
{
	Log::logIfAccepted(Log::Warning, "AnatomyPlugin.OrbFile",
	                   [&] { return "Skipped data component '" + id + "': no component of this id is registered"; });
}

/// Counts of elements that the data library indexes with int, read by readCount.
template <typename ReadCount>
std::size_t elementCount(PayloadReader& r, std::string_view what, ReadCount&& readCount)
{
	const std::uint64_t at = r.offset();
	const std::size_t n = readCount();
	if (n > static_cast<std::size_t>(INT_MAX))
		r.failAt(std::string(what) + " " + std::to_string(n) + " is too large", at);
	return n;
}

/// Arrays are stored little-endian; on a big-endian machine each scalar is reversed in place.
void toFromLittleEndian(std::uint8_t* bytes, std::size_t size, std::size_t scalarSize)
{
	if constexpr (std::endian::native == std::endian::big)
		for (std::size_t i = 0; i + scalarSize <= size; i += scalarSize)
			std::reverse(bytes + i, bytes + i + scalarSize);
}

/// Writes the bytes of an array of scalarSize-byte numbers, in little-endian order.
void writeArray(PayloadWriter& w, std::span<const std::uint8_t> bytes, std::size_t scalarSize)
{
	if constexpr (std::endian::native == std::endian::little)
		w.array(bytes);
	else
	{
		std::vector<std::uint8_t> swapped(bytes.begin(), bytes.end());
		toFromLittleEndian(swapped.data(), swapped.size(), scalarSize);
		w.array(swapped);
	}
}

/// The elements of a vector of fixed-size Eigen vectors, which store their scalars contiguously.
template <typename Element>
void writeElements(PayloadWriter& w, const std::vector<Element>& list)
{
	static_assert(sizeof(Element) == sizeof(typename Element::Scalar) * Element::SizeAtCompileTime);
	w.count(list.size());
	writeArray(w, {reinterpret_cast<const std::uint8_t*>(list.data()), list.size() * sizeof(Element)},
	           sizeof(typename Element::Scalar));
}

/// Reads what writeElements wrote; the second member is the array, for the offsets of errors.
template <typename Element>
std::pair<std::vector<Element>, PackedArray> readElements(PayloadReader& r, std::string_view what)
{
	const std::size_t n = elementCount(r, what, [&] { return r.arrayCount(sizeof(Element), what); });
	const PackedArray packed = r.array(n * sizeof(Element), what);
	std::vector<Element> list(n);
	auto* bytes = reinterpret_cast<std::uint8_t*>(list.data());
	r.unpack(packed, {bytes, n * sizeof(Element)}, what);
	toFromLittleEndian(bytes, n * sizeof(Element), sizeof(typename Element::Scalar));
	return {std::move(list), packed};
}

void writeVec3List(PayloadWriter& w, const std::vector<Eigen::Vector3d>& list) { writeElements(w, list); }

std::vector<Eigen::Vector3d> readVec3List(PayloadReader& r, std::string_view what)
{
	return readElements<Eigen::Vector3d>(r, what).first;
}

void writeImage(PayloadWriter& w, const SharedImage& image)
{
	w.u8(static_cast<std::uint8_t>(image.pixelType()));
	for (int i = 0; i < 3; ++i)
		w.i32(image.dimensions()[i]);
	w.vec<3>(image.spacing());
	writeModality(w, image.modality());
	w.u64(image.byteSize());
	writeArray(w, {static_cast<const std::uint8_t*>(image.data()), image.byteSize()}, pixelSize(image.pixelType()));
}

PixelType readPixelType(PayloadReader& r)
{
	const std::uint64_t at = r.offset();
	const int type = r.u8();
	if (type > kLastPixelType)
		r.failAt("unknown voxel type " + std::to_string(type), at);
	return static_cast<PixelType>(type);
}

/// The voxel buffer size implied by the dimensions, refused before anything is allocated when the
/// rest of the chunk cannot hold it (or, compressed, decode to it).
std::uint64_t expectedImageBytes(PayloadReader& r, const Eigen::Vector3i& dims, PixelType type, std::uint64_t at)
{
	std::uint64_t total = pixelSize(type);
	for (int i = 0; i < 3; ++i)
	{
		if (dims[i] < 1)
			r.failAt("image dimension " + std::to_string(dims[i]) + " is not positive", at);
		const auto d = static_cast<std::uint64_t>(dims[i]);
		if (total > r.arrayCapacity() / d)
			r.failAt("image of " + std::to_string(dims.x()) + " x " + std::to_string(dims.y()) + " x " +
			             std::to_string(dims.z()) + " voxels is larger than the rest of the chunk",
			         at);
		total *= d;
	}
	return total;
}

std::shared_ptr<SharedImage> readImage(PayloadReader& r)
{
	const std::uint64_t at = r.offset();
	const PixelType type = readPixelType(r);
	Eigen::Vector3i dims;
	for (int i = 0; i < 3; ++i)
		dims[i] = r.i32();
	const Eigen::Vector3d spacing = r.vec<3>();
	const Modality modality = readModality(r);
	const std::uint64_t sizeAt = r.offset();
	const std::uint64_t stored = r.u64();
	const std::uint64_t expected = expectedImageBytes(r, dims, type, at);
	if (stored != expected)
		r.failAt("voxel data of " + std::to_string(stored) + " bytes where the image needs " + std::to_string(expected),
		         sizeAt);
	const PackedArray voxels = r.array(expected, "voxel data");
	auto image = std::make_shared<SharedImage>(type, dims, spacing, modality);
	r.unpack(voxels, {static_cast<std::uint8_t*>(image->data()), image->byteSize()}, "voxel data");
	toFromLittleEndian(static_cast<std::uint8_t*>(image->data()), image->byteSize(), pixelSize(type));
	return image;
}

void writeFeatures(PayloadWriter& w, const std::map<std::string, std::vector<double>>& features)
{
	w.count(features.size());
	for (const auto& [name, values] : features)
	{
		w.string(name);
		w.count(values.size());
		for (double v : values)
			w.f64(v);
	}
}

template <typename SetFeature>
void readFeatures(PayloadReader& r, std::size_t expectedSize, const char* kind, SetFeature set)
{
	const std::size_t n = r.count(kFeatureMinBytes, std::string(kind) + " feature count");
	std::string previous;
	for (std::size_t i = 0; i < n; ++i)
	{
		const std::uint64_t at = r.offset();
		std::string name = r.string();
		if (i > 0 && name <= previous)
			r.failAt(std::string(kind) + " feature '" + name + "' out of order or repeated", at);
		const std::uint64_t sizeAt = r.offset();
		const std::size_t size = r.count(8, std::string(kind) + " feature length");
		if (size != expectedSize)
			r.failAt(std::string(kind) + " feature '" + name + "' has " + std::to_string(size) + " values for " +
			             std::to_string(expectedSize) + " " + kind + "s",
			         sizeAt);
		std::vector<double> values(size);
		for (double& v : values)
			v = r.f64();
		set(name, std::move(values));
		previous = std::move(name);
	}
}

template <int N>
using IndexRow = Eigen::Matrix<int, N, 1>;

template <int N>
void writeIndexRows(PayloadWriter& w, const std::vector<IndexRow<N>>& rows)
{
	writeElements(w, rows);
}

/// Rows of N indices (faces, edges), each refused unless it refers to one of the limit elements
/// read before it.
template <int N>
std::vector<IndexRow<N>> readIndexRows(PayloadReader& r, std::size_t limit, const char* what,
                                       std::string_view countName)
{
	auto read = readElements<IndexRow<N>>(r, countName);
	std::vector<IndexRow<N>>& rows = read.first;
	const PackedArray& packed = read.second;
	for (std::size_t j = 0; j < rows.size(); ++j)
		for (int i = 0; i < N; ++i)
			if (rows[j][i] < 0 || static_cast<std::size_t>(rows[j][i]) >= limit)
				r.failAt(std::string(what) + " refers to index " + std::to_string(rows[j][i]) + " of " +
				             std::to_string(limit),
				         packed.elementOffset(j, sizeof(IndexRow<N>)));
	return std::move(rows);
}

}

void writeModality(PayloadWriter& w, Modality m) { w.i32(static_cast<std::int32_t>(m)); }

Modality readModality(PayloadReader& r)
{
	const std::uint64_t at = r.offset();
	const std::int32_t m = r.i32();
	if (m < 0 || m > kLastModality)
		r.failAt("unknown modality " + std::to_string(m), at);
	return static_cast<Modality>(m);
}

void writeCommon(PayloadWriter& w, const Data& data)
{
	w.string(data.name());
	w.matrix(data.matrixToWorld());
	std::vector<const DataComponentBase*> saved;
	for (int i = 0; i < data.components().size(); ++i)
		if (isSaveable(*data.components().at(i)))
			saved.push_back(data.components().at(i));
	w.count(saved.size());
	for (const DataComponentBase* component : saved)
	{
		Properties configuration;
		component->configuration(&configuration);
		w.string(component->id());
		PropertiesCodec::write(w, configuration);
	}
}

void readCommon(PayloadReader& r, Data& data)
{
	data.setName(r.string());
	const std::uint64_t matrixAt = r.offset();
	const Eigen::Matrix4d matrix = r.matrix();
	try
	{
		data.setMatrixToWorld(matrix);
	}
	catch (const std::invalid_argument& e)
	{
		r.failAt(std::string("matrix refused: ") + e.what(), matrixAt);
	}
	const std::size_t n = r.count(kComponentMinBytes, "component count");
	for (std::size_t i = 0; i < n; ++i)
	{
		const std::string id = r.string();
		const Properties configuration = PropertiesCodec::read(r);
		auto component = DataComponentFactory::create(id);
		if (!component)
		{
			logSkippedComponent(id);
			continue;
		}
		component->configure(&configuration);
		data.components().add(std::move(component));
	}
}

void write(PayloadWriter& w, const SharedImageSet& images)
{
	writeCommon(w, images);
	w.i32(images.focus());
	w.count(static_cast<std::size_t>(images.size()));
	for (int i = 0; i < images.size(); ++i)
		writeImage(w, *images.get(i));
}

std::unique_ptr<SharedImageSet> readImageSet(PayloadReader& r)
{
	auto images = std::make_unique<SharedImageSet>();
	readCommon(r, *images);
	const std::uint64_t focusAt = r.offset();
	const std::int32_t focus = r.i32();
	const std::size_t n = elementCount(r, "image count", [&] { return r.count(kImageHeaderBytes, "image count"); });
	for (std::size_t i = 0; i < n; ++i)
		images->add(readImage(r));
	if (n == 0 ? focus != 0 : (focus < 0 || static_cast<std::size_t>(focus) >= n))
		r.failAt("focus " + std::to_string(focus) + " outside the " + std::to_string(n) + " images", focusAt);
	if (n > 0)
		images->setFocus(focus);
	return images;
}

void write(PayloadWriter& w, const Mesh& mesh)
{
	writeCommon(w, mesh);
	writeModality(w, mesh.modality());
	writeVec3List(w, mesh.vertices());
	writeIndexRows<3>(w, mesh.faces());
	writeVec3List(w, mesh.normals());
}

std::unique_ptr<Mesh> readMesh(PayloadReader& r)
{
	auto mesh = std::make_unique<Mesh>();
	readCommon(r, *mesh);
	mesh->setModality(readModality(r));
	auto vertices = readVec3List(r, "vertex count");
	auto faces = readIndexRows<3>(r, vertices.size(), "face", "face count");
	const std::uint64_t normalsAt = r.offset();
	auto normals = readVec3List(r, "normal count");
	if (!normals.empty() && normals.size() != vertices.size())
		r.failAt(std::to_string(normals.size()) + " normals for " + std::to_string(vertices.size()) + " vertices",
		         normalsAt);
	mesh->setVertices(std::move(vertices));
	mesh->setFaces(std::move(faces));
	mesh->setNormals(std::move(normals));
	return mesh;
}

void write(PayloadWriter& w, const PointCloud& cloud)
{
	writeCommon(w, cloud);
	writeModality(w, cloud.modality());
	writeVec3List(w, cloud.points());
	writeVec3List(w, cloud.normals());
}

std::unique_ptr<PointCloud> readPointCloud(PayloadReader& r)
{
	auto cloud = std::make_unique<PointCloud>();
	readCommon(r, *cloud);
	cloud->setModality(readModality(r));
	auto points = readVec3List(r, "point count");
	const std::uint64_t normalsAt = r.offset();
	auto normals = readVec3List(r, "normal count");
	if (!normals.empty() && normals.size() != points.size())
		r.failAt(std::to_string(normals.size()) + " normals for " + std::to_string(points.size()) + " points",
		         normalsAt);
	cloud->setPoints(std::move(points), std::move(normals));
	return cloud;
}

void write(PayloadWriter& w, const Graph& graph)
{
	writeCommon(w, graph);
	writeModality(w, graph.modality());
	writeVec3List(w, graph.nodes());
	writeIndexRows<2>(w, graph.edges());
	writeFeatures(w, graph.nodeFeatures());
	writeFeatures(w, graph.edgeFeatures());
}

std::unique_ptr<Graph> readGraph(PayloadReader& r)
{
	auto graph = std::make_unique<Graph>();
	readCommon(r, *graph);
	graph->setModality(readModality(r));
	auto nodes = readVec3List(r, "node count");
	auto edges = readIndexRows<2>(r, nodes.size(), "edge", "edge count");
	graph->setNodesAndEdges(std::move(nodes), std::move(edges));
	readFeatures(r, static_cast<std::size_t>(graph->numNodes()), "node",
	             [&](const std::string& name, std::vector<double> v) { graph->setNodeFeature(name, std::move(v)); });
	readFeatures(r, static_cast<std::size_t>(graph->numEdges()), "edge",
	             [&](const std::string& name, std::vector<double> v) { graph->setEdgeFeature(name, std::move(v)); });
	return graph;
}

}
