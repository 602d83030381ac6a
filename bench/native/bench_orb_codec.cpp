// Comparison extension for bench/bench_orb_compression.py: saves a collection again in a chosen
// version and codec of the .orb format, which orbitane.save (always the newest) does not offer.
#include "anatomy/io/OrbFile.h"

#include <pybind11/pybind11.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

namespace py = pybind11;

namespace {

using namespace Orbitane;

OrbCodec codecNamed(const std::string& name)
{
	if (name == "stored")
		return OrbCodec::Stored;
	if (name == "zstd")
		return OrbCodec::Zstd;
	if (name == "zlib")
		return OrbCodec::Deflate;
	throw std::invalid_argument("unknown codec '" + name + "' (stored, zstd or zlib)");
}

/// One collection, read once, saved as often as the benchmark asks.
class Saver
{
public:
	explicit Saver(const std::string& path) : m_collection(OrbFile::load(path)) {}

	/// Seconds that OrbFile::save takes, the same call as orbitane.save's but with this encoding.
	double save(const std::string& path, int major, const std::string& codec, int level) const
	{
		const OrbEncoding encoding{static_cast<std::uint16_t>(major), codecNamed(codec), level};
		const auto start = std::chrono::steady_clock::now();
		OrbFile::save(*m_collection, path, encoding);
		return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
	}

private:
	std::unique_ptr<AnatomicalStructureCollection> m_collection;
};

}

PYBIND11_MODULE(bench_orb_codec, m)
{
	py::class_<Saver>(m, "Saver")
	    .def(py::init<const std::string&>(), py::arg("path"))
	    .def("save", &Saver::save, py::arg("path"), py::arg("major"), py::arg("codec"), py::arg("level"),
	         py::call_guard<py::gil_scoped_release>());
}
