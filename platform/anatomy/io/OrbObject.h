#pragma once

#include "anatomy/structures/AnatomicalStructure.h"
#include "core/Properties.h"
#include "data/Data.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

/// Single objects in the .orb container, held in memory: what a copy of an object that leaves the
/// process carries (docs/orb-format.md, "Single objects"). A collection is encoded exactly as a
/// file; anything else is the header, one chunk whose tag says what it holds, and the end chunk.
namespace Orbitane::OrbObject {

/// A collection, image set, mesh, point cloud or graph. Throws std::runtime_error for other data
/// and for what the format cannot hold.
std::vector<std::uint8_t> encode(const Data& data);
std::vector<std::uint8_t> encode(const AnatomicalStructure& structure);
std::vector<std::uint8_t> encode(const Properties& properties);

/// Each throws std::runtime_error "not an intact encoded object: ..." for bytes that are not an
/// intact encoding of that kind; nothing is returned partially.
std::unique_ptr<Data> decodeData(std::span<const std::uint8_t> bytes);
std::unique_ptr<AnatomicalStructure> decodeStructure(std::span<const std::uint8_t> bytes);
Properties decodeProperties(std::span<const std::uint8_t> bytes);

}
