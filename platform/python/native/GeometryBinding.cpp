#include "Bindings.h"
#include "Conversions.h"
#include "Pickling.h"

#include "data/DeferredCopies.h"
#include "data/Mesh.h"
#include "data/PointCloud.h"

namespace Orbitane::Python {

namespace {

constexpr IndexRowsNames kFaces{"faces", "face", "vertex", "vertices", "mesh"};

std::vector<Eigen::Vector3d> optionalPoints(py::handle value, std::string_view what)
{
	return value.is_none() ? std::vector<Eigen::Vector3d>{} : toPoints(value, what);
}

py::object pointsOrNone(const std::vector<Eigen::Vector3d>& points)
{
	return points.empty() ? py::object(py::none()) : py::object(pointsToNumpy(points));
}

std::shared_ptr<Mesh> makeMesh(py::handle vertices, py::handle faces, py::handle normals)
{
	auto v = toPoints(vertices, "vertices");
	auto f = toIndexRows<3>(faces, static_cast<int>(v.size()), kFaces);
	auto n = optionalPoints(normals, "normals");
	auto mesh = std::make_shared<Mesh>(std::move(v), std::move(f));
	mesh->setNormals(std::move(n));
	return mesh;
}

void bindMesh(py::module_& m)
{
	py::class_<Mesh, Data, std::shared_ptr<Mesh>> cls(
	    m, "Mesh", "Triangle mesh: vertices (N, 3) in the mesh's own frame, faces (M, 3) of vertex indices.");
	publicIn(cls)
	    .def(py::init([] { return std::make_shared<Mesh>(); }))
	    .def(py::init(&makeMesh), py::arg("vertices"), py::arg("faces"), py::arg("normals") = py::none())
	    .def_property(
	        "vertices", [](const Mesh& mesh) { return pointsToNumpy(mesh.vertices()); },
	        [](Mesh& mesh, py::handle v) { mesh.setVertices(toPoints(v, "vertices")); },
	        "(N, 3) float64 copy. Assigning drops the faces and normals that no longer fit.")
	    .def_property(
	        "faces", [](const Mesh& mesh) { return indexRowsToNumpy<3>(mesh.faces()); },
	        [](Mesh& mesh, py::handle f) { mesh.setFaces(toIndexRows<3>(f, mesh.numVertices(), kFaces)); },
	        "(M, 3) int64 copy of the vertex indices of each triangle.")
	    .def_property(
	        "normals", [](const Mesh& mesh) { return pointsOrNone(mesh.normals()); },
	        [](Mesh& mesh, py::handle n) { mesh.setNormals(optionalPoints(n, "normals")); },
	        "(N, 3) per-vertex normals, or None.")
	    .def_property_readonly("num_vertices", &Mesh::numVertices)
	    .def_property_readonly("num_faces", &Mesh::numFaces)
	    .def(
	        "clone", [](const Mesh& mesh) { return withDeferredCopies([&] { return std::make_shared<Mesh>(mesh); }); },
	        "An independent copy.");
	enableDataPickling<Mesh>(cls, "orbitane.Mesh");
}

std::shared_ptr<PointCloud> makeCloud(py::handle points, py::handle normals)
{
	return std::make_shared<PointCloud>(toPoints(points, "points"), optionalPoints(normals, "normals"));
}

void bindPointCloud(py::module_& m)
{
	py::class_<PointCloud, Data, std::shared_ptr<PointCloud>> cls(
	    m, "PointCloud", "Points (N, 3) with optional per-point normals, in the cloud's own frame.");
	publicIn(cls)
	    .def(py::init([] { return std::make_shared<PointCloud>(); }))
	    .def(py::init(&makeCloud), py::arg("points"), py::arg("normals") = py::none())
	    .def_property(
	        "points", [](const PointCloud& c) { return pointsToNumpy(c.points()); },
	        [](PointCloud& c, py::handle p) {
		        auto points = toPoints(p, "points");
		        // normals survive a change of positions, not a change of the number of points
		        auto normals = c.normals().size() == points.size() ? c.normals() : std::vector<Eigen::Vector3d>{};
		        c.setPoints(std::move(points), std::move(normals));
	        },
	        "(N, 3) float64 copy. Assigning another number of points drops the normals.")
	    .def_property(
	        "normals", [](const PointCloud& c) { return pointsOrNone(c.normals()); },
	        [](PointCloud& c, py::handle n) { c.setPoints(c.points(), optionalPoints(n, "normals")); },
	        "(N, 3) per-point normals, or None.")
	    .def_property_readonly("num_points", &PointCloud::numPoints)
	    .def(
	        "clone",
	        [](const PointCloud& c) { return withDeferredCopies([&] { return std::make_shared<PointCloud>(c); }); },
	        "An independent copy.");
	enableDataPickling<PointCloud>(cls, "orbitane.PointCloud");
}

}

void bindGeometry(py::module_& m)
{
	bindMesh(m);
	bindPointCloud(m);
}

}
