#include "Bindings.h"
#include "Conversions.h"
#include "Pickling.h"

#include "data/DeferredCopies.h"
#include "graph/Graph.h"

namespace Orbitane::Python {

namespace {

constexpr IndexRowsNames kEdges{"edges", "edge", "node", "nodes", "graph"};

std::shared_ptr<Graph> makeGraph(py::handle nodes, py::handle edges)
{
	auto n = toPoints(nodes, "nodes");
	auto e = toIndexRows<2>(edges, static_cast<int>(n.size()), kEdges);
	return std::make_shared<Graph>(std::move(n), std::move(e));
}

py::dict featuresToDict(const std::map<std::string, std::vector<double>>& features)
{
	py::dict out;
	for (const auto& [name, values] : features)
		out[py::str(name)] = doublesToNumpy(values);
	return out;
}

}

void bindGraph(py::module_& graph)
{
	py::class_<Graph, Data, std::shared_ptr<Graph>> cls(
	    graph, "Graph",
	    "Nodes (N, 3) with positions, edges (E, 2) of node indices, and named per-node and per-edge features.");
	publicIn(cls, "orbitane.graph")
	    .def(py::init([] { return std::make_shared<Graph>(); }))
	    .def(py::init(&makeGraph), py::arg("nodes"), py::arg("edges"))
	    .def_property(
	        "nodes", [](const Graph& g) { return pointsToNumpy(g.nodes()); },
	        [](Graph& g, py::handle n) {
		        auto nodes = toPoints(n, "nodes");
		        // the current edges are checked against the new nodes like newly given ones
		        auto edges = toIndexRows<2>(indexRowsToNumpy<2>(g.edges()), static_cast<int>(nodes.size()), kEdges);
		        g.setNodesAndEdges(std::move(nodes), std::move(edges));
	        },
	        "(N, 3) float64 copy. Node features survive only if the number of nodes stays.")
	    .def_property(
	        "edges", [](const Graph& g) { return indexRowsToNumpy<2>(g.edges()); },
	        [](Graph& g, py::handle e) { g.setNodesAndEdges(g.nodes(), toIndexRows<2>(e, g.numNodes(), kEdges)); },
	        "(E, 2) int64 copy. Edge features survive only if the number of edges stays.")
	    .def_property_readonly("num_nodes", &Graph::numNodes)
	    .def_property_readonly("num_edges", &Graph::numEdges)
	    .def_property_readonly(
	        "node_features", [](const Graph& g) { return featuresToDict(g.nodeFeatures()); },
	        "Copies of the per-node features by name.")
	    .def_property_readonly(
	        "edge_features", [](const Graph& g) { return featuresToDict(g.edgeFeatures()); },
	        "Copies of the per-edge features by name.")
	    .def(
	        "set_node_feature",
	        [](Graph& g, const std::string& name, py::handle values) {
		        g.setNodeFeature(name, toDoubles(values, "node feature values"));
	        },
	        py::arg("name"), py::arg("values"), "Sets a feature with one value per node.")
	    .def(
	        "set_edge_feature",
	        [](Graph& g, const std::string& name, py::handle values) {
		        g.setEdgeFeature(name, toDoubles(values, "edge feature values"));
	        },
	        py::arg("name"), py::arg("values"), "Sets a feature with one value per edge.")
	    .def(
	        "clone", [](const Graph& g) { return withDeferredCopies([&] { return std::make_shared<Graph>(g); }); },
	        "An independent copy.");
	enableDataPickling<Graph>(cls, "orbitane.graph.Graph");
}

}
