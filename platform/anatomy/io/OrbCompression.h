#pragma once

// The codecs of the large arrays of .orb files (voxels, vertices, faces, ...). Both are libraries
// that every system ships and keeps: zstd, which the writer uses by default, and deflate (zlib),
// which the measurements in bench/bench_orb_compression.py weighed against it.

#include "anatomy/io/OrbContainer.h"

#include <cstdint>
#include <span>
#include <vector>

namespace Orbitane {

/// How an array's bytes are stored; the values are written to files and never renumbered.
enum class OrbCodec : std::uint8_t
{
	Stored = 0,
	Zstd = 1,
	Deflate = 2,    // a zlib stream
};

/// What a writer produces: the format version, and from version 2 on how arrays are compressed.
/// Version 1 (arrays as they are) is written only to make files for readers of that version.
struct OrbEncoding
{
	std::uint16_t major = OrbContainer::kVersionMajor;
	OrbCodec codec = OrbCodec::Zstd;
	int level = 1;    // zstd's fastest: measured, higher levels cost more time than they save bytes
};

namespace OrbCompression {

/// Arrays shorter than this are stored as they are: compressing them saves less than it costs.
inline constexpr std::size_t kMinCompressedBytes = 64;

/// Appends bytes compressed with codec at level to out and returns true; returns false and leaves
/// out as it was when the result would not be smaller, or codec is Stored.
bool compress(OrbCodec codec, int level, std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out);

/// Sizes up to this many times the stored bytes are allocated before decoding; larger ones are
/// confirmed first (see checkDecodedSize).
inline constexpr std::uint64_t kExpansionTakenOnTrust = 32;

/// Confirms that stored decodes to exactly size bytes before anything of that size is allocated: a
/// stream's own header may claim any size, so a size beyond kExpansionTakenOnTrust times the stored
/// bytes is first decoded through a small buffer and counted. Throws OrbFormatError as decompress.
void checkDecodedSize(OrbCodec codec, std::span<const std::uint8_t> stored, std::uint64_t size);

/// Decodes stored into exactly out.size() bytes. Throws OrbFormatError naming the problem for a
/// damaged stream, one that yields more than out holds, or one that ends before filling it.
void decompress(OrbCodec codec, std::span<const std::uint8_t> stored, std::span<std::uint8_t> out);

}

}
