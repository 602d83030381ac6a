#include "core/Log.h"
#include "data/Algorithm.h"
#include "data/DataComponentList.h"
#include "data/DataIO.h"
#include "data/Mesh.h"
#include "data/PointCloud.h"
#include "data/SharedImageSet.h"
#include "graph/Graph.h"
#include "python/native/ComponentViews.h"

#include <pybind11/pybind11.h>

#include <cerrno>
#include <cmath>
#include <map>
#include <mutex>

// Support for the package's own tests, the module orbitane._testing, built only with the tests: a
// small algorithm with one parameter of each kind, a component bound the way other extensions bind
// theirs, a way to log natively, and an in-memory file format.
namespace py = pybind11;

namespace Orbitane {

namespace {

using Python::ComponentView;

/// Scales a copy of its input mesh about the origin and moves it by an offset.
class ExampleAlgorithm : public Algorithm
{
public:
	explicit ExampleAlgorithm(std::shared_ptr<const Mesh> input) : m_input(std::move(input))
	{
		for (ParameterBase* p :
		     std::initializer_list<ParameterBase*>{&factor, &repeat, &name, &center, &offset, &version})
			registerParameter(*p);
	}

	void compute() override
	{
		if (!m_input)
		{
			m_status = IncompleteInput;
			return;
		}
		auto mesh = std::make_unique<Mesh>(*m_input);
		std::vector<Eigen::Vector3d> vertices = mesh->vertices();
		Eigen::Vector3d pivot = Eigen::Vector3d::Zero();
		if (center.get() && !vertices.empty())
			for (const auto& v : vertices)
				pivot += v / static_cast<double>(vertices.size());
		const double scale = std::pow(factor.get(), repeat.get());
		for (int i = 0; i < static_cast<int>(vertices.size()); ++i)
		{
			vertices[i] = pivot + scale * (vertices[i] - pivot) + offset.get();
			setProgress(double(i + 1) / double(vertices.size()));
		}
		mesh->setVertices(std::move(vertices));
		mesh->setName(name.get());
		m_output.add(std::move(mesh));
		m_status = Success;
	}

	Parameter<double> factor{"factor", 1.0};
	Parameter<int> repeat{"repeat", 1};
	Parameter<std::string> name{"name", "scaled"};
	Parameter<bool> center{"center", false};
	Parameter<Eigen::Vector3d> offset{"offset", Eigen::Vector3d::Zero()};
	Parameter<int> version{"version", 1, true};

private:
	std::shared_ptr<const Mesh> m_input;
};

/// A native component type registered outside the package's own component bindings.
class ExampleComponent : public DataComponent<ExampleComponent>
{
public:
	ExampleComponent() { registerParameter(level); }
	ExampleComponent(const ExampleComponent& other) : DataComponent(other)
	{
		registerParameter(level);
		level = other.level.get();
	}
	std::string id() const override { return "ExampleComponent"; }

	Parameter<int> level{"level", 0};
};

// What another extension does to accept its own component type in DataComponentList.add: chain
// one more overload after the existing ones.
void chainComponentListAdd()
{
	py::object cls = py::module_::import("orbitane").attr("DataComponentList");
	py::cpp_function add([](DataComponentList& list,
	                        ComponentView<const ExampleComponent> component) { return list.add(component->clone()); },
	                     py::name("add"), py::is_method(cls), py::sibling(py::getattr(cls, "add", py::none())),
	                     py::return_value_policy::reference, "Adds a copy of an ExampleComponent.");
	cls.attr("add") = add;
}

std::unique_ptr<Data> copyOf(const Data& data)
{
	if (auto images = dynamic_cast<const SharedImageSet*>(&data))
		return images->clone();
	if (auto mesh = dynamic_cast<const Mesh*>(&data))
		return std::make_unique<Mesh>(*mesh);
	if (auto cloud = dynamic_cast<const PointCloud*>(&data))
		return std::make_unique<PointCloud>(*cloud);
	if (auto graph = dynamic_cast<const Graph*>(&data))
		return std::make_unique<Graph>(*graph);
	throw std::runtime_error("the in-memory format cannot store this kind of data");
}

struct MemoryFiles
{
	std::mutex mutex;
	std::map<std::string, std::shared_ptr<const Data>> files;
};

MemoryFiles& memoryFiles()
{
	static MemoryFiles files;
	return files;
}

void registerMemoryFormat(const std::string& extension)
{
	DataIO::registerWriter(extension, [](const Data& data, const std::string& path) {
		std::shared_ptr<const Data> copy = copyOf(data);
		std::lock_guard lock(memoryFiles().mutex);
		memoryFiles().files[path] = std::move(copy);
	});
	DataIO::registerReader(extension, [](const std::string& path) {
		std::shared_ptr<const Data> stored;
		{
			std::lock_guard lock(memoryFiles().mutex);
			auto it = memoryFiles().files.find(path);
			if (it == memoryFiles().files.end())
				throw DataIO::FileAccessError(ENOENT, "cannot open \"" + path + "\": no such file");
			stored = it->second;
		}
		return copyOf(*stored);
	});
}

void bindTesting(py::module_& testing)
{
	py::class_<ExampleAlgorithm, Algorithm>(testing, "ExampleAlgorithm")
	    .def(py::init([](std::shared_ptr<Mesh> input) { return std::make_unique<ExampleAlgorithm>(std::move(input)); }),
	         py::arg("input") = py::none());
	py::class_<ExampleComponent, DataComponentBase>(testing, "ExampleComponent")
	    .def(py::init<>())
	    .def_property(
	        "level", [](ComponentView<const ExampleComponent> c) { return c->level.get(); },
	        [](ComponentView<ExampleComponent> c, int v) { c->level = v; });
	testing.def("chain_component_list_add", &chainComponentListAdd);
	testing.def(
	    "log",
	    [](int level, const std::string& category, const std::string& message, const std::string& file, int line) {
		    Log::logIfAccepted(level, category, message, file.empty() ? nullptr : file.c_str(), line);
	    },
	    py::arg("level"), py::arg("category"), py::arg("message"), py::arg("file") = "", py::arg("line") = -1);
	testing.def("register_memory_format", &registerMemoryFormat, py::arg("extension"));
	// stored objects may hold Python references, which must go while the interpreter still runs
	py::module_::import("atexit").attr("register")(py::cpp_function([] {
		std::lock_guard lock(memoryFiles().mutex);
		memoryFiles().files.clear();
	}));
}

}

}

PYBIND11_MODULE(_testing, m)
{
	m.doc() = "Support for the package's own tests.";
	// the classes here derive from types that the package registers
	py::module_::import("orbitane");
	Orbitane::bindTesting(m);
}
