#pragma once

#include "anatomy/io/OrbBytes.h"
#include "data/Data.h"
#include "data/Mesh.h"
#include "data/PointCloud.h"
#include "data/SharedImageSet.h"
#include "graph/Graph.h"

#include <memory>

namespace Orbitane::DataObjectCodec {

/// What every data object shares: name, world matrix and the components that the component
/// factory can recreate (others are left out). The modality is written by each kind, since an
/// image set keeps one per image.
void writeCommon(PayloadWriter& w, const Data& data);
void readCommon(PayloadReader& r, Data& data);

/// Modality as stored; values outside the enumeration are refused.
void writeModality(PayloadWriter& w, Modality m);
Modality readModality(PayloadReader& r);

void write(PayloadWriter& w, const SharedImageSet& images);
void write(PayloadWriter& w, const Mesh& mesh);
void write(PayloadWriter& w, const PointCloud& cloud);
void write(PayloadWriter& w, const Graph& graph);

std::unique_ptr<SharedImageSet> readImageSet(PayloadReader& r);
std::unique_ptr<Mesh> readMesh(PayloadReader& r);
std::unique_ptr<PointCloud> readPointCloud(PayloadReader& r);
std::unique_ptr<Graph> readGraph(PayloadReader& r);

/// Dispatch on the element type of an object store.
template <typename T>
std::unique_ptr<T> read(PayloadReader& r)
{
	if constexpr (std::is_same_v<T, SharedImageSet>)
		return readImageSet(r);
	else if constexpr (std::is_same_v<T, Mesh>)
		return readMesh(r);
	else if constexpr (std::is_same_v<T, PointCloud>)
		return readPointCloud(r);
	else
		return readGraph(r);
}

}
