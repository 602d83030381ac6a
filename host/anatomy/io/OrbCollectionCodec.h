#pragma once

#include "anatomy/io/OrbBytes.h"
#include "anatomy/structures/AnatomicalStructureCollection.h"

#include <cstddef>
#include <memory>

namespace Orbitane::OrbCollectionCodec {

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
