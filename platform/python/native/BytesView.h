#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <span>
#include <vector>

// Encodings cross between native byte vectors and Python bytes in both modules (pickled states).
namespace Orbitane::Python {

namespace py = pybind11;

/// The contents of a bytes object, valid while it lives.
inline std::span<const std::uint8_t> bytesView(const py::bytes& bytes)
{
	char* data = nullptr;
	Py_ssize_t size = 0;
	if (PyBytes_AsStringAndSize(bytes.ptr(), &data, &size) != 0)
		throw py::error_already_set();
	return {reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)};
}

inline py::bytes toBytes(const std::vector<std::uint8_t>& bytes)
{
	return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}
