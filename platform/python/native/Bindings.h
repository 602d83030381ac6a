#pragma once

#include <pybind11/pybind11.h>

// Registration of the package's native types, one function per area, called by the module
// initialisation in the order in which the types refer to each other.
namespace Orbitane::Python {

namespace py = pybind11;

void bindErrorTranslation();
void bindSignal(py::module_& m);
void bindProperties(py::module_& m);
void bindComponents(py::module_& m);
void bindData(py::module_& m);
void bindImages(py::module_& m);
void bindGeometry(py::module_& m);
void bindGraph(py::module_& graph);
void bindAlgorithms(py::module_& m);
void bindFileIO(py::module_& m);
void bindLogging(py::module_& m);

}
