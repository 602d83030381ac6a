#include "Conversions.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace Orbitane::Python {

namespace {

py::module_ numpy() { return py::module_::import("numpy"); }

std::string shapeOf(const py::array& a) { return py::str(a.attr("shape")).cast<std::string>(); }

py::array asArray(py::handle value) { return numpy().attr("asarray")(value); }

// Arrays of bools, strings or objects are refused up front, so later casts cannot fail or surprise.
py::array numericArray(py::handle value, std::string_view what, const char* kinds = "iuf")
{
	py::array a = asArray(value);
	if (!std::strchr(kinds, a.dtype().kind()))
		throw py::type_error(fmt::format("{} must be an array of numbers, not of dtype {}", what,
		                                 py::str(a.dtype()).cast<std::string>()));
	return a;
}

py::array_t<double, py::array::c_style | py::array::forcecast> asDoubles(const py::array& a)
{
	return py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(a);
}

bool isInstance(py::handle value, const char* numpyType) { return py::isinstance(value, numpy().attr(numpyType)); }

Properties::Value intFromPython(py::handle value)
{
	py::int_ number = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
	if (!number)
		throw py::error_already_set();
	int overflow = 0;
	const long long v = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
	if (overflow || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
		throw ValueConversionError{
		    false, fmt::format("the integer {}, which does not fit in 32 bits", py::str(number).cast<std::string>())};
	return static_cast<int>(v);
}

Properties::Value arrayFromPython(py::handle value)
{
	py::array a = asArray(value);
	if (!std::strchr("iuf", a.dtype().kind()))
		throw ValueConversionError{true, fmt::format("a {} of non-numbers", typeName(value))};
	auto d = asDoubles(a);
	const double* p = d.data();
	if (d.ndim() == 1 && d.shape(0) == 2)
		return Eigen::Vector2d(p[0], p[1]);
	if (d.ndim() == 1 && d.shape(0) == 3)
		return Eigen::Vector3d(p[0], p[1], p[2]);
	if (d.ndim() == 1 && d.shape(0) == 4)
		return Eigen::Vector4d(p[0], p[1], p[2], p[3]);
	if (d.ndim() == 2 && d.shape(0) == 4 && d.shape(1) == 4)
	{
		Eigen::Matrix4d m;
		for (int r = 0; r < 4; ++r)
			for (int c = 0; c < 4; ++c)
				m(r, c) = p[r * 4 + c];
		return m;
	}
	throw ValueConversionError{false, fmt::format("an array of shape {}", shapeOf(a))};
}

}

std::string typeName(py::handle value) { return py::type::handle_of(value).attr("__name__").cast<std::string>(); }

py::array_t<double> toNumpy(const Eigen::Matrix4d& m)
{
	py::array_t<double> out({4, 4});
	for (int r = 0; r < 4; ++r)
		for (int c = 0; c < 4; ++c)
			out.mutable_at(r, c) = m(r, c);
	return out;
}

Eigen::Matrix4d toMatrix4(py::handle value, std::string_view what)
{
	py::array a = numericArray(value, what);
	if (a.ndim() != 2 || a.shape(0) != 4 || a.shape(1) != 4)
		throw py::value_error(fmt::format("{} must have shape (4, 4), got {}", what, shapeOf(a)));
	auto d = asDoubles(a);
	Eigen::Matrix4d m;
	for (int r = 0; r < 4; ++r)
		for (int c = 0; c < 4; ++c)
			m(r, c) = d.at(r, c);
	if (!m.allFinite())
		throw py::value_error(fmt::format("{} must hold finite values", what));
	return m;
}

Eigen::VectorXd toVector(py::handle value, std::string_view what, std::initializer_list<int> lengths)
{
	py::array a = numericArray(value, what);
	const bool fits = a.ndim() == 1 && std::find(lengths.begin(), lengths.end(), a.shape(0)) != lengths.end();
	if (!fits)
		throw py::value_error(fmt::format("{} must be a vector of {} values, got shape {}", what,
		                                  fmt::join(lengths, " or "), shapeOf(a)));
	auto d = asDoubles(a);
	return Eigen::Map<const Eigen::VectorXd>(d.data(), d.shape(0));
}

std::vector<Eigen::Vector3d> toPoints(py::handle value, std::string_view what)
{
	py::array a = numericArray(value, what);
	if (a.size() == 0)
		return {};
	if (a.ndim() != 2 || a.shape(1) != 3)
		throw py::value_error(fmt::format("{} must have shape (N, 3), got {}", what, shapeOf(a)));
	auto d = asDoubles(a);
	std::vector<Eigen::Vector3d> points(d.shape(0));
	for (std::size_t i = 0; i < points.size(); ++i)
		points[i] = Eigen::Map<const Eigen::Vector3d>(d.data() + 3 * i);
	return points;
}

py::array_t<double> pointsToNumpy(const std::vector<Eigen::Vector3d>& points)
{
	py::array_t<double> out({static_cast<py::ssize_t>(points.size()), py::ssize_t(3)});
	if (!points.empty())
		std::memcpy(out.mutable_data(), points.data(), points.size() * sizeof(Eigen::Vector3d));
	return out;
}

template <int K>
std::vector<Eigen::Matrix<int, K, 1>> toIndexRows(py::handle value, int count, const IndexRowsNames& names)
{
	py::array a = asArray(value);
	if (a.size() == 0)
		return {};
	if (!std::strchr("iu", a.dtype().kind()))
		throw py::type_error(fmt::format("{} must be an array of integers, not of dtype {}", names.what,
		                                 py::str(a.dtype()).cast<std::string>()));
	if (a.ndim() != 2 || a.shape(1) != K)
		throw py::value_error(fmt::format("{} must have shape (M, {}), got {}", names.what, K, shapeOf(a)));
	auto d = py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>::ensure(a);
	std::vector<Eigen::Matrix<int, K, 1>> rows(d.shape(0));
	const std::int64_t* p = d.data();
	for (std::size_t r = 0; r < rows.size(); ++r)
		for (int k = 0; k < K; ++k)
		{
			const std::int64_t v = p[r * K + k];
			if (v < 0 || v >= count)
				throw py::value_error(fmt::format("{} {} refers to {} {}, but the {} has {} {}", names.row, r,
				                                  names.element, v, names.owner, count, names.elements));
			rows[r][k] = static_cast<int>(v);
		}
	return rows;
}

template <int K>
py::array_t<std::int64_t> indexRowsToNumpy(const std::vector<Eigen::Matrix<int, K, 1>>& rows)
{
	py::array_t<std::int64_t> out({static_cast<py::ssize_t>(rows.size()), py::ssize_t(K)});
	for (std::size_t r = 0; r < rows.size(); ++r)
		for (int k = 0; k < K; ++k)
			out.mutable_at(r, k) = rows[r][k];
	return out;
}

template std::vector<Eigen::Vector2i> toIndexRows<2>(py::handle, int, const IndexRowsNames&);
template std::vector<Eigen::Vector3i> toIndexRows<3>(py::handle, int, const IndexRowsNames&);
template py::array_t<std::int64_t> indexRowsToNumpy<2>(const std::vector<Eigen::Vector2i>&);
template py::array_t<std::int64_t> indexRowsToNumpy<3>(const std::vector<Eigen::Vector3i>&);

std::vector<double> toDoubles(py::handle value, std::string_view what)
{
	py::array a = numericArray(value, what);
	if (a.size() == 0)
		return {};
	if (a.ndim() != 1)
		throw py::value_error(fmt::format("{} must be a 1-D array, got shape {}", what, shapeOf(a)));
	auto d = asDoubles(a);
	return {d.data(), d.data() + d.shape(0)};
}

py::array_t<double> doublesToNumpy(const std::vector<double>& values)
{
	py::array_t<double> out(static_cast<py::ssize_t>(values.size()));
	if (!values.empty())
		std::memcpy(out.mutable_data(), values.data(), values.size() * sizeof(double));
	return out;
}

Properties::Value valueFromPython(py::handle value)
{
	if (PyBool_Check(value.ptr()) || isInstance(value, "bool_"))
		return PyObject_IsTrue(value.ptr()) == 1;
	if (PyLong_Check(value.ptr()) || isInstance(value, "integer"))
		return intFromPython(value);
	if (PyFloat_Check(value.ptr()) || isInstance(value, "floating"))
		return PyFloat_AsDouble(value.ptr());
	if (py::isinstance<py::str>(value))
		return value.cast<std::string>();
	if (py::isinstance<Properties>(value))
		return NestedProperties(value.cast<const Properties&>());
	if (PyDict_Check(value.ptr()))
		return NestedProperties(propertiesFromDict(value));
	if (PyList_Check(value.ptr()) || PyTuple_Check(value.ptr()) || py::isinstance<py::array>(value))
		return arrayFromPython(value);
	throw ValueConversionError{true, fmt::format("a value of type '{}'", typeName(value))};
}

py::object valueToPython(const Properties::Value& value)
{
	return std::visit(
	    [](const auto& v) -> py::object {
		    using T = std::decay_t<decltype(v)>;
		    if constexpr (std::is_same_v<T, NestedProperties>)
			    return py::cast(Properties(v.get()));
		    else if constexpr (std::is_same_v<T, Eigen::Matrix4d>)
			    return toNumpy(v);
		    else if constexpr (std::is_same_v<T, Eigen::Vector2d> || std::is_same_v<T, Eigen::Vector3d> ||
		                       std::is_same_v<T, Eigen::Vector4d>)
			    return toNumpy(v);
		    else
			    return py::cast(v);
	    },
	    value);
}

Properties propertiesFromDict(py::handle mapping)
{
	Properties p;
	for (auto [key, item] : py::reinterpret_borrow<py::dict>(mapping))
	{
		if (!py::isinstance<py::str>(key))
			throw ValueConversionError{true, fmt::format("a key of type '{}'", typeName(key))};
		p.set(key.cast<std::string>(), valueFromPython(item));
	}
	return p;
}

py::dict propertiesToDict(const Properties& p)
{
	py::dict out;
	for (const auto& [name, value] : p.entries())
	{
		if (auto nested = std::get_if<NestedProperties>(&value))
			out[py::str(name)] = propertiesToDict(nested->get());
		else
			out[py::str(name)] = valueToPython(value);
	}
	return out;
}

std::string describeValueKind(const Properties::Value& value)
{
	static const char* const names[] = {"a bool",
	                                    "an int",
	                                    "a float",
	                                    "a str",
	                                    "a vector of 2 numbers",
	                                    "a vector of 3 numbers",
	                                    "a vector of 4 numbers",
	                                    "a 4 x 4 matrix",
	                                    "Properties"};
	return names[value.index()];
}

}
