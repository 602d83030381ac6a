#pragma once

#include "core/Properties.h"
#include "data/Data.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace Orbitane::DataIO {

using Reader = std::function<std::unique_ptr<Data>(const std::string& path)>;
using Writer = std::function<void(const Data& data, const std::string& path)>;

/// A path that cannot be read or replaced for what it names rather than for what a file holds:
/// nothing, something other than a regular file, or a read-only file. errorCode() is the errno
/// value that tells which (ENOENT, EISDIR, EACCES...; 0 when none fits), so that bindings can
/// raise what their language raises for the same failure of its own file functions.
class FileAccessError : public std::runtime_error
{
public:
	FileAccessError(int errorCode, const std::string& message) : std::runtime_error(message), m_errorCode(errorCode) {}
	int errorCode() const { return m_errorCode; }

private:
	int m_errorCode;
};

/// Formats register by file extension (lower case, with the dot: ".orb"). Readers and writers
/// throw std::runtime_error naming the file and the problem, FileAccessError where it is one.
void registerReader(const std::string& extension, Reader reader);
void registerWriter(const std::string& extension, Writer writer);
/// The extension of a path as the registry keys it (lower case, with the dot); empty if there is none.
std::string extensionOf(const std::string& path);
bool hasReader(const std::string& extension);
bool hasWriter(const std::string& extension);

/// Throws std::invalid_argument for an extension without a reader/writer and for a path with an
/// embedded null byte, which the file system would silently cut short.
std::unique_ptr<Data> load(const std::string& path);
void save(const Data& data, const std::string& path);

/// One encoding of data objects and properties as bytes in memory, for copies that leave the
/// process (pickling). Its format belongs to a plugin, which registers it when it is loaded, as it
/// registers its file formats; the data library itself knows no format. Encoders throw
/// std::runtime_error for what the format cannot hold, decoders for bytes that are not an intact
/// encoding of the kind asked for.
struct MemoryCodec
{
	std::function<std::vector<std::uint8_t>(const Data&)> encodeData;
	std::function<std::unique_ptr<Data>(std::span<const std::uint8_t>)> decodeData;
	std::function<std::vector<std::uint8_t>(const Properties&)> encodeProperties;
	std::function<Properties(std::span<const std::uint8_t>)> decodeProperties;
};

/// A later registration replaces an earlier one.
void registerMemoryCodec(MemoryCodec codec);
bool hasMemoryCodec();
/// Throw std::logic_error while no codec is registered, else what the codec throws.
std::vector<std::uint8_t> encodeInMemory(const Data& data);
std::unique_ptr<Data> decodeDataInMemory(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> encodeInMemory(const Properties& properties);
Properties decodePropertiesInMemory(std::span<const std::uint8_t> bytes);

}
