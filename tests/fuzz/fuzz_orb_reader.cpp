// libFuzzer target for the .orb reader, of files and of single objects (what pickles carry). Every
// input must either decode or fail with std::runtime_error; any other exception, a crash, a leak, a hang or a huge allocation is a
// finding. Built and run by tools/fuzz-orb.

#include "anatomy/io/Crc32.h"
#include "anatomy/io/OrbBytes.h"
#include "anatomy/io/OrbFile.h"
#include "anatomy/io/OrbObject.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

namespace {

void writeCrc(std::vector<std::uint8_t>& b, std::size_t at, std::span<const std::uint8_t> covered)
{
	const std::uint32_t crc = Orbitane::crc32(covered);
	for (int i = 0; i < 4; ++i)
		b[at + i] = static_cast<std::uint8_t>(crc >> (8 * i));
}

/// Recomputes the header's and every chunk's checksum, as far as the length fields allow.
void rechecksum(std::vector<std::uint8_t>& b)
{
	if (b.size() < 16)
		return;
	writeCrc(b, 12, std::span(b).first(12));
	std::size_t pos = 16;
	while (b.size() - pos >= 16)
	{
		const std::uint64_t length = Orbitane::readLittleEndian(std::span(b).subspan(pos + 4, 8));
		if (length > b.size() - pos - 16)
			return;
		writeCrc(b, pos + 12 + length, std::span(b).subspan(pos, 12 + length));
		pos += 16 + length;
	}
}

template <typename F>
void refusedOrDecoded(F&& decode)
{
	try
	{
		decode();
	}
	catch (const std::runtime_error&)
	{}
}

void decode(std::span<const std::uint8_t> bytes)
{
	using namespace Orbitane;
	refusedOrDecoded([&] { OrbFile::decode(bytes, "fuzz.orb"); });
	refusedOrDecoded([&] { OrbObject::decodeData(bytes); });
	refusedOrDecoded([&] { OrbObject::decodeStructure(bytes); });
	refusedOrDecoded([&] { OrbObject::decodeProperties(bytes); });
}

}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
	const std::span<const std::uint8_t> input(data, size);
	decode(input);
	// nearly every mutation breaks a checksum first; repaired copies reach the payload parsers
	std::vector<std::uint8_t> repaired(input.begin(), input.end());
	rechecksum(repaired);
	if (!std::equal(repaired.begin(), repaired.end(), input.begin()))
		decode(repaired);
	return 0;
}
