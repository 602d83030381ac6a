#pragma once

#include "data/Data.h"

#include <functional>
#include <memory>
#include <string>

namespace Orbitane::DataIO {

using Reader = std::function<std::unique_ptr<Data>(const std::string& path)>;
using Writer = std::function<void(const Data& data, const std::string& path)>;

/// Formats register by file extension (lower case, with the dot: ".orb"). Readers and writers
/// throw std::runtime_error naming the file and the problem.
void registerReader(const std::string& extension, Reader reader);
void registerWriter(const std::string& extension, Writer writer);
/// The extension of a path as the registry keys it (lower case, with the dot); empty if there is none.
std::string extensionOf(const std::string& path);
bool hasReader(const std::string& extension);
bool hasWriter(const std::string& extension);

/// Throws std::invalid_argument for an extension without a reader/writer.
std::unique_ptr<Data> load(const std::string& path);
void save(const Data& data, const std::string& path);

}
