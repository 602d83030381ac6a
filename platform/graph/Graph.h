#pragma once

#include "data/Data.h"

#include <Eigen/Core>

#include <map>
#include <string>
#include <vector>

namespace Orbitane {

/// Nodes with positions, edges between node indices, and named per-node and per-edge features.
class Graph : public Data
{
public:
	Graph() = default;
	/// Throws std::invalid_argument when an edge refers to a node that does not exist.
	Graph(std::vector<Eigen::Vector3d> nodes, std::vector<Eigen::Vector2i> edges);
	Kind kind() const override { return Kind::Graph; }

	const std::vector<Eigen::Vector3d>& nodes() const { return m_nodes; }
	const std::vector<Eigen::Vector2i>& edges() const { return m_edges; }
	void setNodesAndEdges(std::vector<Eigen::Vector3d> nodes, std::vector<Eigen::Vector2i> edges);
	int numNodes() const { return static_cast<int>(m_nodes.size()); }
	int numEdges() const { return static_cast<int>(m_edges.size()); }

	/// Features have one value per node (per edge); std::invalid_argument otherwise.
	void setNodeFeature(const std::string& name, std::vector<double> values);
	void setEdgeFeature(const std::string& name, std::vector<double> values);
	const std::map<std::string, std::vector<double>>& nodeFeatures() const { return m_nodeFeatures; }
	const std::map<std::string, std::vector<double>>& edgeFeatures() const { return m_edgeFeatures; }

	Eigen::AlignedBox3d bounds() const override;
	std::string describe() const override;

private:
	std::vector<Eigen::Vector3d> m_nodes;
	std::vector<Eigen::Vector2i> m_edges;
	std::map<std::string, std::vector<double>> m_nodeFeatures;
	std::map<std::string, std::vector<double>> m_edgeFeatures;
};

}
