#include "anatomy/io/OrbObject.h"

#include "anatomy/io/DataObjectCodec.h"
#include "anatomy/io/OrbBytes.h"
#include "anatomy/io/OrbCollectionCodec.h"
#include "anatomy/io/OrbContainer.h"
#include "anatomy/io/OrbFile.h"
#include "anatomy/io/PropertiesCodec.h"

#include <algorithm>
#include <array>
#include <functional>
#include <optional>

namespace Orbitane::OrbObject {

namespace {

constexpr ChunkTag kCollectionTag = chunkTag("COLL");
constexpr ChunkTag kStructureTag = chunkTag("STRC");
constexpr ChunkTag kImageSetTag = chunkTag("IMGS");
constexpr ChunkTag kMeshTag = chunkTag("MESH");
constexpr ChunkTag kPointCloudTag = chunkTag("PCLD");
constexpr ChunkTag kGraphTag = chunkTag("GRPH");
constexpr ChunkTag kPropertiesTag = chunkTag("PROP");
constexpr std::array kDataTags = {kCollectionTag, kImageSetTag, kMeshTag, kPointCloudTag, kGraphTag};

std::vector<std::uint8_t> singleChunk(const ChunkTag& tag, const std::function<void(PayloadWriter&)>& writePayload)
{
	PayloadWriter payload;
	writePayload(payload);
	std::vector<std::uint8_t> bytes;
	OrbContainerWriter container(
	    [&](std::span<const std::uint8_t> piece) { bytes.insert(bytes.end(), piece.begin(), piece.end()); });
	container.writeChunk(tag, payload.data());
	container.finish();
	return bytes;
}

template <typename T>
std::optional<std::vector<std::uint8_t>> encodeAs(const Data& data, const ChunkTag& tag)
{
	auto typed = dynamic_cast<const T*>(&data);
	if (!typed)
		return std::nullopt;
	return singleChunk(tag, [&](PayloadWriter& w) { DataObjectCodec::write(w, *typed); });
}

/// The next chunk with one of the known tags; chunks of other tags are skipped, as in files, so
/// that later minor versions may add some.
std::optional<OrbChunk> nextKnown(OrbContainerReader& container, std::span<const ChunkTag> known)
{
	while (auto chunk = container.next())
		if (std::find(known.begin(), known.end(), chunk->tag) != known.end())
			return chunk;
	return std::nullopt;
}

/// Parses the payload of a chunk whole: every byte counts, except that a newer minor version may
/// append fields.
template <typename F>
auto parsePayload(const OrbChunk& chunk, const OrbContainerReader& container, F&& parse)
{
	PayloadReader r(chunk.payload, chunk.payloadOffset, tagName(chunk.tag), container.versionMajor());
	auto result = parse(r);
	if (r.remaining() > 0 && container.versionMinor() <= OrbContainer::kVersionMinor)
		r.fail(std::to_string(r.remaining()) + " unexpected bytes at the end of the chunk");
	return result;
}

/// Everything that goes wrong while decoding, damaged bytes or values the data library refuses,
/// becomes one error of one wording.
template <typename F>
auto decoding(F&& f)
{
	try
	{
		return f();
	}
	catch (const std::exception& e)
	{
		throw std::runtime_error(std::string("not an intact encoded object: ") + e.what());
	}
}

/// Reads the rest of the container after its object chunk: a second object is damage, and the end
/// chunk must close the bytes.
void checkRest(OrbContainerReader& container, std::span<const ChunkTag> known)
{
	if (auto extra = nextKnown(container, known))
		throw OrbFormatError("second object chunk '" + tagName(extra->tag) + "' at offset " +
		                     std::to_string(extra->offset));
}

template <typename Parse>
auto decodeSingle(std::span<const std::uint8_t> bytes, std::span<const ChunkTag> known, Parse&& parse)
{
	MemoryByteSource source(bytes);
	OrbContainerReader container(source);
	auto chunk = nextKnown(container, known);
	if (!chunk)
		throw OrbFormatError("the container holds no object of the kind asked for");
	auto object =
	    parsePayload(*chunk, container, [&](PayloadReader& r) { return parse(chunk->tag, r); });
	checkRest(container, known);
	return object;
}

std::unique_ptr<Data> readDataObject(const ChunkTag& tag, PayloadReader& r)
{
	if (tag == kImageSetTag)
		return DataObjectCodec::readImageSet(r);
	if (tag == kMeshTag)
		return DataObjectCodec::readMesh(r);
	if (tag == kPointCloudTag)
		return DataObjectCodec::readPointCloud(r);
	return DataObjectCodec::readGraph(r);
}

}

std::vector<std::uint8_t> encode(const Data& data)
{
	if (auto collection = dynamic_cast<const AnatomicalStructureCollection*>(&data))
		return OrbFile::encode(*collection);
	if (auto bytes = encodeAs<SharedImageSet>(data, kImageSetTag))
		return *bytes;
	if (auto bytes = encodeAs<Mesh>(data, kMeshTag))
		return *bytes;
	if (auto bytes = encodeAs<PointCloud>(data, kPointCloudTag))
		return *bytes;
	if (auto bytes = encodeAs<Graph>(data, kGraphTag))
		return *bytes;
	throw std::runtime_error("data objects of this kind (" + data.describe() + ") cannot be encoded");
}

std::vector<std::uint8_t> encode(const AnatomicalStructure& structure)
{
	return singleChunk(kStructureTag, [&](PayloadWriter& w) { OrbCollectionCodec::writeStructure(w, structure); });
}

std::vector<std::uint8_t> encode(const Properties& properties)
{
	return singleChunk(kPropertiesTag, [&](PayloadWriter& w) { PropertiesCodec::write(w, properties); });
}

std::unique_ptr<Data> decodeData(std::span<const std::uint8_t> bytes)
{
	return decoding([&]() -> std::unique_ptr<Data> {
		MemoryByteSource source(bytes);
		OrbContainerReader container(source);
		auto first = nextKnown(container, kDataTags);
		if (!first)
			throw OrbFormatError("the container holds no data object");
		// a collection spans several chunks: the file reader assembles it from the start
		if (first->tag == kCollectionTag)
			return OrbFile::read(source);
		auto data = parsePayload(*first, container,
		                         [&](PayloadReader& r) { return readDataObject(first->tag, r); });
		checkRest(container, kDataTags);
		return data;
	});
}

std::unique_ptr<AnatomicalStructure> decodeStructure(std::span<const std::uint8_t> bytes)
{
	return decoding([&] {
		return decodeSingle(bytes, std::span(&kStructureTag, 1),
		                    [](const ChunkTag&, PayloadReader& r) { return OrbCollectionCodec::readStructure(r); });
	});
}

Properties decodeProperties(std::span<const std::uint8_t> bytes)
{
	return decoding([&] {
		return decodeSingle(bytes, std::span(&kPropertiesTag, 1),
		                    [](const ChunkTag&, PayloadReader& r) { return PropertiesCodec::read(r); });
	});
}

}
