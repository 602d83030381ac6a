#include "graph/Graph.h"

#include "data/DataDetail.h"

#include <fmt/format.h>

#include <stdexcept>

namespace Orbitane {

namespace {

void checkEdges(const std::vector<Eigen::Vector2i>& edges, int numNodes)
{
	for (std::size_t e = 0; e < edges.size(); ++e)
		for (int end = 0; end < 2; ++end)
		{
			const int n = edges[e][end];
			if (n < 0 || n >= numNodes)
				throw std::invalid_argument(
				    fmt::format("edge {} refers to node {}, but the graph has {} nodes", e, n, numNodes));
		}
}

void checkFeature(const char* kind, const std::string& name, std::size_t given, std::size_t expected)
{
	if (given != expected)
		throw std::invalid_argument(
		    fmt::format("{} feature \"{}\" needs one value per {} ({}), got {}", kind, name, kind, expected, given));
}

// Features whose length no longer fits describe elements that are gone.
void dropMismatched(std::map<std::string, std::vector<double>>& features, std::size_t count)
{
	std::erase_if(features, [count](const auto& f) { return f.second.size() != count; });
}

}

Graph::Graph(std::vector<Eigen::Vector3d> nodes, std::vector<Eigen::Vector2i> edges)
{
	setNodesAndEdges(std::move(nodes), std::move(edges));
}

void Graph::setNodesAndEdges(std::vector<Eigen::Vector3d> nodes, std::vector<Eigen::Vector2i> edges)
{
	checkEdges(edges, static_cast<int>(nodes.size()));
	m_nodes = std::move(nodes);
	m_edges = std::move(edges);
	dropMismatched(m_nodeFeatures, m_nodes.size());
	dropMismatched(m_edgeFeatures, m_edges.size());
}

void Graph::setNodeFeature(const std::string& name, std::vector<double> values)
{
	checkFeature("node", name, values.size(), m_nodes.size());
	m_nodeFeatures[name] = std::move(values);
}

void Graph::setEdgeFeature(const std::string& name, std::vector<double> values)
{
	checkFeature("edge", name, values.size(), m_edges.size());
	m_edgeFeatures[name] = std::move(values);
}

Eigen::AlignedBox3d Graph::bounds() const { return DataDetail::worldBounds(m_nodes, matrixToWorld()); }

std::string Graph::describe() const
{
	return fmt::format("{} {} nodes, {} edges", DataDetail::describeHeader("Graph", name()), numNodes(), numEdges());
}

}
