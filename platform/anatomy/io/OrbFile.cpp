#include "anatomy/io/OrbFile.h"

#include "anatomy/io/AtomicFileWriter.h"
#include "anatomy/io/OrbBytes.h"
#include "anatomy/io/OrbCollectionCodec.h"
#include "anatomy/io/OrbContainer.h"
#include "data/DataIO.h"

namespace Orbitane::OrbFile {

namespace {

constexpr ChunkTag kCollectionTag = chunkTag("COLL");
constexpr ChunkTag kStructureTag = chunkTag("STRC");

/// Collects the known chunks in the order the format requires; unknown chunks are skipped so that
/// files of later minor versions stay readable.
class CollectionAssembler
{
public:
	CollectionAssembler(std::uint16_t fileMajor, std::uint16_t fileMinor) : m_fileMajor(fileMajor), m_fileMinor(fileMinor)
	{}

	void add(const OrbChunk& chunk)
	{
		if (chunk.tag == kCollectionTag)
			addCollection(chunk);
		else if (chunk.tag == kStructureTag)
			addStructure(chunk);
	}

	std::unique_ptr<AnatomicalStructureCollection> finish()
	{
		if (!m_collection)
			throw OrbFormatError("the file holds no collection chunk");
		if (m_structuresRead != m_structuresAnnounced)
			throw OrbFormatError("the collection announces " + std::to_string(m_structuresAnnounced) +
			                     " structures but the file holds " + std::to_string(m_structuresRead));
		return std::move(m_collection);
	}

private:
	PayloadReader reader(const OrbChunk& chunk) const
	{
		return PayloadReader(chunk.payload, chunk.payloadOffset, tagName(chunk.tag), m_fileMajor);
	}

	/// A later minor version may append fields to a known chunk; for this version every byte counts.
	void checkConsumed(const PayloadReader& r) const
	{
		if (r.remaining() > 0 && m_fileMinor <= OrbContainer::kVersionMinor)
			r.fail(std::to_string(r.remaining()) + " unexpected bytes at the end of the chunk");
	}

	void addCollection(const OrbChunk& chunk)
	{
		if (m_collection)
			throw OrbFormatError("second collection chunk at offset " + std::to_string(chunk.offset));
		PayloadReader r = reader(chunk);
		m_collection = OrbCollectionCodec::readCollection(r, m_structuresAnnounced);
		checkConsumed(r);
	}

	void addStructure(const OrbChunk& chunk)
	{
		if (!m_collection)
			throw OrbFormatError("structure chunk before the collection chunk at offset " +
			                     std::to_string(chunk.offset));
		PayloadReader r = reader(chunk);
		auto structure = OrbCollectionCodec::readStructure(r);
		checkConsumed(r);
		const std::string identifier = structure->identifier();
		if (!m_collection->addAnatomicalStructure(std::move(structure)))
			throw OrbFormatError("chunk 'STRC' at offset " + std::to_string(chunk.offset) + ": structure '" +
			                     identifier + "' refused by the collection (identifier taken or 2-D flag differs)");
		++m_structuresRead;
	}

	std::uint16_t m_fileMajor;
	std::uint16_t m_fileMinor;
	std::unique_ptr<AnatomicalStructureCollection> m_collection;
	std::size_t m_structuresAnnounced = 0;
	std::size_t m_structuresRead = 0;
};

/// Everything that goes wrong while reading becomes one error naming the file: damaged content,
/// but also refusals of the data library (std::invalid_argument) for values the checks let pass.
template <typename F>
auto namingFile(const char* verb, const std::string& path, F&& f)
{
	try
	{
		return f();
	}
	catch (const FileWriteError&)
	{
		throw;
	}
	catch (const DataIO::FileAccessError& e)
	{
		throw DataIO::FileAccessError(e.errorCode(), std::string(verb) + " '" + path + "': " + e.what());
	}
	catch (const std::exception& e)
	{
		throw std::runtime_error(std::string(verb) + " '" + path + "': " + e.what());
	}
}

}

void write(const AnatomicalStructureCollection& collection,
           const std::function<void(std::span<const std::uint8_t>)>& sink, const OrbEncoding& encoding)
{
	if (encoding.major < OrbContainer::kOldestVersionMajor || encoding.major > OrbContainer::kVersionMajor)
		throw std::invalid_argument("no .orb format version " + std::to_string(encoding.major) + " to write");
	OrbContainerWriter container(sink, encoding.major);
	{
		PayloadWriter w(encoding);
		OrbCollectionCodec::writeCollection(w, collection);
		container.writeChunk(kCollectionTag, w.data());
	}
	for (int i = 0; i < collection.numAnatomicalStructures(); ++i)
	{
		PayloadWriter w(encoding);
		OrbCollectionCodec::writeStructure(w, *collection.anatomicalStructure(i));
		container.writeChunk(kStructureTag, w.data());
	}
	container.finish();
}

std::vector<std::uint8_t> encode(const AnatomicalStructureCollection& collection, const OrbEncoding& encoding)
{
	std::vector<std::uint8_t> bytes;
	write(
	    collection, [&](std::span<const std::uint8_t> piece) { bytes.insert(bytes.end(), piece.begin(), piece.end()); },
	    encoding);
	return bytes;
}

void save(const Data& data, const std::string& path, const OrbEncoding& encoding)
{
	auto collection = dynamic_cast<const AnatomicalStructureCollection*>(&data);
	if (!collection)
		throw std::runtime_error("Cannot write '" + path +
		                         "': only anatomical structure collections can be saved as .orb");
	namingFile("Cannot write", path, [&] {
		AtomicFileWriter file(path);
		write(*collection, [&](std::span<const std::uint8_t> piece) { file.write(piece); }, encoding);
		file.commit();
	});
}

std::unique_ptr<AnatomicalStructureCollection> read(const ByteSource& source)
{
	OrbContainerReader container(source);
	CollectionAssembler assembler(container.versionMajor(), container.versionMinor());
	while (auto chunk = container.next())
		assembler.add(*chunk);
	return assembler.finish();
}

std::unique_ptr<AnatomicalStructureCollection> decode(std::span<const std::uint8_t> bytes, const std::string& name)
{
	return namingFile("Cannot read", name, [&] { return read(MemoryByteSource(bytes)); });
}

std::unique_ptr<AnatomicalStructureCollection> load(const std::string& path)
{
	return namingFile("Cannot read", path, [&] {
		FileByteSource source(path);
		return read(source);
	});
}

}
