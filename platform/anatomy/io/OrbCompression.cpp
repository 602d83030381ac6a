#include "anatomy/io/OrbCompression.h"

#include "anatomy/io/OrbBytes.h"

#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

namespace Orbitane::OrbCompression {

namespace {

// Windows of up to 8 MiB serve every standard zstd level (1 to 19); a stream that asks for more is
// refused rather than let it allocate up to the library's default limit of 128 MiB.
constexpr int kZstdWindowLogMax = 23;
constexpr std::size_t kScratchBytes = 64 * 1024;

std::string bytesText(std::uint64_t n) { return std::to_string(n) + " bytes"; }

[[noreturn]] void failLonger(std::uint64_t size)
{
	throw OrbFormatError("compressed data decodes to more than its " + bytesText(size));
}

void checkLength(std::uint64_t decoded, std::uint64_t size)
{
	if (decoded > size)
		failLonger(size);
	if (decoded < size)
		throw OrbFormatError("compressed data decodes to " + bytesText(decoded) + " of its " + bytesText(size));
}

[[noreturn]] void failZstd(std::size_t code)
{
	throw OrbFormatError(std::string("damaged compressed data (") + ZSTD_getErrorName(code) + ")");
}

[[noreturn]] void failZlib(int code)
{
	throw OrbFormatError("damaged compressed data (zlib error " + std::to_string(code) + ")");
}

std::size_t compressZstd(int level, std::span<const std::uint8_t> bytes, std::uint8_t* out, std::size_t room)
{
	const std::size_t n = ZSTD_compress(out, room, bytes.data(), bytes.size(), level);
	if (ZSTD_isError(n))
		throw std::runtime_error(std::string("zstd compression failed: ") + ZSTD_getErrorName(n));
	return n;
}

std::size_t compressDeflate(int level, std::span<const std::uint8_t> bytes, std::uint8_t* out, std::size_t room)
{
	uLongf n = room;
	const int rc = compress2(out, &n, bytes.data(), bytes.size(), level);
	if (rc != Z_OK)
		throw std::runtime_error("deflate compression failed (zlib error " + std::to_string(rc) + ")");
	return n;
}

void decompressZstd(std::span<const std::uint8_t> stored, std::span<std::uint8_t> out)
{
	const std::size_t n = ZSTD_decompress(out.data(), out.size(), stored.data(), stored.size());
	if (ZSTD_getErrorCode(n) == ZSTD_error_dstSize_tooSmall)
		failLonger(out.size());
	if (ZSTD_isError(n))
		failZstd(n);
	checkLength(n, out.size());
}

void decompressDeflate(std::span<const std::uint8_t> stored, std::span<std::uint8_t> out)
{
	uLongf produced = out.size();
	uLong consumed = stored.size();
	const int rc = uncompress2(out.data(), &produced, stored.data(), &consumed);
	if (rc == Z_BUF_ERROR)
		failLonger(out.size());
	if (rc != Z_OK)
		failZlib(rc);
	checkLength(produced, out.size());
	if (consumed != stored.size())
		throw OrbFormatError(bytesText(stored.size() - consumed) + " after the end of the compressed data");
}

/// Decodes the whole stream through one small buffer and counts its bytes, stopping as soon as they
/// exceed limit.
std::uint64_t countZstd(std::span<const std::uint8_t> stored, std::uint64_t limit)
{
	std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
	if (!context)
		throw std::bad_alloc();
	ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, kZstdWindowLogMax);
	std::array<std::uint8_t, kScratchBytes> scratch;
	ZSTD_inBuffer in{stored.data(), stored.size(), 0};
	std::uint64_t decoded = 0;
	std::size_t pending = 1;    // nonzero while a frame is incomplete
	while (in.pos < in.size || pending != 0)
	{
		ZSTD_outBuffer out{scratch.data(), scratch.size(), 0};
		const std::size_t before = in.pos;
		pending = ZSTD_decompressStream(context.get(), &out, &in);
		if (ZSTD_isError(pending))
			failZstd(pending);
		decoded += out.pos;
		if (decoded > limit)
			break;
		// a frame cut off: all input taken, nothing more comes out
		if (pending != 0 && in.pos == in.size && in.pos == before && out.pos == 0)
			break;
	}
	return decoded;
}

std::uint64_t countDeflate(std::span<const std::uint8_t> stored, std::uint64_t limit)
{
	z_stream z{};
	if (inflateInit(&z) != Z_OK)
		throw std::bad_alloc();
	std::unique_ptr<z_stream, decltype(&inflateEnd)> guard(&z, inflateEnd);
	std::array<std::uint8_t, kScratchBytes> scratch;
	const std::uint8_t* next = stored.data();
	std::uint64_t left = stored.size();
	std::uint64_t decoded = 0;
	for (;;)
	{
		if (z.avail_in == 0)
		{
			z.next_in = const_cast<std::uint8_t*>(next);
			z.avail_in = static_cast<uInt>(std::min<std::uint64_t>(left, UINT_MAX));
			next += z.avail_in;
			left -= z.avail_in;
		}
		z.next_out = scratch.data();
		z.avail_out = static_cast<uInt>(scratch.size());
		const int rc = inflate(&z, Z_NO_FLUSH);
		decoded += scratch.size() - z.avail_out;
		if (rc == Z_STREAM_END)
		{
			if (z.avail_in > 0 || left > 0)
				throw OrbFormatError(bytesText(z.avail_in + left) + " after the end of the compressed data");
			return decoded;
		}
		if (rc == Z_BUF_ERROR && z.avail_in == 0 && left == 0)
			return decoded;    // cut off: the length check reports it
		if (rc != Z_OK)
			failZlib(rc);
		if (decoded > limit)
			return decoded;
	}
}

}

bool compress(OrbCodec codec, int level, std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out)
{
	if (codec == OrbCodec::Stored)
		return false;
	const std::size_t start = out.size();
	const std::size_t room = codec == OrbCodec::Zstd ? ZSTD_compressBound(bytes.size()) : compressBound(bytes.size());
	out.resize(start + room);
	const std::size_t n = codec == OrbCodec::Zstd ? compressZstd(level, bytes, out.data() + start, room)
	                                              : compressDeflate(level, bytes, out.data() + start, room);
	out.resize(n < bytes.size() ? start + n : start);
	return n < bytes.size();
}

void checkDecodedSize(OrbCodec codec, std::span<const std::uint8_t> stored, std::uint64_t size)
{
	if (codec == OrbCodec::Stored && stored.size() != size)
		throw OrbFormatError("stored data of " + bytesText(stored.size()) + " for an array of " + bytesText(size));
	if (codec == OrbCodec::Stored || size / kExpansionTakenOnTrust <= stored.size())
		return;
	checkLength(codec == OrbCodec::Zstd ? countZstd(stored, size) : countDeflate(stored, size), size);
}

void decompress(OrbCodec codec, std::span<const std::uint8_t> stored, std::span<std::uint8_t> out)
{
	if (codec == OrbCodec::Zstd)
		decompressZstd(stored, out);
	else if (codec == OrbCodec::Deflate)
		decompressDeflate(stored, out);
	else
		throw std::logic_error("decompress: the array is not compressed");
}

}
