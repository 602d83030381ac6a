#include "anatomy/structures/AnatomicalStructureCollection.h"
#include "anatomy/style/StyleResolver.h"
#include "style_bindings/StylingDetail.h"

#include <string>

namespace Orbitane::Bindings {

using AnatomyPlugin::ContentType;

namespace {

template <typename Store>
void appendResolved(py::list& out, const AnatomicalStructureCollection& collection, const AnatomicalStructure& s,
                    ContentType type, const Store& store)
{
	const std::string identifier = s.identifier();
	const py::str storeName(std::string(AnatomyPlugin::contentTypeName(type)));
	for (const std::string& key : store.keys())
		out.append(py::make_tuple(identifier, storeName, key,
		                          py::cast(AnatomyPlugin::resolveStyle(collection, s, type, key))));
}

/// Every element of every structure, in collection order, then store order, then key order.
py::list resolveAll(const AnatomicalStructureCollection& collection)
{
	py::list out;
	for (int i = 0; i < collection.numAnatomicalStructures(); ++i)
	{
		const AnatomicalStructure& s = *collection.anatomicalStructure(i);
		appendResolved(out, collection, s, ContentType::Keypoints, s.keypoints);
		appendResolved(out, collection, s, ContentType::Planes, s.planes);
		appendResolved(out, collection, s, ContentType::Images, s.images);
		appendResolved(out, collection, s, ContentType::Meshes, s.meshes);
		appendResolved(out, collection, s, ContentType::PointClouds, s.pointclouds);
		appendResolved(out, collection, s, ContentType::Graphs, s.graphs);
	}
	return out;
}

}

// Private: orbitane.styles.resolve_styles is the public face, so that the module's own members
// stay as its design fixes them.
void bindStyleResolution(py::module_& m)
{
	m.def("_resolve_styles", &resolveAll, py::arg("collection"),
	      "(structure identifier, store, key, resolved Properties) for every element of the collection.");
}

}
