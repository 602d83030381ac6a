#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace Orbitane {

/// Four ASCII characters naming a chunk.
using ChunkTag = std::array<char, 4>;

constexpr ChunkTag chunkTag(const char (&s)[5]) { return {s[0], s[1], s[2], s[3]}; }
std::string tagName(const ChunkTag& tag);

/// Layout constants of the container; docs/orb-format.md describes them.
namespace OrbContainer {

inline constexpr std::array<std::uint8_t, 8> kMagic = {0x89, 'O', 'R', 'B', '\r', '\n', 0x1A, '\n'};
// Version 2 compresses the large arrays; files of version 1, where they are stored as they are,
// still read.
inline constexpr std::uint16_t kVersionMajor = 2;
inline constexpr std::uint16_t kVersionMinor = 0;
inline constexpr std::uint16_t kOldestVersionMajor = 1;
inline constexpr std::size_t kHeaderSize = 16;         // magic, major, minor, CRC-32
inline constexpr std::size_t kChunkHeaderSize = 12;    // tag, 64-bit payload length
inline constexpr std::size_t kChunkTrailerSize = 4;    // CRC-32
inline constexpr ChunkTag kEndTag = chunkTag("END ");

}

/// Random access to the bytes of a file or of a buffer.
class ByteSource
{
public:
	virtual ~ByteSource() = default;
	virtual std::uint64_t size() const = 0;
	/// Fills out from offset; the caller has checked offset + out.size() <= size().
	virtual void read(std::uint64_t offset, std::span<std::uint8_t> out) const = 0;
};

class MemoryByteSource : public ByteSource
{
public:
	explicit MemoryByteSource(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
	std::uint64_t size() const override { return m_bytes.size(); }
	void read(std::uint64_t offset, std::span<std::uint8_t> out) const override;

private:
	std::span<const std::uint8_t> m_bytes;
};

/// Reads a file through one open stream; the size is taken once, when the file is opened.
class FileByteSource : public ByteSource
{
public:
	/// Throws std::runtime_error when the file cannot be opened, DataIO::FileAccessError when the
	/// path names no regular file (before opening it, which could block).
	explicit FileByteSource(const std::string& path);
	~FileByteSource() override;
	std::uint64_t size() const override { return m_size; }
	void read(std::uint64_t offset, std::span<std::uint8_t> out) const override;

private:
	struct Stream;
	std::unique_ptr<Stream> m_stream;
	std::uint64_t m_size = 0;
};

/// Writes the file header on construction and one chunk per writeChunk. finish() appends the end
/// chunk, whose count of preceding chunks lets a reader tell a complete file from one cut off at a
/// chunk boundary.
class OrbContainerWriter
{
public:
	using Sink = std::function<void(std::span<const std::uint8_t>)>;

	/// major is the version written in the header; minor is always kVersionMinor.
	explicit OrbContainerWriter(Sink sink, std::uint16_t major = OrbContainer::kVersionMajor);
	void writeChunk(const ChunkTag& tag, std::span<const std::uint8_t> payload);
	void finish();

private:
	Sink m_sink;
	std::uint32_t m_chunks = 0;
};

struct OrbChunk
{
	ChunkTag tag;
	std::uint64_t offset;    // of the chunk's first byte in the file
	std::uint64_t payloadOffset;
	std::vector<std::uint8_t> payload;
};

/// Walks the chunks of a container. Every length is compared with the bytes the source holds
/// before anything is allocated, and every chunk's CRC is verified before its payload is handed
/// out. Errors are OrbFormatError.
class OrbContainerReader
{
public:
	/// Reads and checks the file header.
	explicit OrbContainerReader(const ByteSource& source);

	std::uint16_t versionMajor() const { return m_major; }
	std::uint16_t versionMinor() const { return m_minor; }

	/// The next chunk before the end chunk, or nothing once the end chunk has been read and found
	/// to close the file.
	std::optional<OrbChunk> next();

private:
	void readHeader();
	ChunkTag readTag(std::uint64_t at) const;
	void checkEnd(const OrbChunk& end) const;

	const ByteSource& m_source;
	std::uint16_t m_major = 0;
	std::uint16_t m_minor = 0;
	std::uint64_t m_pos = 0;
	std::uint32_t m_chunks = 0;
	bool m_done = false;
};

}
