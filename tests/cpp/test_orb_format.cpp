// The .orb format: exact round trips, refusal of damaged and hostile files, atomic saves.

#include "anatomy/io/AtomicFileWriter.h"
#include "anatomy/io/Crc32.h"
#include "anatomy/io/OrbCollectionCodec.h"
#include "anatomy/io/OrbContainer.h"
#include "anatomy/io/OrbFile.h"
#include "anatomy/io/OrbObject.h"
#include "anatomy/io/PropertiesCodec.h"
#include "anatomy/structures/GenericASC.h"
#include "anatomy/structures/GenericAnatomicalStructure.h"
#include "data/DataComponentFactory.h"
#include "data/DataComponentList.h"
#include "data/DataIO.h"
#include "data/LabelDataComponent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>

#include <sys/stat.h>
#include <unistd.h>

namespace Orbitane {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaNWithPayload = std::bit_cast<double>(std::uint64_t(0x7FF80000DEADBEEFull));

bool sameBits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

template <int R, int C>
bool sameBits(const Eigen::Matrix<double, R, C>& a, const Eigen::Matrix<double, R, C>& b)
{
	for (Eigen::Index i = 0; i < a.size(); ++i)
		if (!sameBits(a.data()[i], b.data()[i]))
			return false;
	return true;
}

Eigen::Matrix4d rigid(double angle, const Eigen::Vector3d& t)
{
	Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
	m.topLeftCorner<3, 3>() = Eigen::AngleAxisd(angle, Eigen::Vector3d(1, 2, 3).normalized()).toRotationMatrix();
	m.topRightCorner<3, 1>() = t;
	return m;
}

Properties everyValueType()
{
	Properties inner;
	inner.setParam("deep", std::string("bottom"));
	Properties middle;
	middle.setParam("inner", inner);
	middle.setParam("nan", kNaNWithPayload);
	Properties p;
	p.setParam("z-first", true);
	p.setParam("count", -7);
	p.setParam("third", 1.0 / 3.0);
	p.setParam("text", std::string("l\xC3\xA9sion\0x", 9));
	p.setParam("v2", Eigen::Vector2d(-0.0, 1e-310));
	p.setParam("v3", Eigen::Vector3d(kInf, -kInf, 2.5));
	p.setParam("v4", Eigen::Vector4d(1, 2, 3, 4));
	p.setParam("m", rigid(0.3, {1, 2, 3}));
	p.setParam("nested", middle);
	return p;
}

std::unique_ptr<SharedImageSet> makeImages()
{
	auto images = std::make_unique<SharedImageSet>();
	images->setName("scan");
	auto ct = std::make_shared<SharedImage>(PixelType::Int16, Eigen::Vector3i(3, 2, 2), Eigen::Vector3d(0.5, 0.7, 2.0),
	                                        Modality::CT);
	for (int i = 0; i < 12; ++i)
		ct->typedData<std::int16_t>()[i] = static_cast<std::int16_t>(-1000 + 300 * i);
	auto dose = std::make_shared<SharedImage>(PixelType::Double, Eigen::Vector3i(2, 2, 1));
	dose->typedData<double>()[0] = kNaNWithPayload;
	dose->typedData<double>()[3] = -0.0;
	images->add(ct);
	images->add(dose);
	images->setFocus(1);
	images->setMatrixToWorld(rigid(-0.2, {10, 0, -4}));
	auto labels = std::make_unique<LabelDataComponent>();
	labels->setLabelConfig(3, {"cortex", Eigen::Vector4d(0.1, 0.2, 0.3, 1), false});
	images->components().add(std::move(labels));
	return images;
}

std::unique_ptr<Graph> makeGraph()
{
	auto graph = std::make_unique<Graph>(std::vector<Eigen::Vector3d>{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}},
	                                     std::vector<Eigen::Vector2i>{{0, 1}, {1, 2}});
	graph->setNodeFeature("radius", {1.5, kNaNWithPayload, 0.25});
	graph->setNodeFeature("branch", {0, 0, 1});
	graph->setEdgeFeature("length", {1, 1});
	graph->setModality(Modality::MRI);
	return graph;
}

