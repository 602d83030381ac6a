#include "anatomy/io/OrbBytes.h"

#include "core/String.h"

#include <bit>
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

void PayloadWriter::matrix(const Eigen::Matrix4d& m)
{
	// Column-major, as Eigen stores it.
	for (int i = 0; i < 16; ++i)
		f64(m.data()[i]);
}

PayloadReader::PayloadReader(std::span<const std::uint8_t> bytes, std::uint64_t fileOffset, std::string chunkName)
    : m_bytes(bytes), m_fileOffset(fileOffset), m_chunkName(std::move(chunkName))
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

Eigen::Matrix4d PayloadReader::matrix()
{
	Eigen::Matrix4d m;
	for (int i = 0; i < 16; ++i)
		m.data()[i] = f64();
	return m;
}

}
