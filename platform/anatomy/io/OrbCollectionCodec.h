#pragma once

#include "anatomy/io/OrbBytes.h"
#include "anatomy/structures/AnatomicalStructureCollection.h"

#include <cstddef>
#include <memory>

namespace Orbitane::OrbCollectionCodec {

/// Adding a structure to a collection compares its identifier with all others, so n structures
/// cost n² steps to rebuild; this bound keeps a hostile file from stalling the reader. A store
/// fills in time linear in its entries, so it holds as many as its count field can state, and any
/// store that memory holds can be saved. The writer refuses collections beyond these bounds, so
/// every file written can be read back.
inline constexpr std::size_t kMaxStoreEntries = 0xFFFFFFFF;
inline constexpr std::size_t kMaxStructures = 1 << 14;

/// Payload of the 'COLL' chunk: the collection's class, 2-D flag, data part, its own stores and
/// the number of 'STRC' chunks that follow. Throws std::runtime_error for a collection class the
/// format cannot recreate.
void writeCollection(PayloadWriter& w, const AnatomicalStructureCollection& collection);
/// The empty collection with everything but its structures; structureCount receives the announced
/// number of structures.
std::unique_ptr<AnatomicalStructureCollection> readCollection(PayloadReader& r, std::size_t& structureCount);

/// Payload of one 'STRC' chunk: class, identifier, 2-D flag, matrix and the six stores.
void writeStructure(PayloadWriter& w, const AnatomicalStructure& structure);
std::unique_ptr<AnatomicalStructure> readStructure(PayloadReader& r);

}
