#include "structure_bindings/DeprecatedKeypoints.h"

#include "support/DictCopy.h"
#include "support/Utf8Name.h"

#include <pybind11/eigen.h>

#include <set>
#include <utility>
#include <vector>

namespace Orbitane::Bindings::DeprecatedKeypoints {

namespace {

using PointStore = KeyValueStore<Eigen::Vector3d>;

void warnDeprecated()
{
	py::module_::import("warnings").attr("warn")("This method is deprecated, use 'keypoints2' instead.");
}

/// Assigns through the entry like the store's users always did, except that a refused point never
/// leaves an empty entry behind under a name that was not there before.
void assignPoint(PointStore& store, const std::string& name, const Eigen::Vector3d& point)
{
	if (store.contains(name) || !point.hasNaN())
	{
		store.getOrCreate(name).set(point);
		return;
	}
	// refused with the store's own message by an entry that never joins the map
	PointStore::Entry(&store).set(point);
}

[[noreturn]] void throwMissing(const std::string& name) { throw py::key_error("Keypoint '" + name + "' not found"); }

}

py::dict get(AnatomicalStructureWrapper& structure)
{
	warnDeprecated();
	py::dict out;
	for (const auto& [key, entry] : structure->keypoints)
		out[py::str(key)] = py::cast(Eigen::Vector3d(entry.value()));
	return out;
}

void assign(AnatomicalStructureWrapper& structure, const py::dict& keypoints)
{
	warnDeprecated();
	// Converting a point may run Python code that changes the dict or ends the structure: the
	// loop walks a copy of the dict, and the store is looked up only once all points are read.
	const py::dict snapshot = copyOfDict(keypoints);
	std::vector<std::pair<std::string, Eigen::Vector3d>> converted;
	converted.reserve(snapshot.size());
	for (auto [key, value] : snapshot)
	{
		auto point = value.cast<Eigen::Vector3d>();
		converted.emplace_back(utf8Name(key.cast<std::string>(), "key"), point);
	}
	PointStore& store = structure->keypoints;
	const std::vector<std::string> before = store.keys();
	std::set<std::string> stale(before.begin(), before.end());
	for (const auto& [key, point] : converted)
	{
		assignPoint(store, key, point);
		stale.erase(key);
	}
	for (const std::string& key : stale)
		store.remove(key);
}

Eigen::Vector3d getOne(const AnatomicalStructureWrapper& structure, const std::string& name)
{
	warnDeprecated();
	const AnatomicalStructure* s = structure.operator->();
	if (!s->keypoints.contains(name))
		throwMissing(name);
	return s->keypoints.at(name).value();
}

void setOne(AnatomicalStructureWrapper& structure, const std::string& name, const Eigen::Vector3d& point)
{
	assignPoint(structure->keypoints, utf8Name(name, "key"), point);
}

void removeOne(AnatomicalStructureWrapper& structure, const std::string& name)
{
	warnDeprecated();
	PointStore& store = structure->keypoints;
	if (!store.contains(name))
		throwMissing(name);
	store.remove(name);
}

}
