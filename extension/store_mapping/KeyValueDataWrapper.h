#pragma once

#include "anatomy/AnatomicalStructureInvalidException.h"
#include "anatomy/structures/AnatomicalStructureWrapper.h"
#include "core/Properties.h"
#include "support/DictCopy.h"
#include "support/Utf8Name.h"
#include "store_mapping/KeyValueElement.h"
#include "anatomy/stores/KeyValueStore.h"
#include "store_mapping/KeySnapshotIterator.h"

#include <pybind11/pybind11.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace binding_detail {

namespace py = pybind11;

inline constexpr const char* nullObjectMessage = "Cannot set a null shared_ptr to a KeyValueStore expecting unique_ptr";

/// Python mapping over one store of a structure. It never owns the store: every access first
/// checks, through its own copy of the structure handle, that the structure still exists, and
/// every element crosses the boundary as a copy or clone.
///
/// An object entry that exists without an object (made by attribute access under a new key)
/// reads as None (get, values, asdict) and is removed by delete like any other entry.
template <typename T>
class KeyValueDataWrapper
{
public:
	using Store = Orbitane::KeyValueStore<T>;
	using Conversion = Element<T>;
	using PyElement = typename Conversion::Python;
	using Returned = typename Conversion::Returned;

	/// Read access to the attribute sets of the store's entries. It keeps a handle copy so that it
	/// never reaches into the store of a structure that is gone.
	class Attributes
	{
	public:
		Attributes(Store* store, const Orbitane::AnatomicalStructureWrapper& structure, std::string name)
		    : data_store(store), anatomical_structure(structure), identifier(std::move(name))
		{
		}

		/// A copy of the entry's attributes; the entry is created when missing.
		Orbitane::Properties get(const std::string& key)
		{
			if (!anatomical_structure.isValid())
				throwInvalid(identifier);
			return data_store->getOrCreate(key).attributes();
		}

		Store* data_store;
		Orbitane::AnatomicalStructureWrapper anatomical_structure;
		std::string identifier;
	};

	KeyValueDataWrapper(Store* store, const Orbitane::AnatomicalStructureWrapper& structure, std::string name)
	    : data_store(store), anatomical_structure(structure), identifier(std::move(name))
	{
	}

	void checkValid() const
	{
		if (!anatomical_structure.isValid())
			throwInvalid(identifier);
	}

	Returned get(const std::string& key) const
	{
		checkValid();
		const auto* entry = data_store->find(key);
		if (!entry)
			throwMissing(key);
		return Conversion::toPython(entry->value());
	}

	void set(const std::string& key, PyElement value)
	{
		checkValid();
		apply(Orbitane::Bindings::utf8Name(key, "key"), std::move(value));
	}

	void remove(const std::string& key)
	{
		checkValid();
		if (!data_store->contains(key))
			throwMissing(key);
		data_store->remove(key);
	}

	bool contains(const std::string& key) const
	{
		checkValid();
		return data_store->contains(key);
	}

	std::size_t size() const
	{
		checkValid();
		return data_store->size();
	}

	std::vector<std::string> keys() const
	{
		checkValid();
		return data_store->keys();
	}

	std::vector<Returned> values() const
	{
		checkValid();
		std::vector<Returned> out;
		out.reserve(data_store->size());
		for (const auto& [key, entry] : *data_store)
			out.push_back(Conversion::toPython(entry.value()));
		return out;
	}

	std::map<std::string, Returned> asdict() const
	{
		checkValid();
		std::map<std::string, Returned> out;
		for (const auto& [key, entry] : *data_store)
			out.emplace_hint(out.end(), key, Conversion::toPython(entry.value()));
		return out;
	}

	/// The whole dictionary is converted, and null objects refused, before the store is touched.
	/// Converting runs Python code (an element's __array__, say) that may end the structure, so
	/// its validity is checked again afterwards, right before the store is used.
	void fromDict(const py::dict& dict, bool clear)
	{
		checkValid();
		std::map<std::string, PyElement> converted = convert(dict);
		checkValid();
		if constexpr (Store::isObjectStore)
			for (const auto& [key, value] : converted)
				if (!value)
					throw std::invalid_argument(nullObjectMessage);
		if (clear)
			data_store->clear();
		for (auto& [key, value] : converted)
			apply(key, std::move(value));
	}

	KeySnapshot snapshot() const
	{
		checkValid();
		return KeySnapshot(data_store->keys());
	}

	std::string repr() const
	{
		checkValid();
		std::string text = "<KeyValueDataWrapper for " + identifier + ", Keys: [";
		bool first = true;
		for (const auto& [key, entry] : *data_store)
		{
			text += first ? "'" : ",'";
			text += key;
			text += "'";
			first = false;
		}
		return text + "] >";
	}

	Attributes attributes() const { return Attributes(data_store, anatomical_structure, identifier); }

	Store* data_store;
	Orbitane::AnatomicalStructureWrapper anatomical_structure;
	std::string identifier;

private:
	[[noreturn]] static void throwInvalid(const std::string& identifier)
	{
		throw Orbitane::AnatomicalStructureInvalidException("AnatomicalStructure holding " + identifier +
		                                                    " key value store is no longer valid");
	}

	[[noreturn]] void throwMissing(const std::string& key) const
	{
		std::string available;
		bool first = true;
		for (const auto& [name, entry] : *data_store)
		{
			available += first ? "" : ", ";
			available += name;
			first = false;
		}
		throw py::key_error("Key '" + key + "' not found. Available keys: " + available);
	}

	void apply(const std::string& key, PyElement value)
	{
		if constexpr (std::is_same_v<T, Eigen::Vector3d>)
		{
			// the store's own rule: a NaN keypoint means "no keypoint"
			data_store->set(key, value);
		}
		else if constexpr (std::is_same_v<T, Eigen::Vector4d>)
			data_store->getOrCreate(key).exchange(value);
		else
		{
			if (!value)
				throw std::invalid_argument(nullObjectMessage);
			if (auto stored = Orbitane::KeyValueStoreDetail::copyObject(*value))
				data_store->getOrCreate(key).set(std::move(stored));
			else
				data_store->remove(key);
		}
	}

	static std::map<std::string, PyElement> convert(const py::dict& dict)
	{
		std::map<std::string, PyElement> out;
		for (auto [key, value] : Orbitane::Bindings::copyOfDict(dict))
		{
			// the key first: a bad key is reported before any value's conversion runs code
			std::string name = Orbitane::Bindings::utf8Name(convertItem<std::string>(key), "key");
			out.insert_or_assign(std::move(name), convertItem<PyElement>(value));
		}
		return out;
	}

	template <typename Target>
	static Target convertItem(py::handle item)
	{
		if constexpr (Store::isObjectStore && std::is_same_v<Target, PyElement>)
			if (item.is_none())
				return nullptr;
		py::detail::make_caster<Target> caster;
		if (!caster.load(item, true))
			throw std::invalid_argument("Type mismatch in dictionary conversion: Unable to cast Python instance of type " +
			                            py::str(py::type::handle_of(item)).template cast<std::string>() +
			                            " to C++ type '" + py::type_id<Target>() + "'");
		return py::detail::cast_op<Target>(std::move(caster));
	}
};

}
