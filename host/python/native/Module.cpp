#include <pybind11/pybind11.h>

namespace py = pybind11;

PYBIND11_MODULE(_orbitane, m)
{
	m.doc() = "Native part of the orbitane package.";
}
