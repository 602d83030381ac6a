#include "anatomy/io/OrbFile.h"
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
	return true;
}();

}

}
