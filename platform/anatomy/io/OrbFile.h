#pragma once

#include "anatomy/io/OrbCompression.h"
#include "anatomy/structures/AnatomicalStructureCollection.h"
#include "data/Data.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace Orbitane {
class ByteSource;
}

/// Reading and writing collections in the .orb container (docs/orb-format.md).
namespace Orbitane::OrbFile {

/// Streams the collection as a complete file to sink, chunk by chunk, in the newest version unless
/// encoding asks for another.
void write(const AnatomicalStructureCollection& collection,
           const std::function<void(std::span<const std::uint8_t>)>& sink, const OrbEncoding& encoding = {});
std::vector<std::uint8_t> encode(const AnatomicalStructureCollection& collection, const OrbEncoding& encoding = {});

/// Replaces path atomically. Throws std::runtime_error "Cannot write '<path>': ..." for data that
/// is not a collection and for every failure while encoding or writing (DataIO::FileAccessError for
/// a read-only file); the previous file is then left as it was and no temporary file remains.
void save(const Data& data, const std::string& path, const OrbEncoding& encoding = {});

/// Throws std::runtime_error "Cannot read '<name>': ..." for any file that is not a complete,
/// intact .orb file, DataIO::FileAccessError with that text for a path that names no regular file.
std::unique_ptr<AnatomicalStructureCollection> decode(std::span<const std::uint8_t> bytes, const std::string& name);
std::unique_ptr<AnatomicalStructureCollection> load(const std::string& path);

/// The collection of a complete container; errors do not name the source, which the caller adds.
std::unique_ptr<AnatomicalStructureCollection> read(const ByteSource& source);

}
