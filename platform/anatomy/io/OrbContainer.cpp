#include "anatomy/io/OrbContainer.h"

#include "anatomy/io/Crc32.h"
#include "anatomy/io/OrbBytes.h"
#include "data/DataIO.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace Orbitane {

namespace {

bool isTagChar(char c) { return c >= 0x20 && c <= 0x7E; }

std::string at(std::uint64_t offset) { return " at offset " + std::to_string(offset); }

/// Opening a FIFO or a device would block or read without end, and a directory reads as nothing:
/// only regular files are opened.
void checkRegularFile(const std::string& path)
{
	std::error_code ec;
	const auto type = std::filesystem::status(path, ec).type();
	if (type == std::filesystem::file_type::not_found)
		throw DataIO::FileAccessError(ENOENT, "cannot open the file");
	if (type == std::filesystem::file_type::directory)
		throw DataIO::FileAccessError(EISDIR, "it is a directory");
	if (!ec && type != std::filesystem::file_type::regular)
		throw DataIO::FileAccessError(0, "it is not a regular file");
}

}

std::string tagName(const ChunkTag& tag) { return std::string(tag.begin(), tag.end()); }

void MemoryByteSource::read(std::uint64_t offset, std::span<std::uint8_t> out) const
{
	if (!out.empty())
		std::memcpy(out.data(), m_bytes.data() + offset, out.size());
}

struct FileByteSource::Stream
{
	std::ifstream in;
};

FileByteSource::FileByteSource(const std::string& path) : m_stream(std::make_unique<Stream>())
{
	checkRegularFile(path);
	m_stream->in.open(path, std::ios::binary);
	if (!m_stream->in)
		throw std::runtime_error("cannot open the file");
	m_stream->in.seekg(0, std::ios::end);
	const std::streamoff end = m_stream->in.tellg();
	if (end < 0)
		throw std::runtime_error("cannot determine the file size");
	m_size = static_cast<std::uint64_t>(end);
}

FileByteSource::~FileByteSource() = default;

void FileByteSource::read(std::uint64_t offset, std::span<std::uint8_t> out) const
{
	m_stream->in.seekg(static_cast<std::streamoff>(offset));
	m_stream->in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
	if (!m_stream->in)
		throw std::runtime_error("read error at offset " + std::to_string(offset) + " (was the file changed?)");
}

OrbContainerWriter::OrbContainerWriter(Sink sink, std::uint16_t major) : m_sink(std::move(sink))
{
	PayloadWriter header;
	header.bytes(OrbContainer::kMagic);
	header.u16(major);
	header.u16(OrbContainer::kVersionMinor);
	header.u32(crc32(header.data()));
	m_sink(header.data());
}

void OrbContainerWriter::writeChunk(const ChunkTag& tag, std::span<const std::uint8_t> payload)
{
	PayloadWriter head;
	for (char c : tag)
		head.u8(static_cast<std::uint8_t>(c));
	head.u64(payload.size());
	PayloadWriter tail;
	tail.u32(crc32(payload, crc32(head.data())));
	m_sink(head.data());
	m_sink(payload);
	m_sink(tail.data());
	++m_chunks;
}

void OrbContainerWriter::finish()
{
	PayloadWriter end;
	end.u32(m_chunks);
	writeChunk(OrbContainer::kEndTag, end.data());
}

OrbContainerReader::OrbContainerReader(const ByteSource& source) : m_source(source) { readHeader(); }