/// A structure that uses every store, every value type of the attributes, entries without a value
/// and an entry whose local copy no longer follows its value.
std::unique_ptr<GenericAnatomicalStructure> makeFullStructure()
{
	auto s = std::make_unique<GenericAnatomicalStructure>("liver");
	s->setMatrixToWorld(rigid(0.4, {5, -3, 12}), false);
	s->keypoints.set("tip", Eigen::Vector3d(1.0 / 3.0, -0.0, kInf));
	s->keypoints.set("B", Eigen::Vector3d(4, 5, 6));
	s->keypoints.set("a", Eigen::Vector3d(7, 8, 9));
	s->keypoints.find("tip")->attributes() = everyValueType();
	s->keypoints.getOrCreate("pending").storedAttributes().setParam("note", std::string("to be placed"));
	s->planes.set("nan", Eigen::Vector4d::Constant(kNaNWithPayload));
	s->planes.set("axial", Eigen::Vector4d(0, 0, 1, -5));
	s->planes.getOrCreate("unset");
	s->images.set("scan", makeImages());
	s->images.getOrCreate("awaited");
	auto mesh = std::make_unique<Mesh>(std::vector<Eigen::Vector3d>{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
	                                   std::vector<Eigen::Vector3i>{{0, 1, 2}, {0, 1, 3}});
	mesh->setNormals({{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {1, 0, 0}});
	mesh->setName("surface");
	mesh->setMatrixToWorld(rigid(1.0, {0, 1, 0}));
	s->meshes.set("surface", std::move(mesh));
	s->pointclouds.set("samples", std::make_unique<PointCloud>(std::vector<Eigen::Vector3d>{{1, 2, 3}, {4, 5, 6}},
	                                                           std::vector<Eigen::Vector3d>{{1, 0, 0}, {0, 1, 0}}));
	s->pointclouds.set("bare", std::make_unique<PointCloud>());
	s->graphs.set("vessels", makeGraph());

	// "fixed" keeps the local copy of the old frame once the structure moves
	s->keypoints.set("fixed", Eigen::Vector3d(1, 1, 1));
	s->keypoints.find("fixed")->attributes().setParam("synchronization", false);
	s->meshes.find("surface")->attributes().setParam("synchronization", false);
	s->setMatrixToWorld(rigid(-0.9, {2, 2, 2}), false);
	return s;
}

std::unique_ptr<GenericASC> makeFullCollection()
{
	auto asc = std::make_unique<GenericASC>(false);
	asc->setName("patient 17");
	asc->setModality(Modality::CT);
	asc->setMatrixToWorld(rigid(0.1, {0, 0, 100}), false);
	asc->keypoints.set("origin", Eigen::Vector3d(0, 0, 0));
	auto labels = std::make_unique<LabelDataComponent>();
	labels->setLabelConfig(1, {"liver", Eigen::Vector4d(1, 0, 0, 1), true});
	labels->setLabelConfig(2, {"spleen", Eigen::Vector4d(0, 1, 0, 0.5), false});
	asc->components().add(std::move(labels));
	asc->addAnatomicalStructure(makeFullStructure());
	asc->addAnatomicalStructure(std::make_unique<GenericAnatomicalStructure>("empty"));
	return asc;
}

const Bytes& validFile()
{
	static const Bytes bytes = OrbFile::encode(*makeFullCollection());
	return bytes;
}

std::uint64_t readLittle(const Bytes& b, std::size_t at, int n)
{
	std::uint64_t v = 0;
	for (int i = 0; i < n; ++i)
		v |= std::uint64_t(b[at + i]) << (8 * i);
	return v;
}

void writeLittle(Bytes& b, std::size_t at, std::uint64_t v, int n)
{
	for (int i = 0; i < n; ++i)
		b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

struct ChunkPlace
{
	std::size_t offset;
	std::size_t payloadSize;
};

/// The chunks as the header fields describe them; stops at the first that does not fit.
std::vector<ChunkPlace> chunkPlaces(const Bytes& b)
{
	std::vector<ChunkPlace> places;
	std::size_t pos = OrbContainer::kHeaderSize;
	while (pos + 16 <= b.size())
	{
		const std::uint64_t length = readLittle(b, pos + 4, 8);
		if (length > b.size() - pos - 16)
			break;
		places.push_back({pos, static_cast<std::size_t>(length)});
		pos += 16 + length;
	}
	return places;
}

/// Recomputes every checksum, so that damage reaches the parser's own checks instead of the CRCs.
void rechecksum(Bytes& b)
{
	writeLittle(b, 12, crc32(std::span(b).first(12)), 4);
	for (const ChunkPlace& c : chunkPlaces(b))
		writeLittle(b, c.offset + 12 + c.payloadSize, crc32(std::span(b).subspan(c.offset, 12 + c.payloadSize)), 4);
}

std::string decodeError(const Bytes& bytes)
{
	try
	{
		OrbFile::decode(bytes, "x.orb");
	}
	catch (const std::runtime_error& e)
	{
		return e.what();
	}
	return {};
}

/// A damaged file either decodes or fails with an error that names it; anything else (another
/// exception type, a crash under the sanitizers) fails the test.
bool decodesOrFailsCleanly(const Bytes& bytes, std::string* message = nullptr)
{
	const std::string error = decodeError(bytes);
	if (message)
		*message = error;
	return error.empty() || error.rfind("Cannot read 'x.orb': ", 0) == 0;
}

Bytes fileOfChunks(const std::vector<std::pair<ChunkTag, Bytes>>& chunks)
{
	Bytes out;
	OrbContainerWriter w([&](std::span<const std::uint8_t> p) { out.insert(out.end(), p.begin(), p.end()); });
	for (const auto& [tag, payload] : chunks)
		w.writeChunk(tag, payload);
	w.finish();
	return out;
}

// ---- round trip -------------------------------------------------------------------------------

TEST(OrbRoundTrip, ReencodingReproducesEveryByte)
{
	auto decoded = OrbFile::decode(validFile(), "full.orb");
	EXPECT_EQ(OrbFile::encode(*decoded), validFile());
}

TEST(OrbRoundTrip, CollectionKeepsTypeFrameComponentsAndOrder)
{
	auto original = makeFullCollection();
	auto decoded = OrbFile::decode(validFile(), "full.orb");
	ASSERT_EQ(typeid(*decoded), typeid(GenericASC));
	EXPECT_EQ(decoded->name(), "patient 17");
	EXPECT_EQ(decoded->modality(), Modality::CT);
	EXPECT_TRUE(sameBits(decoded->matrixToWorld(), original->matrixToWorld()));
	EXPECT_TRUE(sameBits(decoded->keypoints.find("origin")->value(), original->keypoints.find("origin")->value()));
	ASSERT_EQ(decoded->numAnatomicalStructures(), 2);
	EXPECT_EQ(decoded->anatomicalStructure(0)->identifier(), "liver");
	EXPECT_EQ(decoded->anatomicalStructure(1)->identifier(), "empty");
	auto labels = decoded->components().get<LabelDataComponent>();
	ASSERT_NE(labels, nullptr);
	EXPECT_EQ(labels->labelConfigs(), original->components().get<LabelDataComponent>()->labelConfigs());
}

TEST(OrbRoundTrip, StoresKeepKeysValuesBitsAndAttributes)
{
	auto original = makeFullStructure();
	auto decoded = OrbFile::decode(validFile(), "full.orb");
	const AnatomicalStructure& s = *decoded->anatomicalStructure(0);
	EXPECT_TRUE(sameBits(s.matrixToWorld(), original->matrixToWorld()));
	EXPECT_EQ(s.keypoints.keys(), (std::vector<std::string>{"B", "a", "fixed", "pending", "tip"}));
	EXPECT_TRUE(sameBits(s.keypoints.find("tip")->value(), original->keypoints.find("tip")->value()));
	EXPECT_TRUE(sameBits(s.planes.find("nan")->value(), Eigen::Vector4d(Eigen::Vector4d::Constant(kNaNWithPayload))));

	const Properties& attributes = s.keypoints.find("tip")->storedAttributes();
	EXPECT_EQ(attributes.names(), everyValueType().names());
	std::string text;
	ASSERT_TRUE(attributes.param("text", text));
	EXPECT_EQ(text, std::string("l\xC3\xA9sion\0x", 9));
	const Properties* middle = attributes.subProperties("nested");
	ASSERT_NE(middle, nullptr);
	double nan = 0;
	ASSERT_TRUE(middle->param("nan", nan));
	EXPECT_TRUE(sameBits(nan, kNaNWithPayload));
	std::string deep;
	ASSERT_TRUE(middle->subProperties("inner")->param("deep", deep));
	EXPECT_EQ(deep, "bottom");

	const AnatomicalStructure& empty = *decoded->anatomicalStructure(1);
	EXPECT_EQ(empty.keypoints.size() + empty.planes.size() + empty.images.size() + empty.meshes.size() +
	              empty.pointclouds.size() + empty.graphs.size(),
	          0u);
}

TEST(OrbRoundTrip, EntriesWithoutValueStayWithoutValue)
{
	auto decoded = OrbFile::decode(validFile(), "full.orb");
	const AnatomicalStructure& s = *decoded->anatomicalStructure(0);
	const auto* pending = s.keypoints.find("pending");
	ASSERT_NE(pending, nullptr);
	EXPECT_FALSE(pending->isInitialized());
	EXPECT_TRUE(pending->value().hasNaN());
	EXPECT_TRUE(pending->storedAttributes().has("note"));
	ASSERT_NE(s.planes.find("unset"), nullptr);
	EXPECT_FALSE(s.planes.find("unset")->isInitialized());
	EXPECT_TRUE(s.planes.find("nan")->isInitialized());
	ASSERT_NE(s.images.find("awaited"), nullptr);
	EXPECT_EQ(s.images.find("awaited")->value(), nullptr);
}

TEST(OrbRoundTrip, LocalCopiesAreDerivedUnlessUnsynchronized)
{
	auto original = makeFullStructure();
	auto decoded = OrbFile::decode(validFile(), "full.orb");
	const AnatomicalStructure& s = *decoded->anatomicalStructure(0);
	// the stale local copies of the old frame come back, not ones derived from the new frame
	EXPECT_TRUE(sameBits(s.keypoints.find("fixed")->localValue(), original->keypoints.find("fixed")->localValue()));
	EXPECT_FALSE(sameBits(s.keypoints.find("fixed")->localValue(),
	                      TransformHelpers::worldToLocal(Eigen::Vector3d(1, 1, 1), &s.matrixToWorld())));
	EXPECT_TRUE(sameBits(s.meshes.find("surface")->localMatrix(), original->meshes.find("surface")->localMatrix()));
	EXPECT_TRUE(sameBits(s.keypoints.find("tip")->localValue(),
	                     TransformHelpers::worldToLocal(s.keypoints.find("tip")->value(), &s.matrixToWorld())));
}

TEST(OrbRoundTrip, DataObjectsKeepGeometryVoxelsAndFeatures)
{
	auto decoded = OrbFile::decode(validFile(), "full.orb");
	const AnatomicalStructure& s = *decoded->anatomicalStructure(0);
	const SharedImageSet& images = *s.images.find("scan")->value();
	const auto expected = makeImages();
	ASSERT_EQ(images.size(), 2);
	EXPECT_EQ(images.focus(), 1);
	EXPECT_EQ(images.name(), "scan");
	EXPECT_TRUE(sameBits(images.matrixToWorld(), expected->matrixToWorld()));
	for (int i = 0; i < 2; ++i)
	{
		EXPECT_EQ(images.get(i)->pixelType(), expected->get(i)->pixelType());
		EXPECT_EQ(images.get(i)->dimensions(), expected->get(i)->dimensions());
		EXPECT_EQ(images.get(i)->modality(), expected->get(i)->modality());
		EXPECT_TRUE(sameBits(images.get(i)->spacing(), expected->get(i)->spacing()));
		ASSERT_EQ(images.get(i)->byteSize(), expected->get(i)->byteSize());
		EXPECT_EQ(std::memcmp(images.get(i)->data(), expected->get(i)->data(), images.get(i)->byteSize()), 0);
	}
	ASSERT_NE(images.components().get<LabelDataComponent>(), nullptr);
	EXPECT_EQ(images.components().get<LabelDataComponent>()->imageSet(), &images);

	const Mesh& mesh = *s.meshes.find("surface")->value();
	EXPECT_EQ(mesh.name(), "surface");
	EXPECT_EQ(mesh.faces(), (std::vector<Eigen::Vector3i>{{0, 1, 2}, {0, 1, 3}}));
	EXPECT_EQ(mesh.normals().size(), 4u);
	EXPECT_EQ(s.pointclouds.find("samples")->value()->normals().size(), 2u);
	EXPECT_EQ(s.pointclouds.find("bare")->value()->numPoints(), 0);

	const Graph& graph = *s.graphs.find("vessels")->value();
	EXPECT_EQ(graph.modality(), Modality::MRI);
	EXPECT_EQ(graph.edges(), makeGraph()->edges());
	ASSERT_EQ(graph.nodeFeatures().size(), 2u);
	EXPECT_TRUE(sameBits(graph.nodeFeatures().at("radius")[1], kNaNWithPayload));
	EXPECT_EQ(graph.edgeFeatures().at("length"), (std::vector<double>{1, 1}));
}

TEST(OrbRoundTrip, TwoDimensionalCollectionKeepsItsFlag)
{
	GenericASC asc(true);
	auto slice = std::make_unique<GenericAnatomicalStructure>("slice");
	slice->is2D = true;
	ASSERT_TRUE(asc.addAnatomicalStructure(std::move(slice)));
	auto decoded = OrbFile::decode(OrbFile::encode(asc), "flat.orb");
	EXPECT_TRUE(decoded->is2D);
	EXPECT_TRUE(decoded->anatomicalStructure(0)->is2D);
}

TEST(OrbRoundTrip, UnsavableComponentsAreLeftOutAndUnknownIdsSkipped)
{
	Bytes bytes = validFile();
	// rename the id on disk: the reader meets a component nobody registered
	const std::string id = "LabelDataComponent";
	auto at = std::search(bytes.begin(), bytes.end(), id.begin(), id.end());
	ASSERT_NE(at, bytes.end());
	at[id.size() - 1] = 'X';
	rechecksum(bytes);
	auto decoded = OrbFile::decode(bytes, "renamed.orb");
	EXPECT_EQ(decoded->components().size(), 0);
	EXPECT_EQ(decoded->numAnatomicalStructures(), 2);
}

// ---- container and versioning -----------------------------------------------------------------

TEST(OrbContainer, Crc32MatchesTheStandardCheckValue)
{
	const std::string text = "123456789";
	const auto bytes = std::as_bytes(std::span(text));
	std::span<const std::uint8_t> u(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
	EXPECT_EQ(crc32(u), 0xCBF43926u);
	EXPECT_EQ(crc32(u.subspan(4), crc32(u.first(4))), 0xCBF43926u);
}

TEST(OrbContainer, UnknownChunksAreSkipped)
{
	auto places = chunkPlaces(validFile());
	const ChunkPlace end = places.back();
	Bytes bytes(validFile().begin(), validFile().begin() + static_cast<std::ptrdiff_t>(end.offset));
	Bytes extra;
	OrbContainerWriter w([&](std::span<const std::uint8_t> p) { extra.insert(extra.end(), p.begin(), p.end()); });
	w.writeChunk(chunkTag("ZZZZ"), Bytes{1, 2, 3});
	bytes.insert(bytes.end(), extra.begin() + OrbContainer::kHeaderSize, extra.end());
	Bytes endChunk(validFile().begin() + static_cast<std::ptrdiff_t>(end.offset), validFile().end());
	writeLittle(endChunk, 12, places.size(), 4);    // one chunk more before the end
	bytes.insert(bytes.end(), endChunk.begin(), endChunk.end());
	rechecksum(bytes);
	EXPECT_EQ(OrbFile::encode(*OrbFile::decode(bytes, "x.orb")), validFile());
}

TEST(OrbContainer, MajorVersionsOtherThanOursAreRefused)
{
	for (std::uint16_t major : {0, 3})
	{
		Bytes bytes = validFile();
		writeLittle(bytes, 8, major, 2);
		rechecksum(bytes);
		EXPECT_EQ(decodeError(bytes), "Cannot read 'x.orb': unsupported format version " + std::to_string(major) +
		                                  ".0 (this reader reads versions 1.x to 2.x)");
	}
}

TEST(OrbContainer, FilesOfEveryVersionAndCodecReadTheSame)
{
	const auto collection = makeFullCollection();
	const OrbEncoding encodings[] = {{1, OrbCodec::Stored, 0}, {2, OrbCodec::Stored, 0}, {2, OrbCodec::Deflate, 6}};
	for (const OrbEncoding& encoding : encodings)
	{
		const Bytes bytes = OrbFile::encode(*collection, encoding);
		EXPECT_EQ(readLittle(bytes, 8, 2), encoding.major);
		EXPECT_EQ(OrbFile::encode(*OrbFile::decode(bytes, "x.orb")), validFile()) << int(encoding.codec);
	}
}

TEST(OrbContainer, TrailingFieldsOfKnownChunksNeedANewerMinorVersion)
{
	// a collection without structures, with one field appended by a later writer
	GenericASC empty;
	Bytes emptyColl = OrbFile::encode(empty);
	auto place = chunkPlaces(emptyColl)[0];
	Bytes payload(emptyColl.begin() + static_cast<std::ptrdiff_t>(place.offset + 12),
	              emptyColl.begin() + static_cast<std::ptrdiff_t>(place.offset + 12 + place.payloadSize));
	payload.push_back(42);
	Bytes bytes = fileOfChunks({{chunkTag("COLL"), payload}});
	EXPECT_NE(decodeError(bytes).find("1 unexpected bytes at the end of the chunk"), std::string::npos);
	writeLittle(bytes, 10, 1, 2);
	rechecksum(bytes);
	EXPECT_EQ(decodeError(bytes), "");
}

TEST(OrbContainer, StructureCountMustMatchTheChunks)
{
	Bytes bytes = validFile();
	const auto places = chunkPlaces(bytes);
	// drop the last structure chunk and the end chunk, then close the file again
	Bytes cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(places[2].offset));
	Bytes end(bytes.begin() + static_cast<std::ptrdiff_t>(places[3].offset), bytes.end());
	writeLittle(end, 12, 2, 4);
	cut.insert(cut.end(), end.begin(), end.end());
	rechecksum(cut);
	EXPECT_EQ(decodeError(cut), "Cannot read 'x.orb': the collection announces 2 structures but the file holds 1");
}

// ---- single objects ---------------------------------------------------------------------------

Bytes payloadOf(const Bytes& container, std::size_t chunk)
{
	const ChunkPlace place = chunkPlaces(container)[chunk];
	const auto begin = container.begin() + static_cast<std::ptrdiff_t>(place.offset + 12);
	return Bytes(begin, begin + static_cast<std::ptrdiff_t>(place.payloadSize));
}

std::string objectError(const std::function<void()>& decode)
{
	try
	{
		decode();
	}
	catch (const std::runtime_error& e)
	{
		return e.what();
	}
	return "";
}

TEST(OrbObject, OneObjectChunkAmongUnknownOnesAndNoSecond)
{
	const Mesh mesh({Eigen::Vector3d(0, 0, 0), Eigen::Vector3d(1, 0, 0), Eigen::Vector3d(0, 1, 0)},
	                {Eigen::Vector3i(0, 1, 2)});
	const Bytes mine = payloadOf(OrbObject::encode(mesh), 0);
	auto decoded = OrbObject::decodeData(fileOfChunks({{chunkTag("ZZZZ"), {7}}, {chunkTag("MESH"), mine}}));
	ASSERT_NE(dynamic_cast<Mesh*>(decoded.get()), nullptr);
	EXPECT_EQ(static_cast<Mesh&>(*decoded).numFaces(), 1);

	const Bytes twice = fileOfChunks({{chunkTag("MESH"), mine}, {chunkTag("PCLD"), mine}});
	EXPECT_NE(objectError([&] { OrbObject::decodeData(twice); }).find("second object chunk 'PCLD'"), std::string::npos);
	EXPECT_EQ(objectError([&] {
		          OrbObject::decodeStructure(fileOfChunks({{chunkTag("MESH"), mine}}));
	          }),
	          "not an intact encoded object: the container holds no object of the kind asked for");
	Bytes longer = mine;
	longer.push_back(0);
	EXPECT_NE(objectError([&] {
		          OrbObject::decodeData(fileOfChunks({{chunkTag("MESH"), longer}}));
	          }).find("1 unexpected bytes at the end of the chunk"),
	          std::string::npos);
}

TEST(OrbObject, ACollectionIsEncodedExactlyAsAFile)
{
	const auto asc = OrbFile::decode(validFile(), "x.orb");
	EXPECT_EQ(OrbObject::encode(static_cast<const Data&>(*asc)), validFile());
	const auto decoded = OrbObject::decodeData(validFile());
	EXPECT_EQ(OrbFile::encode(dynamic_cast<const GenericASC&>(*decoded)), validFile());
}

// ---- damaged and hostile files ----------------------------------------------------------------

TEST(OrbDamage, EveryTruncationPointIsAnError)
{
	const Bytes& full = validFile();
	for (std::size_t n = 0; n < full.size(); ++n)
	{
		Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
		std::string error;
		ASSERT_TRUE(decodesOrFailsCleanly(cut, &error)) << n << ": " << error;
		ASSERT_FALSE(error.empty()) << "a file cut to " << n << " bytes was accepted";
	}
	const ChunkPlace strc = chunkPlaces(full)[1];
	Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(strc.offset + 100));
	EXPECT_EQ(decodeError(cut), "Cannot read 'x.orb': truncated chunk 'STRC' at offset " + std::to_string(strc.offset) +
	                                " (payload of " + std::to_string(strc.payloadSize) +
	                                " bytes, 88 bytes left in the file)");
}

TEST(OrbDamage, RandomCorruptionIsCaughtByTheChecksums)
{
	std::mt19937 random(1234);
	const Bytes& full = validFile();
	std::uniform_int_distribution<std::size_t> position(0, full.size() - 1);
	for (int trial = 0; trial < 2000; ++trial)
	{
		Bytes damaged = full;
		const int changes = 1 + trial % 4;
		for (int c = 0; c < changes; ++c)
		{
			const std::size_t at = position(random);
			if (trial % 2)
				damaged[at] ^= static_cast<std::uint8_t>(1u << (random() % 8));
			else
				damaged[at] = static_cast<std::uint8_t>(random());
		}
		if (damaged == full)
			continue;
		std::string error;
		ASSERT_TRUE(decodesOrFailsCleanly(damaged, &error)) << trial << ": " << error;
		ASSERT_FALSE(error.empty()) << "corruption in trial " << trial << " went unnoticed";
	}
}

TEST(OrbDamage, TamperingBehindValidChecksumsReachesTheParserChecks)
{
	std::mt19937 random(99);
	const Bytes& full = validFile();
	const std::uint32_t hostile[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0x10000u, 0u, 1u};
	std::uniform_int_distribution<std::size_t> position(OrbContainer::kHeaderSize, full.size() - 4);
	const int trials = 600;
	int refused = 0;
	for (int trial = 0; trial < trials; ++trial)
	{
		Bytes damaged = full;
		const std::size_t at = position(random);
		if (trial % 3 == 0)
			damaged[at] = static_cast<std::uint8_t>(random());
		else
			writeLittle(damaged, at, hostile[random() % std::size(hostile)], 4);
		rechecksum(damaged);
		std::string error;
		ASSERT_TRUE(decodesOrFailsCleanly(damaged, &error)) << trial << ": " << error;
		ASSERT_EQ(error.find("CRC mismatch"), std::string::npos) << error;
		refused += !error.empty();
	}
	// tampering with counts and lengths is refused; tampering with plain values decodes
	EXPECT_GT(refused, trials / 10);
	EXPECT_LT(refused, trials);
}

TEST(OrbDamage, ChunkLengthFieldsThatLieAreRefused)
{
	const Bytes& full = validFile();
	for (const ChunkPlace& c : chunkPlaces(full))
		for (std::uint64_t length :
		     {std::uint64_t(0), std::uint64_t(c.payloadSize) - 1, std::uint64_t(c.payloadSize) + 1,
		      std::uint64_t(full.size()), ~std::uint64_t(0), std::uint64_t(1) << 63})
		{
			Bytes damaged = full;
			writeLittle(damaged, c.offset + 4, length, 8);
			const std::size_t room = damaged.size() - c.offset - 16;
			if (length <= room)
				writeLittle(damaged, c.offset + 12 + length,
				            crc32(std::span(damaged).subspan(c.offset, 12 + static_cast<std::size_t>(length))), 4);
			std::string error;
			EXPECT_TRUE(decodesOrFailsCleanly(damaged, &error)) << error;
			EXPECT_FALSE(error.empty()) << "length " << length << " of the chunk at " << c.offset;
		}
}

TEST(OrbDamage, HostileCountsAreRefusedBeforeAllocating)
{
	PayloadWriter coll;
	coll.string("GenericASC");
	coll.u8(0);
	coll.string("");
	coll.matrix(Eigen::Matrix4d::Identity());
	coll.u32(0);              // components
	coll.i32(0);              // modality
	coll.u32(0xFFFFFFFFu);    // keypoint entries
	const std::string error = decodeError(fileOfChunks({{chunkTag("COLL"), coll.data()}}));
	EXPECT_NE(error.find("keypoint entry count 4294967295 exceeds what the remaining 0 bytes"), std::string::npos)
	    << error;

	// an image set that claims 2^31-1 cubed voxels in a few bytes
	PayloadWriter strc;
	strc.string("GenericAnatomicalStructure");
	strc.string("s");
	strc.u8(0);
	strc.matrix(Eigen::Matrix4d::Identity());
	strc.u32(0), strc.u32(0);    // keypoints, planes
	strc.u32(1), strc.string("img"), strc.u8(1), strc.u32(0);
	strc.string(""), strc.matrix(Eigen::Matrix4d::Identity()), strc.u32(0), strc.i32(0), strc.u32(1);
	strc.u8(static_cast<std::uint8_t>(PixelType::Double));
	for (int i = 0; i < 3; ++i)
		strc.i32(0x7FFFFFFF);
	strc.vec<3>(Eigen::Vector3d::Ones()), strc.i32(0), strc.u64(~std::uint64_t(0));
	PayloadWriter oneStructure;
	oneStructure.string("GenericASC"), oneStructure.u8(0), oneStructure.string(""),
	    oneStructure.matrix(Eigen::Matrix4d::Identity());
	oneStructure.u32(0), oneStructure.i32(0);
	for (int i = 0; i < 6; ++i)
		oneStructure.u32(0);
	oneStructure.u32(1);
	const std::string imageError =
	    decodeError(fileOfChunks({{chunkTag("COLL"), oneStructure.data()}, {chunkTag("STRC"), strc.data()}}));
	EXPECT_NE(imageError.find("voxels is larger than the rest of the chunk"), std::string::npos) << imageError;
}

std::string arrayError(const Bytes& payload, std::uint64_t size)
{
	try
	{
		PayloadReader r(payload, 0, "TEST");
		const PackedArray packed = r.array(size, "data");
		Bytes out(static_cast<std::size_t>(size));
		r.unpack(packed, out, "data");
		return r.remaining() == 0 ? "" : "bytes left";
	}
	catch (const OrbFormatError& e)
	{
		return e.what();
	}
}

TEST(OrbDamage, CompressedArraysDecodeToExactlyTheirStatedSize)
{
	// a run of zeros compresses far beyond the ratio taken on trust, so its size is counted first
	const Bytes ramp = [] {
		Bytes b(4096);
		for (std::size_t i = 0; i < b.size(); ++i)
			b[i] = static_cast<std::uint8_t>(i * i % 251);
		return b;
	}();
	const Bytes zeros(1 << 20, 0);
	for (OrbCodec codec : {OrbCodec::Zstd, OrbCodec::Deflate})
		for (const Bytes* data : {&ramp, &zeros})
		{
			PayloadWriter w({2, codec, 3});
			w.array(*data);
			const Bytes& packed = w.data();
			ASSERT_EQ(packed[0], static_cast<std::uint8_t>(codec));
			PayloadReader r(packed, 0, "TEST");
			Bytes out(data->size());
			r.unpack(r.array(data->size(), "data"), out, "data");
			EXPECT_EQ(out, *data);

			const std::string n = std::to_string(data->size());
			EXPECT_NE(arrayError(packed, data->size() + 1).find("decodes to " + n + " bytes of its"), std::string::npos);
			EXPECT_NE(arrayError(packed, data->size() - 1).find("decodes to more than its"), std::string::npos);
			// a claim no allocation could serve is refused by what the stream holds
			EXPECT_NE(arrayError(packed, std::uint64_t(1) << 50).find("chunk 'TEST': data: compressed data decodes to"),
			          std::string::npos);
			Bytes garbage = packed;
			std::fill(garbage.begin() + 9, garbage.end(), 0xAB);
			EXPECT_NE(arrayError(garbage, data->size()).find("damaged compressed data"), std::string::npos);
			Bytes cut(packed.begin(), packed.end() - 5);
			writeLittle(cut, 1, cut.size() - 9, 8);
			EXPECT_NE(arrayError(cut, data->size()), "") << int(codec);
		}
	Bytes unknown = {7, 0, 0, 0, 0, 0, 0, 0, 0};
	EXPECT_EQ(arrayError(unknown, 0), "chunk 'TEST': unknown codec 7 of data at offset 0");
}

TEST(OrbDamage, QuadraticRebuildsAreBounded)
{
	PayloadWriter coll;
	coll.string("GenericASC"), coll.u8(0), coll.string(""), coll.matrix(Eigen::Matrix4d::Identity());
	coll.u32(0), coll.i32(0);
	for (int i = 0; i < 6; ++i)
		coll.u32(0);
	coll.u32(OrbCollectionCodec::kMaxStructures + 1);
	EXPECT_NE(
	    decodeError(fileOfChunks({{chunkTag("COLL"), coll.data()}})).find("structure count 16385 exceeds the limit"),
	    std::string::npos);

	PayloadWriter many;
	many.u32(PropertiesCodec::kMaxEntries + 1);
	for (std::size_t i = 0; i <= PropertiesCodec::kMaxEntries; ++i)
		many.string(std::to_string(i)), many.u8(1), many.u8(0);
	PayloadReader r(many.data(), 0, "TEST");
	try
	{
		PropertiesCodec::read(r);
		FAIL() << "accepted more entries than the limit";
	}
	catch (const OrbFormatError& e)
	{
		EXPECT_EQ(std::string(e.what()), "chunk 'TEST': property count 16385 exceeds the limit of 16384 at offset 0");
	}
}

TEST(OrbDamage, PropertiesNestingIsBounded)
{
	Properties deep;
	for (int i = 0; i <= PropertiesCodec::kMaxDepth; ++i)
	{
		Properties outer;
		outer.setParam("p", deep);
		deep = outer;
	}
	PayloadWriter refused;
	EXPECT_THROW(PropertiesCodec::write(refused, deep), std::runtime_error);

	// a hand-made nesting far beyond the bound, as a hostile file would hold it
	PayloadWriter w;
	for (int i = 0; i < 10000; ++i)
		w.u32(1), w.string("p"), w.u8(9);
	w.u32(0);
	PayloadReader r(w.data(), 100, "TEST");
	try
	{
		PropertiesCodec::read(r);
		FAIL() << "accepted 10000 levels";
	}
	catch (const OrbFormatError& e)
	{
		EXPECT_NE(std::string(e.what()).find("nested deeper than 32 levels"), std::string::npos) << e.what();
	}
}

// ---- files on disk ----------------------------------------------------------------------------

class OrbFiles : public ::testing::Test
{
protected:
	void SetUp() override
	{
		m_dir = fs::temp_directory_path() / ("orb-test-" + std::to_string(::getpid()) + "-" +
		                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
		fs::remove_all(m_dir);
		fs::create_directories(m_dir);
	}
	void TearDown() override { fs::remove_all(m_dir); }

	std::vector<std::string> listing() const
	{
		std::vector<std::string> names;
		for (const auto& e : fs::directory_iterator(m_dir))
			names.push_back(e.path().filename().string());
		std::sort(names.begin(), names.end());
		return names;
	}

	fs::path m_dir;
};

/// Its configuration fails halfway through a save, like a disk that fills up.
class ThrowingComponent : public DataComponent<ThrowingComponent>
{
public:
	std::string id() const override { return "OrbTestThrowingComponent"; }
	void configuration(Properties*) const override { throw std::runtime_error("configuration unavailable"); }
};

TEST_F(OrbFiles, OpenAndSaveGoThroughTheRegistry)
{
	const std::string path = (m_dir / "Case.ORB").string();
	ASSERT_TRUE(DataIO::hasReader(".orb"));
	DataIO::save(*makeFullCollection(), path);
	std::unique_ptr<Data> loaded = DataIO::load(path);
	ASSERT_NE(dynamic_cast<GenericASC*>(loaded.get()), nullptr);
	EXPECT_EQ(OrbFile::encode(dynamic_cast<GenericASC&>(*loaded)), validFile());
	EXPECT_EQ(listing(), std::vector<std::string>{"Case.ORB"});
}

TEST_F(OrbFiles, InterruptedSaveKeepsThePreviousFile)
{
	DataComponentFactory::registerComponent<ThrowingComponent>();
	const std::string path = (m_dir / "case.orb").string();
	OrbFile::save(*makeFullCollection(), path);
	::chmod(path.c_str(), 0640);

	auto other = makeFullCollection();
	other->components().add(std::make_unique<ThrowingComponent>());
	try
	{
		OrbFile::save(*other, path);
		FAIL() << "the save went through";
	}
	catch (const std::runtime_error& e)
	{
		EXPECT_EQ(std::string(e.what()), "Cannot write '" + path + "': configuration unavailable");
	}
	EXPECT_EQ(listing(), std::vector<std::string>{"case.orb"});
	EXPECT_EQ(OrbFile::encode(*OrbFile::load(path)), validFile());

	// a completed replacement keeps the file's permissions
	GenericASC empty;
	OrbFile::save(empty, path);
	struct stat info
	{};
	ASSERT_EQ(::stat(path.c_str(), &info), 0);
	EXPECT_EQ(info.st_mode & 0777, 0640u);
	EXPECT_EQ(OrbFile::load(path)->numAnatomicalStructures(), 0);
}

TEST_F(OrbFiles, AtomicWriterCommitsOrLeavesNothing)
{
	const std::string path = (m_dir / "plain.bin").string();
	{
		AtomicFileWriter file(path);
		file.write(Bytes{1, 2, 3});
		EXPECT_TRUE(fs::exists(file.temporaryPath()));
		EXPECT_EQ(fs::path(file.temporaryPath()).parent_path(), m_dir);
	}
	EXPECT_TRUE(listing().empty());
	{
		AtomicFileWriter file(path);
		file.write(Bytes{4, 5});
		file.commit();
	}
	EXPECT_EQ(listing(), std::vector<std::string>{"plain.bin"});
	EXPECT_EQ(fs::file_size(path), 2u);
}

TEST_F(OrbFiles, FailuresNameTheFile)
{
	const std::string missingDir = (m_dir / "no" / "such.orb").string();
	try
	{
		OrbFile::save(GenericASC(), missingDir);
		FAIL();
	}
	catch (const std::runtime_error& e)
	{
		EXPECT_EQ(std::string(e.what()).rfind("Cannot write '" + missingDir + "': cannot create a temporary file", 0),
		          0u)
		    << e.what();
	}
	Mesh mesh;
	EXPECT_THROW(OrbFile::save(mesh, (m_dir / "mesh.orb").string()), std::runtime_error);
	EXPECT_TRUE(listing().empty());

	const std::string absent = (m_dir / "absent.orb").string();
	try
	{
		OrbFile::load(absent);
		FAIL();
	}
	catch (const std::runtime_error& e)
	{
		EXPECT_EQ(std::string(e.what()), "Cannot read '" + absent + "': cannot open the file");
	}
	const std::string text = (m_dir / "notes.orb").string();
	std::ofstream(text) << "hello";
	EXPECT_THROW(
	    {
		    try
		    {
			    OrbFile::load(text);
		    }
		    catch (const std::runtime_error& e)
		    {
			    EXPECT_EQ(std::string(e.what()), "Cannot read '" + text + "': not an .orb file (wrong magic number)");
			    throw;
		    }
	    },
	    std::runtime_error);
}

TEST(DataComponentFactory, CreatesRegisteredComponentsById)
{
	auto label = DataComponentFactory::create("LabelDataComponent");
	ASSERT_NE(label, nullptr);
	EXPECT_EQ(typeid(*label), typeid(LabelDataComponent));
	EXPECT_EQ(DataComponentFactory::create("NoSuchComponent"), nullptr);
	EXPECT_TRUE(DataComponentFactory::isRegistered("LabelDataComponent"));
}

}
}
