#pragma once

#include "anatomy/AnatomicalStructureInvalidException.h"
#include "anatomy/structures/AnatomicalStructureWrapper.h"
#include "core/Properties.h"
#include "data/DeferredCopies.h"
#include "support/DictCopy.h"
#include "support/Utf8Name.h"
#include "python/native/View.h"
#include "store_mapping/KeyValueElement.h"
#include "anatomy/stores/KeyValueStore.h"
#include "store_mapping/KeySnapshotIterator.h"

#include <pybind11/pybind11.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace binding_detail {

namespace py = pybind11;

inline constexpr const char* nullObjectMessage = "Cannot set a null shared_ptr to a KeyValueStore expecting unique_ptr";

/// How a view of a store reports that its structure is gone; the store's name is in the message.
struct StoreGone
{
	std::string identifier;

	[[noreturn]] void raise() const
	{
		throw Orbitane::AnatomicalStructureInvalidException("AnatomicalStructure holding " + identifier +
		                                                    " key value store is no longer valid");
	}
};

/// Python mapping over one store of a structure. It never owns the store: every access goes
/// through a view that watches the structure's life, and every element crosses the boundary as a
/// copy or clone.
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
	using StoreView = Orbitane::Python::View<Store, StoreGone>;

	/// Read access to the attribute sets of the store's entries, through the same view, so that it
	/// never reaches into the store of a structure that is gone.
	class Attributes
	{
	public:
		explicit Attributes(StoreView store) : m_store(std::move(store)) {}

		/// A copy of the entry's attributes; the entry is created when missing.
		Orbitane::Properties get(const std::string& key) { return m_store->getOrCreate(key).attributes(); }

	private:
		StoreView m_store;
	};

	/// store belongs to the structure that structure refers to, which must still exist.
	KeyValueDataWrapper(Store& store, const Orbitane::AnatomicalStructureWrapper& structure, std::string name)
	    : m_store(store, structure.lifeWatch(), StoreGone{std::move(name)})
	{}

	bool valid() const { return m_store.alive(); }

	Returned get(const std::string& key) const
	{
		const auto* entry = m_store->find(key);
		if (!entry)
			throwMissing(key);
		return Orbitane::withDeferredCopies([&] { return Conversion::toPython(entry->value()); });
	}

	/// Copying an object from Python may run Python code (an element's __array__, say) that may end
	/// the structure, so the store is reached through the view again once the copy is made.
	void set(const std::string& key, PyElement value)
	{
		std::string name = Orbitane::Bindings::utf8Name(key, "key");
		m_store.get();
		Stored stored = storable(std::move(value));
		put(m_store.get(), name, std::move(stored));
	}

	void remove(const std::string& key)
	{
		Store& store = m_store.get();
		if (!store.contains(key))
			throwMissing(key);
		store.remove(key);
	}

	bool contains(const std::string& key) const { return m_store->contains(key); }
	std::size_t size() const { return m_store->size(); }
	std::vector<std::string> keys() const { return m_store->keys(); }

	std::vector<Returned> values() const
	{
		return Orbitane::withDeferredCopies([&] {
			const Store& store = m_store.get();
			std::vector<Returned> out;
			out.reserve(store.size());
			for (const auto& [key, entry] : store)
				out.push_back(Conversion::toPython(entry.value()));
			return out;
		});
	}

	std::map<std::string, Returned> asdict() const
	{
		return Orbitane::withDeferredCopies([&] {
			std::map<std::string, Returned> out;
			for (const auto& [key, entry] : m_store.get())
				out.emplace_hint(out.end(), key, Conversion::toPython(entry.value()));
			return out;
		});
	}

	/// The whole dictionary is converted, and null objects refused, before the store is touched.
	/// Converting runs Python code (an element's __array__, say) that may end the structure, so
	/// the store is reached through the view again afterwards, right before it is used.
	void fromDict(const py::dict& dict, bool clear)
	{
		m_store.get();
		std::map<std::string, PyElement> converted = convert(dict);
		if constexpr (Store::isObjectStore)
			for (const auto& [key, value] : converted)
				if (!value)
					throw std::invalid_argument(nullObjectMessage);
		// copies run Python code too, so all are made before the store is reached again
		std::vector<std::pair<std::string, Stored>> copies;
		copies.reserve(converted.size());
		for (auto& [key, value] : converted)
			copies.emplace_back(key, storable(std::move(value)));
		Store& store = m_store.get();
		if (clear)
			store.clear();
		for (auto& [key, stored] : copies)
			put(store, key, std::move(stored));
	}

	KeySnapshot snapshot() const { return KeySnapshot(m_store->keys()); }

	std::string repr() const
	{
		std::string text = "<KeyValueDataWrapper for " + m_store.gone().identifier + ", Keys: [";
		bool first = true;
		for (const auto& [key, entry] : m_store.get())
		{
			text += first ? "'" : ",'";
			text += key;
			text += "'";
			first = false;
		}
		return text + "] >";
	}

	Attributes attributes() const { return Attributes(m_store); }

private:
	StoreView m_store;

	[[noreturn]] void throwMissing(const std::string& key) const
	{
		std::string available;
		bool first = true;
		for (const auto& [name, entry] : m_store.get())
		{
			available += first ? "" : ", ";
			available += name;
			first = false;
		}
		throw py::key_error("Key '" + key + "' not found. Available keys: " + available);
	}

	/// What a value from Python becomes in the store: vectors themselves, objects a copy (null when
	/// an image set's clone yields nothing).
	using Stored = std::conditional_t<Store::isObjectStore, T, PyElement>;

	static Stored storable(PyElement value)
	{
		if constexpr (Store::isObjectStore)
		{
			if (!value)
				throw std::invalid_argument(nullObjectMessage);
			return Orbitane::KeyValueStoreDetail::copyObject(*value);
		}
		else
			return value;
	}

	static void put(Store& store, const std::string& key, Stored stored)
	{
		if constexpr (std::is_same_v<T, Eigen::Vector3d>)
		{
			// the store's own rule: a NaN keypoint means "no keypoint"
			store.set(key, stored);
		}
		else if constexpr (std::is_same_v<T, Eigen::Vector4d>)
			store.getOrCreate(key).exchange(stored);
		else if (stored)
			store.getOrCreate(key).set(std::move(stored));
		else
			store.remove(key);
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
		try
		{
			return item.cast<Target>();
		}
		catch (const py::cast_error&)
		{
			throw std::invalid_argument(
			    "Type mismatch in dictionary conversion: Unable to cast Python instance of type " +
			    py::str(py::type::handle_of(item)).template cast<std::string>() + " to C++ type '" +
			    py::type_id<Target>() + "'");
		}
	}
};

}
