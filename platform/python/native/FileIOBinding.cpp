#include "Bindings.h"

#include "data/DataIO.h"

namespace Orbitane::Python {

// The package's open() and save() wrap these, since they first let known plugins register formats.
void bindFileIO(py::module_& m)
{
	m.def("_extension", &DataIO::extensionOf, py::arg("path"));
	m.def("_has_reader", &DataIO::hasReader, py::arg("extension"));
	m.def("_has_writer", &DataIO::hasWriter, py::arg("extension"));
	m.def(
	    "_open", [](const std::string& path) { return std::shared_ptr<Data>(DataIO::load(path)); }, py::arg("path"));
	m.def("_save", &DataIO::save, py::arg("data"), py::arg("path"));
}

}
