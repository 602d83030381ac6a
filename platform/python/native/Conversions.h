#pragma once

#include "core/Properties.h"

#include <Eigen/Core>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>
#include <string_view>
#include <vector>

namespace Orbitane::Python {

namespace py = pybind11;

/// Gives a bound class the public module name under which the package re-exports it, so that
/// signatures, reprs and pickling name "orbitane.Mesh" rather than the native module.
template <typename Class>
Class& publicIn(Class& cls, const char* module = "orbitane")
{
	cls.attr("__module__") = module;
	return cls;
}

/// The Python type name of a value, for messages.
std::string typeName(py::handle value);

py::array_t<double> toNumpy(const Eigen::Matrix4d& m);
template <int N>
py::array_t<double> toNumpy(const Eigen::Matrix<double, N, 1>& v)
{
	py::array_t<double> out(N);
	for (int i = 0; i < N; ++i)
		out.mutable_at(i) = v[i];
	return out;
}

/// A (4, 4) numeric array; TypeError for non-numbers, ValueError for another shape or non-finite values.
Eigen::Matrix4d toMatrix4(py::handle value, std::string_view what);

/// A vector of one of the given lengths (1-D numeric array); ValueError naming `what` otherwise.
Eigen::VectorXd toVector(py::handle value, std::string_view what, std::initializer_list<int> lengths);

/// Rows of an (N, 3) numeric array; an empty array of any shape gives no rows.
std::vector<Eigen::Vector3d> toPoints(py::handle value, std::string_view what);
py::array_t<double> pointsToNumpy(const std::vector<Eigen::Vector3d>& points);

/// Rows of an (N, K) integer array whose entries index `count` elements; ValueError in the words
/// "<row> 1 refers to <element> 7, but the <owner> has 4 <element>s" otherwise.
struct IndexRowsNames
{
	const char* what;        // "faces"
	const char* row;         // "face"
	const char* element;     // "vertex"
	const char* elements;    // "vertices"
	const char* owner;       // "mesh"
};
template <int K>
std::vector<Eigen::Matrix<int, K, 1>> toIndexRows(py::handle value, int count, const IndexRowsNames& names);
template <int K>
py::array_t<std::int64_t> indexRowsToNumpy(const std::vector<Eigen::Matrix<int, K, 1>>& rows);

std::vector<double> toDoubles(py::handle value, std::string_view what);
py::array_t<double> doublesToNumpy(const std::vector<double>& values);

/// Why a Python value cannot become a Properties value: `detail` completes "cannot hold ...".
struct ValueConversionError
{
	bool isTypeError;
	std::string detail;
};

/// Converts bool, int (32 bit), float, str, Properties, dicts of those, and numeric vectors of 2 to
/// 4 values or 4 x 4 matrices; throws ValueConversionError for anything else.
Properties::Value valueFromPython(py::handle value);
/// Numbers become Python numbers, vectors and matrices new float64 arrays, nested Properties a copy.
py::object valueToPython(const Properties::Value& value);

/// Builds Properties from a mapping of str keys; raises TypeError/ValueError for what it cannot hold.
Properties propertiesFromDict(py::handle mapping);
/// Nested Properties become dicts too.
py::dict propertiesToDict(const Properties& p);
/// "a float", "a vector of 3 numbers", ...: what a value of this kind is called in messages.
std::string describeValueKind(const Properties::Value& value);

}
