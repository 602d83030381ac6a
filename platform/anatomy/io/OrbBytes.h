#pragma once

#include "anatomy/io/OrbCompression.h"

#include <Eigen/Core>

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace Orbitane {

/// A problem with the content of an .orb file; the message names the place but not the file,
/// which the caller adds.
class OrbFormatError : public std::runtime_error
{
public:
	using std::runtime_error::runtime_error;
};

/// The unsigned value of up to eight bytes stored little-endian, for fields read before any payload
/// reader exists (the file header, chunk lengths and checksums).
inline std::uint64_t readLittleEndian(std::span<const std::uint8_t> bytes)
{
	std::uint64_t v = 0;
	for (std::size_t i = 0; i < bytes.size(); ++i)
		v |= std::uint64_t(bytes[i]) << (8 * i);
	return v;
}

/// Appends little-endian values to a byte buffer. Doubles are written as their IEEE 754 bit
/// pattern, so NaN payloads and signed zeros survive a round trip.
class PayloadWriter
{
public:
	explicit PayloadWriter(OrbEncoding encoding = {}) : m_encoding(encoding) {}

	void u8(std::uint8_t v) { m_bytes.push_back(v); }
	void u16(std::uint16_t v) { little(v, 2); }
	void u32(std::uint32_t v) { little(v, 4); }
	void u64(std::uint64_t v) { little(v, 8); }
	void i32(std::int32_t v) { little(static_cast<std::uint32_t>(v), 4); }
	void f64(double v);
	/// Writes a count that the reader will compare with what its payload holds; throws
	/// std::runtime_error when it does not fit the 32-bit field.
	void count(std::size_t n);
	void string(std::string_view s);
	void bytes(std::span<const std::uint8_t> b) { m_bytes.insert(m_bytes.end(), b.begin(), b.end()); }
	/// A large array whose length the reader knows from the fields before it: from version 2 on
	/// packed (u8 codec, u64 stored length, stored bytes) and compressed unless that does not pay.
	void array(std::span<const std::uint8_t> b);

	template <int N>
	void vec(const Eigen::Matrix<double, N, 1>& v)
	{
		for (int i = 0; i < N; ++i)
			f64(v[i]);
	}
	void matrix(const Eigen::Matrix4d& m);

	const std::vector<std::uint8_t>& data() const { return m_bytes; }
	std::vector<std::uint8_t> take() { return std::move(m_bytes); }

private:
	void little(std::uint64_t v, int n)
	{
		for (int i = 0; i < n; ++i)
			m_bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
	}

	OrbEncoding m_encoding;
	std::vector<std::uint8_t> m_bytes;
};

/// An array located in a payload and checked to decode to its size; PayloadReader::unpack decodes it.
struct PackedArray
{
	OrbCodec codec;
	std::span<const std::uint8_t> stored;
	std::uint64_t offset;        // of the array's first field
	std::uint64_t dataOffset;    // of its stored bytes

	/// Where element i begins in the file when the array is stored as it is; the array's offset
	/// when it is compressed.
	std::uint64_t elementOffset(std::size_t i, std::size_t elementBytes) const
	{
		return codec == OrbCodec::Stored ? dataOffset + i * elementBytes : offset;
	}
};

/// Reads little-endian values from one chunk's payload and refuses every read that would run past
/// its end. Errors name the chunk and the absolute file offset of the failing field.
class PayloadReader
{
public:
	/// formatMajor is the file's major version, which says how arrays are stored.
	PayloadReader(std::span<const std::uint8_t> bytes, std::uint64_t fileOffset, std::string chunkName,
	              std::uint16_t formatMajor = OrbContainer::kVersionMajor);

	std::uint8_t u8();
	std::uint16_t u16();
	std::uint32_t u32();
	std::uint64_t u64();
	std::int32_t i32();
	double f64();
	bool boolean();
	std::string string();
	/// A string that names something (a key, an identifier): refused unless it is UTF-8, since
	/// nothing that is not can be listed from Python.
	std::string name(std::string_view what);
	/// A count of elements that each occupy at least minElementBytes; refused when the rest of the
	/// payload cannot hold that many, so that no caller allocates for data the file does not have.
	std::size_t count(std::size_t minElementBytes, std::string_view what);
	/// The next n bytes, checked against the rest of the payload.
	std::span<const std::uint8_t> bytes(std::uint64_t n, std::string_view what);
	/// The most bytes that an array starting here can decode to: what remains of the payload for
	/// files of version 1, where arrays are stored as they are, and what the codecs can expand that
	/// to from version 2 on. Callers refuse larger sizes before anything is allocated.
	std::uint64_t arrayCapacity() const;
	/// A count of array elements of elementBytes each, refused when the array cannot hold that many.
	std::size_t arrayCount(std::size_t elementBytes, std::string_view what);
	/// The next array (see PayloadWriter::array), refused unless it decodes to exactly size bytes;
	/// a compressed one whose size needs a high ratio is decoded once to confirm it.
	PackedArray array(std::uint64_t size, std::string_view what);
	/// Decodes an array of this payload into out, which has its size.
	void unpack(const PackedArray& array, std::span<std::uint8_t> out, std::string_view what) const;

	template <int N>
	Eigen::Matrix<double, N, 1> vec()
	{
		Eigen::Matrix<double, N, 1> v;
		for (int i = 0; i < N; ++i)
			v[i] = f64();
		return v;
	}
	Eigen::Matrix4d matrix();

	std::uint64_t remaining() const { return m_bytes.size() - m_pos; }
	std::uint64_t offset() const { return m_fileOffset + m_pos; }

	/// Throws OrbFormatError naming the chunk and the offset at which the failing field starts.
	[[noreturn]] void fail(std::string_view problem) const { failAt(problem, offset()); }
	[[noreturn]] void failAt(std::string_view problem, std::uint64_t fileOffset) const;

private:
	const std::uint8_t* take(std::size_t n, std::string_view what);
	std::uint64_t little(int n, std::string_view what);

	std::span<const std::uint8_t> m_bytes;
	std::size_t m_pos = 0;
	std::uint64_t m_fileOffset;
	std::string m_chunkName;
	std::uint16_t m_formatMajor;
};

}
