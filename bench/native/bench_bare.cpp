// The smallest pybind11 code that does what the key-value wrappers do at their core, so that the
// benchmark can tell the wrappers' own cost from the binding library's.
#include <pybind11/eigen.h>
#include <pybind11/pybind11.h>

#include <Eigen/Core>

#include <map>
#include <string>

namespace py = pybind11;

namespace {

class Vec3Map
{
public:
	Eigen::Vector3d get(const std::string& key) const
	{
		auto it = m_points.find(key);
		if (it == m_points.end())
			throw py::key_error(key);
		return it->second;
	}
	void set(const std::string& key, const Eigen::Vector3d& value) { m_points[key] = value; }
	std::size_t size() const { return m_points.size(); }

private:
	std::map<std::string, Eigen::Vector3d> m_points;
};

}

PYBIND11_MODULE(bench_bare, m)
{
	m.def("vec3", [] { return Eigen::Vector3d(1, 2, 3); });
	py::class_<Vec3Map>(m, "Vec3Map")
	    .def(py::init<>())
	    .def("__getitem__", &Vec3Map::get)
	    .def("__setitem__", &Vec3Map::set)
	    .def("__len__", &Vec3Map::size);
}
