#include "anatomy/io/OrbFile.h"
#include "anatomy/io/OrbObject.h"
#include "data/DataIO.h"

namespace Orbitane {

namespace {

// The anatomy library registers its format when it is loaded, which importing orbitane.anatomy does.
const bool g_registered = [] {
	DataIO::registerReader(".orb", [](const std::string& path) -> std::unique_ptr<Data> {
		// handed out through its Data part; bindings find the most-derived type from there
		return OrbFile::load(path);
	});
	DataIO::registerWriter(".orb", [](const Data& data, const std::string& path) { OrbFile::save(data, path); });
	// copies that leave the process (pickles) are written in the same format
	DataIO::registerMemoryCodec({
	    [](const Data& data) { return OrbObject::encode(data); },
	    [](std::span<const std::uint8_t> bytes) { return OrbObject::decodeData(bytes); },
	    [](const Properties& properties) { return OrbObject::encode(properties); },
	    [](std::span<const std::uint8_t> bytes) { return OrbObject::decodeProperties(bytes); },
	});
	return true;
}();

}

}
