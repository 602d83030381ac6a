#pragma once

#include "anatomy/io/OrbBytes.h"
#include "core/Properties.h"

namespace Orbitane::PropertiesCodec {

/// Deepest nesting of Properties that is written or read; the reader's recursion and the
/// destructor chain of what it builds stay bounded whatever a file claims.
inline constexpr int kMaxDepth = 32;

/// Most entries in one Properties level. Each insertion into Properties compares the name with
/// all names before it, so the bound keeps the reading time per byte of file bounded.
inline constexpr std::size_t kMaxEntries = 1 << 14;

/// Names in insertion order with a type tag per value. Throws std::runtime_error for deeper
/// nesting than kMaxDepth or more entries than kMaxEntries, which could not be read back.
void write(PayloadWriter& w, const Properties& p);
Properties read(PayloadReader& r);

}