void OrbContainerReader::readHeader()
{
	std::array<std::uint8_t, OrbContainer::kHeaderSize> h{};
	const std::uint64_t have = std::min<std::uint64_t>(m_source.size(), h.size());
	m_source.read(0, std::span(h).first(have));
	if (!std::equal(OrbContainer::kMagic.begin(), OrbContainer::kMagic.begin() + std::min<std::uint64_t>(have, 8),
	                h.begin()))
		throw OrbFormatError("not an .orb file (wrong magic number)");
	if (have < h.size())
		throw OrbFormatError("truncated file header (" + std::to_string(have) + " of " + std::to_string(h.size()) +
		                     " bytes)");
	if (crc32(std::span(h).first(12)) != readLittleEndian(std::span(h).subspan(12, 4)))
		throw OrbFormatError("corrupted file header (CRC mismatch)");
	m_major = static_cast<std::uint16_t>(readLittleEndian(std::span(h).subspan(8, 2)));
	m_minor = static_cast<std::uint16_t>(readLittleEndian(std::span(h).subspan(10, 2)));
	if (m_major < OrbContainer::kOldestVersionMajor || m_major > OrbContainer::kVersionMajor)
		throw OrbFormatError("unsupported format version " + std::to_string(m_major) + "." + std::to_string(m_minor) +
		                     " (this reader reads versions " + std::to_string(OrbContainer::kOldestVersionMajor) +
		                     ".x to " + std::to_string(OrbContainer::kVersionMajor) + ".x)");
	m_pos = h.size();
}

ChunkTag OrbContainerReader::readTag(std::uint64_t offset) const
{
	std::array<std::uint8_t, 4> raw{};
	m_source.read(offset, raw);
	ChunkTag tag;
	std::copy(raw.begin(), raw.end(), tag.begin());
	if (!std::all_of(tag.begin(), tag.end(), isTagChar))
		throw OrbFormatError("invalid chunk type" + at(offset));
	return tag;
}

std::optional<OrbChunk> OrbContainerReader::next()
{
	if (m_done)
		return std::nullopt;
	const std::uint64_t size = m_source.size();
	const std::uint64_t start = m_pos;
	if (start == size)
		throw OrbFormatError("truncated file: no end chunk" + at(start));
	if (size - start < 4)
		throw OrbFormatError("truncated chunk header" + at(start));
	OrbChunk chunk{readTag(start), start, start + OrbContainer::kChunkHeaderSize, {}};
	const std::string name = "'" + tagName(chunk.tag) + "'";
	if (size - start < OrbContainer::kChunkHeaderSize)
		throw OrbFormatError("truncated chunk " + name + at(start));

	std::array<std::uint8_t, 8> lengthBytes{};
	m_source.read(start + 4, lengthBytes);
	const std::uint64_t length = readLittleEndian(lengthBytes);
	const std::uint64_t room = size - chunk.payloadOffset;
	if (room < OrbContainer::kChunkTrailerSize || length > room - OrbContainer::kChunkTrailerSize)
		throw OrbFormatError("truncated chunk " + name + at(start) + " (payload of " + std::to_string(length) +
		                     " bytes, " + std::to_string(room) + " bytes left in the file)");

	chunk.payload.resize(static_cast<std::size_t>(length));
	m_source.read(chunk.payloadOffset, chunk.payload);
	std::array<std::uint8_t, 4> crcBytes{};
	m_source.read(chunk.payloadOffset + length, crcBytes);
	std::array<std::uint8_t, 12> head{};
	m_source.read(start, head);
	if (crc32(chunk.payload, crc32(head)) != readLittleEndian(crcBytes))
		throw OrbFormatError("corrupted chunk " + name + at(start) + " (CRC mismatch)");

	m_pos = chunk.payloadOffset + length + OrbContainer::kChunkTrailerSize;
	if (chunk.tag == OrbContainer::kEndTag)
	{
		checkEnd(chunk);
		m_done = true;
		return std::nullopt;
	}
	++m_chunks;
	return chunk;
}

void OrbContainerReader::checkEnd(const OrbChunk& end) const
{
	PayloadReader r(end.payload, end.payloadOffset, tagName(end.tag), m_major);
	const std::uint32_t expected = r.u32();
	if (expected != m_chunks)
		throw OrbFormatError("end chunk" + at(end.offset) + " counts " + std::to_string(expected) +
		                     " chunks but the file has " + std::to_string(m_chunks));
	if (m_pos != m_source.size())
		throw OrbFormatError(std::to_string(m_source.size() - m_pos) + " bytes of trailing data after the end chunk" +
		                     at(m_pos));
}

}
