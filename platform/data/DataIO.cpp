#include "data/DataIO.h"

#include "core/String.h"

#include <fmt/format.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace Orbitane::DataIO {

namespace {

struct Registry
{
	std::mutex mutex;
	std::map<std::string, Reader> readers;
	std::map<std::string, Writer> writers;
	std::optional<MemoryCodec> codec;
};

// Formats register from static initialisers of other libraries, so the registry must exist first.
Registry& registry()
{
	static Registry r;
	return r;
}

std::string normalised(std::string extension)
{
	String::toLower(extension);
	if (!extension.empty() && extension.front() != '.')
		extension.insert(extension.begin(), '.');
	return extension;
}

/// The path as it can be shown in a message, its null bytes spelled out.
std::string printable(const std::string& path)
{
	std::string shown;
	for (char c : path)
		shown += c == '\0' ? std::string("\\0") : std::string(1, c);
	return shown;
}

MemoryCodec registeredCodec()
{
	Registry& r = registry();
	std::lock_guard lock(r.mutex);
	if (!r.codec)
		throw std::logic_error("no in-memory encoding of data objects is registered (load the anatomy plugin)");
	return *r.codec;
}

template <typename F>
F lookup(const std::map<std::string, F>& table, const std::string& path, const char* action, const char* role)
{
	if (path.find('\0') != std::string::npos)
		throw std::invalid_argument(fmt::format("cannot {} \"{}\": embedded null byte", action, printable(path)));
	const std::string extension = extensionOf(path);
	if (extension.empty())
		throw std::invalid_argument(fmt::format("cannot {} \"{}\": the file name has no extension", action, path));
	auto it = table.find(extension);
	if (it == table.end())
		throw std::invalid_argument(
		    fmt::format("cannot {} \"{}\": no {} for the file extension \"{}\"", action, path, role, extension));
	return it->second;
}

}

std::string extensionOf(const std::string& path)
{
	return normalised(std::filesystem::path(path).extension().string());
}

void registerReader(const std::string& extension, Reader reader)
{
	Registry& r = registry();
	std::lock_guard lock(r.mutex);
	r.readers[normalised(extension)] = std::move(reader);
}

void registerWriter(const std::string& extension, Writer writer)
{
	Registry& r = registry();
	std::lock_guard lock(r.mutex);
	r.writers[normalised(extension)] = std::move(writer);
}

bool hasReader(const std::string& extension)
{
	Registry& r = registry();
	std::lock_guard lock(r.mutex);
	return r.readers.contains(normalised(extension));
}

bool hasWriter(const std::string& extension)
{
	Registry& r = registry();
	std::lock_guard lock(r.mutex);
	return r.writers.contains(normalised(extension));
}

std::unique_ptr<Data> load(const std::string& path)
{
	Reader reader;
	{
		Registry& r = registry();
		std::lock_guard lock(r.mutex);
		reader = lookup(r.readers, path, "open", "reader");
	}
	// the lock is not held while reading: a reader may itself load further files
	std::unique_ptr<Data> data = reader(path);
	if (!data)
		throw std::runtime_error(fmt::format("cannot open \"{}\": the reader returned no data", path));
	return data;
}

void save(const Data& data, const std::string& path)
{
	Writer writer;
	{
		Registry& r = registry();
		std::lock_guard lock(r.mutex);
		writer = lookup(r.writers, path, "save", "writer");
	}
	writer(data, path);
}

void registerMemoryCodec(MemoryCodec codec)
{
	Registry& r = registry();
	std::lock_guard lock(r.mutex);
	r.codec = std::move(codec);
}

bool hasMemoryCodec()
{
	Registry& r = registry();
	std::lock_guard lock(r.mutex);
	return r.codec.has_value();
}

// The codec is copied out, so that the lock is not held while it runs (it may run long).
std::vector<std::uint8_t> encodeInMemory(const Data& data) { return registeredCodec().encodeData(data); }

std::unique_ptr<Data> decodeDataInMemory(std::span<const std::uint8_t> bytes)
{
	return registeredCodec().decodeData(bytes);
}

std::vector<std::uint8_t> encodeInMemory(const Properties& properties)
{
	return registeredCodec().encodeProperties(properties);
}

Properties decodePropertiesInMemory(std::span<const std::uint8_t> bytes)
{
	return registeredCodec().decodeProperties(bytes);
}

}
