#include "anatomy/io/OrbBytes.h"

#include "core/String.h"

#include <bit>
#include <cstring>
#include <limits>

namespace Orbitane {

void PayloadWriter::f64(double v) { u64(std::bit_cast<std::uint64_t>(v)); }

void PayloadWriter::count(std::size_t n)
{
	if (n > std::numeric_limits<std::uint32_t>::max())
		throw std::runtime_error("too many elements for the file format (" + std::to_string(n) + ")");
	u32(static_cast<std::uint32_t>(n));
}

void PayloadWriter::string(std::string_view s)
{
	count(s.size());
	m_bytes.insert(m_bytes.end(), s.begin(), s.end());
}

void PayloadWriter::array(std::span<const std::uint8_t> b)
{
	if (m_encoding.major < 2)
		return bytes(b);
	const std::size_t start = m_bytes.size();
	u8(static_cast<std::uint8_t>(OrbCodec::Stored));
	u64(0);
	const std::size_t data = m_bytes.size();
	if (b.size() >= OrbCompression::kMinCompressedBytes &&
	    OrbCompression::compress(m_encoding.codec, m_encoding.level, b, m_bytes))
		m_bytes[start] = static_cast<std::uint8_t>(m_encoding.codec);
	else
		bytes(b);
	const std::uint64_t stored = m_bytes.size() - data;
	for (int i = 0; i < 8; ++i)
		m_bytes[start + 1 + i] = static_cast<std::uint8_t>(stored >> (8 * i));
}

void PayloadWriter::matrix(const Eigen::Matrix4d& m)
{
	// Column-major, as Eigen stores it.
	for (int i = 0; i < 16; ++i)
		f64(m.data()[i]);
}

PayloadReader::PayloadReader(std::span<const std::uint8_t> bytes, std::uint64_t fileOffset, std::string chunkName,
                             std::uint16_t formatMajor)
    : m_bytes(bytes), m_fileOffset(fileOffset), m_chunkName(std::move(chunkName)), m_formatMajor(formatMajor)
{}

void PayloadReader::failAt(std::string_view problem, std::uint64_t fileOffset) const
{
	throw OrbFormatError("chunk '" + m_chunkName + "': " + std::string(problem) + " at offset " +
	                     std::to_string(fileOffset));
}

const std::uint8_t* PayloadReader::take(std::size_t n, std::string_view what)
{
	if (n > remaining())
		fail(std::string(what) + " needs " + std::to_string(n) + " bytes but the chunk has " +
		     std::to_string(remaining()) + " left");
	const std::uint8_t* p = m_bytes.data() + m_pos;
	m_pos += n;
	return p;
}

std::uint64_t PayloadReader::little(int n, std::string_view what)
{
	const std::uint8_t* p = take(static_cast<std::size_t>(n), what);
	std::uint64_t v = 0;
	for (int i = 0; i < n; ++i)
		v |= std::uint64_t(p[i]) << (8 * i);
	return v;
}

std::uint8_t PayloadReader::u8() { return static_cast<std::uint8_t>(little(1, "a byte")); }
std::uint16_t PayloadReader::u16() { return static_cast<std::uint16_t>(little(2, "a 16-bit value")); }
std::uint32_t PayloadReader::u32() { return static_cast<std::uint32_t>(little(4, "a 32-bit value")); }
std::uint64_t PayloadReader::u64() { return little(8, "a 64-bit value"); }
std::int32_t PayloadReader::i32() { return static_cast<std::int32_t>(u32()); }
double PayloadReader::f64() { return std::bit_cast<double>(little(8, "a double")); }

bool PayloadReader::boolean()
{
	const std::uint64_t at = offset();
	const std::uint8_t v = u8();
	if (v > 1)
		failAt("invalid boolean " + std::to_string(v), at);
	return v == 1;
}

std::string PayloadReader::string()
{
	const std::size_t n = count(1, "string length");
	if (n == 0)
		return {};
	const std::uint8_t* p = take(n, "a string");
	return std::string(reinterpret_cast<const char*>(p), n);
}

std::string PayloadReader::name(std::string_view what)
{
	const std::uint64_t at = offset();
	std::string text = string();
	if (!String::isUtf8(text))
		failAt(std::string(what) + " '" + String::withValidUtf8(text) + "' is not valid UTF-8", at);
	return text;
}

std::size_t PayloadReader::count(std::size_t minElementBytes, std::string_view what)
{
	const std::uint64_t at = offset();
	const std::uint64_t n = u32();
	if (minElementBytes > 0 && n > remaining() / minElementBytes)
		failAt(std::string(what) + " " + std::to_string(n) + " exceeds what the remaining " +
		           std::to_string(remaining()) + " bytes of the chunk can hold",
		       at);
	return static_cast<std::size_t>(n);
}

std::span<const std::uint8_t> PayloadReader::bytes(std::uint64_t n, std::string_view what)
{
	if (n > remaining())
		fail(std::string(what) + " needs " + std::to_string(n) + " bytes but the chunk has " +
		     std::to_string(remaining()) + " left");
	return {take(static_cast<std::size_t>(n), what), static_cast<std::size_t>(n)};
}

std::uint64_t PayloadReader::arrayCapacity() const
{
	// zstd's densest blocks code 128 KiB in 4 bytes; deflate reaches 1032 to 1
	constexpr std::uint64_t kMaxExpansion = 32768;
	if (m_formatMajor < 2)
		return remaining();
	constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
	return remaining() > kMax / kMaxExpansion ? kMax : remaining() * kMaxExpansion;
}

std::size_t PayloadReader::arrayCount(std::size_t elementBytes, std::string_view what)
{
	const std::uint64_t at = offset();
	const std::uint64_t n = u32();
	if (n > arrayCapacity() / elementBytes)
		failAt(std::string(what) + " " + std::to_string(n) + " exceeds what the remaining " +
		           std::to_string(remaining()) + " bytes of the chunk can hold",
		       at);
	return static_cast<std::size_t>(n);
}

PackedArray PayloadReader::array(std::uint64_t size, std::string_view what)
{
	const std::uint64_t at = offset();
	if (m_formatMajor < 2)
		return {OrbCodec::Stored, bytes(size, what), at, at};
	const std::uint8_t codec = u8();
	if (codec > static_cast<std::uint8_t>(OrbCodec::Deflate))
		failAt("unknown codec " + std::to_string(codec) + " of " + std::string(what), at);
	const std::uint64_t storedLength = u64();
	const std::uint64_t dataAt = offset();
	PackedArray packed{static_cast<OrbCodec>(codec), bytes(storedLength, what), at, dataAt};
	try
	{
		OrbCompression::checkDecodedSize(packed.codec, packed.stored, size);
	}
	catch (const OrbFormatError& e)
	{
		failAt(std::string(what) + ": " + e.what(), at);
	}
	return packed;
}

void PayloadReader::unpack(const PackedArray& array, std::span<std::uint8_t> out, std::string_view what) const
{
	if (array.codec == OrbCodec::Stored)
	{
		if (!out.empty())
			std::memcpy(out.data(), array.stored.data(), out.size());
		return;
	}
	try
	{
		OrbCompression::decompress(array.codec, array.stored, out);
	}
	catch (const OrbFormatError& e)
	{
		failAt(std::string(what) + ": " + e.what(), array.offset);
	}
}

Eigen::Matrix4d PayloadReader::matrix()
{
	Eigen::Matrix4d m;
	for (int i = 0; i < 16; ++i)
		m.data()[i] = f64();
	return m;
}

}
