#include "Bindings.h"
#include "InstanceInternals.h"
#include "Pickling.h"

namespace py = pybind11;

PYBIND11_MODULE(_orbitane, m)
{
	using namespace Orbitane::Python;
	m.doc() = "Native part of the orbitane package; import its types from orbitane and orbitane.graph.";
	bindErrorTranslation();
	// types before the types that refer to them in signatures
	bindSignal(m);
	bindProperties(m);
	bindComponents(m);
	bindData(m);
	bindImages(m);
	bindGeometry(m);
	py::module_ graph = m.def_submodule("graph", "Graphs: nodes, edges and their features.");
	bindGraph(graph);
	bindAlgorithms(m);
	bindFileIO(m);
	bindPickling(m);
	bindLogging(m);
	refuseMembersOfUninitialisedObjects();
}
