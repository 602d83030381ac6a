#pragma once

#include <cstdint>
#include <span>

namespace Orbitane {

/// CRC-32 as used by zip and PNG (reflected polynomial 0xEDB88320). Pass the previous result as
/// crc to continue a checksum over data that arrives in pieces.
std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

}
