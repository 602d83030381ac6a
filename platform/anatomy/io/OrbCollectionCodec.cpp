#include "anatomy/io/OrbCollectionCodec.h"

#include "anatomy/io/DataObjectCodec.h"
#include "anatomy/io/PropertiesCodec.h"
#include "anatomy/structures/GenericASC.h"
#include "anatomy/structures/GenericAnatomicalStructure.h"

#include <typeinfo>

namespace Orbitane::OrbCollectionCodec {

namespace {

// Class names as stored; a reader recreates exactly these.
constexpr const char* kGenericASC = "GenericASC";
constexpr const char* kGenericStructure = "GenericAnatomicalStructure";

enum EntryFlags : std::uint8_t
{
	Initialized = 1,
	LocalCopy = 2,    // the entry does not follow its value, so its local copy is not derivable
	KnownFlags = Initialized | LocalCopy
};

// key length, flags, attribute count
constexpr std::size_t kEntryMinBytes = 4 + 1 + 4;

void checkLimit(std::size_t n, std::size_t limit, const char* what)
{
	if (n > limit)
		throw std::runtime_error("more than " + std::to_string(limit) + " " + what + " (" + std::to_string(n) + ")");
}

std::size_t readLimitedCount(PayloadReader& r, std::size_t minBytes, std::size_t limit, const std::string& what)
{
	const std::uint64_t at = r.offset();
	const std::size_t n = r.count(minBytes, what);
	if (n > limit)
		r.failAt(what + " " + std::to_string(n) + " exceeds the limit of " + std::to_string(limit), at);
	return n;
}

template <typename T>
void writeValue(PayloadWriter& w, const T& value)
{
	if constexpr (requires { value->matrixToWorld(); })
		DataObjectCodec::write(w, *value);
	else
		w.vec<T::RowsAtCompileTime>(value);
}

template <typename Local>
void writeLocal(PayloadWriter& w, const Local& local)
{
	if constexpr (Local::ColsAtCompileTime == 4)
		w.matrix(local);
	else
		w.vec<Local::RowsAtCompileTime>(local);
}

template <typename Local>
Local readLocal(PayloadReader& r)
{
	if constexpr (Local::ColsAtCompileTime == 4)
		return r.matrix();
	else
		return r.vec<Local::RowsAtCompileTime>();
}

template <typename T>
T readValue(PayloadReader& r)
{
	if constexpr (requires { typename T::element_type; })
		return DataObjectCodec::read<typename T::element_type>(r);
	else
		return r.vec<T::RowsAtCompileTime>();
}

template <typename Store>
void writeStore(PayloadWriter& w, const Store& store)
{
	checkLimit(store.size(), kMaxStoreEntries, "entries in one store");
	w.count(store.size());
	for (const auto& [key, entry] : store)
	{
		const bool keepLocal = !entry.isSynchronized();
		w.string(key);
		w.u8((entry.isInitialized() ? Initialized : 0) | (keepLocal ? LocalCopy : 0));
		PropertiesCodec::write(w, entry.storedAttributes());
		if (entry.isInitialized())
			writeValue(w, entry.value());
		if constexpr (Store::isObjectStore)
		{
			if (keepLocal)
				writeLocal(w, entry.localMatrix());
		}
		else if (keepLocal)
			writeLocal(w, entry.localValue());
	}
}

template <typename Store>
void readEntry(PayloadReader& r, Store& store, const std::string& key)
{
	const std::uint64_t flagsAt = r.offset();
	const std::uint8_t flags = r.u8();
	if (flags & ~KnownFlags)
		r.failAt("unknown entry flags " + std::to_string(flags), flagsAt);
	Properties attributes = PropertiesCodec::read(r);
	auto& entry = store.getOrCreate(key);
	if (flags & Initialized)
	{
		const std::uint64_t valueAt = r.offset();
		auto value = readValue<typename Store::Value>(r);
		// a keypoint with a NaN component never reaches a store, so the file is damaged
		if constexpr (std::is_same_v<typename Store::Value, Eigen::Vector3d>)
			if (value.hasNaN())
				r.failAt("keypoint '" + key + "' has a NaN component", valueAt);
		entry.set(std::move(value));
	}
	// after the value: with "synchronization" false, assigning would leave the local copy unset
	entry.storedAttributes() = std::move(attributes);
	if (flags & LocalCopy)
		entry.restoreLocal(readLocal<typename Store::Local>(r));
}

template <typename Store>
void readStore(PayloadReader& r, Store& store, const char* name)
{
	const std::size_t n = readLimitedCount(r, kEntryMinBytes, kMaxStoreEntries, std::string(name) + " entry count");
	std::string previous;
	for (std::size_t i = 0; i < n; ++i)
	{
		const std::uint64_t at = r.offset();
		std::string key = r.name(std::string(name) + " key");
		// stores keep their keys byte-wise ordered and unique, so any other order is damage
		if (i > 0 && key <= previous)
			r.failAt(std::string(name) + " key '" + key + "' out of order or repeated", at);
		readEntry(r, store, key);
		previous = std::move(key);
	}
}

void writeStores(PayloadWriter& w, const AnatomicalStructure& s)
{
	writeStore(w, s.keypoints);
	writeStore(w, s.planes);
	writeStore(w, s.images);
	writeStore(w, s.meshes);
	writeStore(w, s.pointclouds);
	writeStore(w, s.graphs);
}

void readStores(PayloadReader& r, AnatomicalStructure& s)
{
	readStore(r, s.keypoints, "keypoint");
	readStore(r, s.planes, "plane");
	readStore(r, s.images, "image");
	readStore(r, s.meshes, "mesh");
	readStore(r, s.pointclouds, "point cloud");
	readStore(r, s.graphs, "graph");
}

std::string className(const AnatomicalStructure& s)
{
	if (typeid(s) == typeid(GenericASC))
		return kGenericASC;
	if (typeid(s) == typeid(GenericAnatomicalStructure))
		return kGenericStructure;
	throw std::runtime_error(std::string("anatomical structures of type ") + typeid(s).name() +
	                         " cannot be saved in this format");
}

std::string readClassName(PayloadReader& r, const char* expected)
{
	const std::uint64_t at = r.offset();
	std::string name = r.string();
	if (name != expected)
		r.failAt("unknown class '" + name + "'", at);
	return name;
}

}

void writeCollection(PayloadWriter& w, const AnatomicalStructureCollection& collection)
{
	w.string(className(collection));
	w.u8(collection.is2D ? 1 : 0);
	DataObjectCodec::writeCommon(w, collection);
	DataObjectCodec::writeModality(w, collection.modality());
	writeStores(w, collection);
	const auto structures = static_cast<std::size_t>(collection.numAnatomicalStructures());
	checkLimit(structures, kMaxStructures, "structures in one collection");
	w.count(structures);
}

std::unique_ptr<AnatomicalStructureCollection> readCollection(PayloadReader& r, std::size_t& structureCount)
{
	readClassName(r, kGenericASC);
	auto collection = std::make_unique<GenericASC>(r.boolean());
	DataObjectCodec::readCommon(r, *collection);
	collection->setModality(DataObjectCodec::readModality(r));
	readStores(r, *collection);
	structureCount = readLimitedCount(r, 0, kMaxStructures, "structure count");
	return collection;
}

void writeStructure(PayloadWriter& w, const AnatomicalStructure& structure)
{
	w.string(className(structure));
	w.string(structure.identifier());
	w.u8(structure.is2D ? 1 : 0);
	w.matrix(structure.matrixToWorld());
	writeStores(w, structure);
}

std::unique_ptr<AnatomicalStructure> readStructure(PayloadReader& r)
{
	readClassName(r, kGenericStructure);
	auto structure = std::make_unique<GenericAnatomicalStructure>(r.name("structure identifier"));
	structure->is2D = r.boolean();
	const std::uint64_t matrixAt = r.offset();
	const Eigen::Matrix4d matrix = r.matrix();
	try
	{
		structure->setMatrixToWorld(matrix, false);
	}
	catch (const std::invalid_argument& e)
	{
		r.failAt(std::string("matrix refused: ") + e.what(), matrixAt);
	}
	readStores(r, *structure);
	return structure;
}

}
