#pragma once

#include "anatomy/stores/KeyValueStoreDetail.h"
#include "core/NotCopyable.h"
#include "core/Properties.h"
#include "core/Signal.h"

#include <Eigen/Core>
#include <Eigen/LU>

#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace Orbitane {

/// String-keyed store of one element kind of an anatomical structure. Elements are kept in world
/// coordinates, together with a copy in the frame of the owning structure (`matrix`) and a free
/// attribute set each. Invalid elements (a keypoint with a NaN component, a null object) are
/// refused with a log message. Keys are ordered byte-wise (unsigned), shorter prefix first.
///
/// T is Eigen::Vector3d (keypoints), Eigen::Vector4d (planes) or std::unique_ptr<O> for a Data
/// type O (SharedImageSet, Mesh, PointCloud, Graph); the latter are "object stores".
template <typename T>
class KeyValueStore : public SignalReceiver
{
	using Traits = KeyValueStoreDetail::Traits<T>;

public:
	static constexpr bool isObjectStore = Traits::isObject;
	using Value = T;
	/// The element as signals carry it: a const vector reference, or a pointer to the object.
	using Element = typename Traits::Element;
	/// What remove() hands back: an optional vector, or the owning pointer (null when absent).
	using Removed = typename Traits::Removed;
	/// The local copy: the vector in the structure's frame, or the object's matrix relative to it.
	using Local = typename Traits::Local;

	/// One element with its attributes and local copy; lives in a map node of its store.
	class Entry : Utils::NotCopyable, public SignalReceiver
	{
	public:
		explicit Entry(KeyValueStore* store) : m_store(store) {}
		// members go in reverse: attributes, then the object, then (base) the connections
		~Entry() override = default;

		const T& value() const { return m_value; }

		/// Logs "Invalid entry (nullptr/NaN) present in KeyValueStore" first when the value is invalid.
		Properties& attributes()
		{
			logIfInvalid();
			return m_attributes;
		}
		const Properties& attributes() const
		{
			logIfInvalid();
			return m_attributes;
		}

		/// Validating assignment; false (and a log message) for an invalid value.
		bool set(T value);
		/// Assignment that hands back the previous element; an invalid value is handed back untouched.
		T exchange(T value);
		/// Recomputes the local copy unless the attribute "synchronization" is false.
		void updateLocal();

		const Local& localValue() const requires(!isObjectStore) { return m_local; }
		const Eigen::Matrix4d& localMatrix() const requires(isObjectStore) { return m_local; }
		bool isInitialized() const { return m_initialized; }
		/// For file readers and writers, which copy entries whole: the attributes without the
		/// invalid-value log, and the local copy of an entry that does not follow its value.
		Properties& storedAttributes() { return m_attributes; }
		const Properties& storedAttributes() const { return m_attributes; }
		void restoreLocal(const Local& local) { m_local = local; }
		KeyValueStore* store() const { return m_store; }
		bool isSynchronized() const
		{
			bool sync = true;
			return !m_attributes.param("synchronization", sync) || sync;
		}

	private:
		friend class KeyValueStore;

		void logIfInvalid() const
		{
			if (!Traits::isValid(m_value))
				KeyValueStoreDetail::log("Invalid entry (nullptr/NaN) present in KeyValueStore");
		}
		void followObjectMatrix(const T& previous);

		T m_value = Traits::invalid();
		Properties m_attributes;
		KeyValueStore* m_store;
		// the key of the map node the entry lives in, set by the store; null for an entry outside it
		const std::string* m_key = nullptr;
		Local m_local = Local::Constant(std::numeric_limits<double>::quiet_NaN());
		bool m_initialized = false;
	};

	KeyValueStore() = default;
	KeyValueStore(const KeyValueStore&) = delete;    // entries point back at their store
	KeyValueStore& operator=(const KeyValueStore&) = delete;
	~KeyValueStore() override = default;

	/// Emitted when an entry receives its first valid value.
	Signal<const std::string&, Entry&> entryAdded;
	/// Emitted after an entry was erased (contains(key) is already false); an object passed here
	/// is still alive while the slots run.
	Signal<const std::string&, Element> entryRemoved;
	/// Emitted when an initialized entry receives another valid value; carries the previous one.
	Signal<const std::string&, Element, Entry&> entryChanged;

private:
	// std::less<std::string> compares as unsigned char, which is exactly the byte-wise order;
	// map nodes keep every entry at a fixed address for its whole life
	std::map<std::string, Entry, std::less<>> m_entries;

public:
	/// The owning structure's local-to-world matrix; null means identity. Not owned.
	const Eigen::Matrix4d* matrix = nullptr;

	bool contains(const std::string& key) const { return m_entries.contains(key); }
	std::size_t size() const { return m_entries.size(); }
	bool empty() const { return m_entries.empty(); }

	/// The entry for key, created (uninitialized, invalid value) when missing. No signal, no log.
	Entry& getOrCreate(const std::string& key)
	{
		auto [it, inserted] = m_entries.try_emplace(key, this);
		if (inserted)
			it->second.m_key = &it->first;
		return it->second;
	}

	/// The entry for key. A missing key is logged and answered with a shared empty entry that
	/// belongs to no store and holds an invalid value; callers are expected to check contains().
	const Entry& at(const std::string& key) const;

	/// Null when the key is missing; never creates, never logs.
	Entry* find(const std::string& key);
	const Entry* find(const std::string& key) const;

	/// Valid values are assigned through getOrCreate(key).set(value); an invalid one removes the
	/// key instead (silently) and gives null.
	Entry* set(const std::string& key, T value);

	/// Erases the entry and emits entryRemoved; gives the removed element (empty for a missing key).
	Removed remove(const std::string& key);
	/// remove() for every entry, in ascending key order.
	void clear();

	std::vector<std::string> keys() const;

	auto begin() { return m_entries.begin(); }
	auto end() { return m_entries.end(); }
	auto begin() const { return m_entries.begin(); }
	auto end() const { return m_entries.end(); }

	/// Makes this store a deep copy of other (elements copied or cloned, attributes, local copies
	/// and initialization kept); the previous content is cleared first, with signals.
	void assignFrom(const KeyValueStore& other);

	/// Local copies recomputed from the world values (entries with "synchronization" false keep theirs).
	void updateLocalCopies();

	/// Maps every synchronized element's world value by transform, keeping its local copy as it
	/// was: vectors through entryChanged, objects by their own matrix. Keypoints that would turn
	/// NaN (an infinite component) stay where they are.
	void moveWithFrame(const Eigen::Matrix4d& transform);

private:
	Removed eraseAndAnnounce(typename decltype(m_entries)::iterator it, bool dropStoreConnections);
};

// ---- Entry -----------------------------------------------------------------------------------

template <typename T>
bool KeyValueStore<T>::Entry::set(T value)
{
	if (!Traits::isValid(value))
	{
		KeyValueStoreDetail::log("Attempted to insert invalid entry (nullptr/NaN) into KeyValueStore!");
		return false;
	}
	// the previous object dies here, after exchange has announced the change
	exchange(std::move(value));
	return true;
}

template <typename T>
T KeyValueStore<T>::Entry::exchange(T value)
{
	if (!Traits::isValid(value))
	{
		KeyValueStoreDetail::log("Attempting to insert invalid entry (nullptr/NaN) into KeyValueStore");
		return value;
	}
	std::swap(m_value, value);
	T& previous = value;
	updateLocal();
	if constexpr (isObjectStore)
		followObjectMatrix(previous);
	const bool wasInitialized = m_initialized;
	m_initialized = true;

	if (!m_key)
	{
		KeyValueStoreDetail::log("Entry that was not part of map tried to emit signal");
		return std::move(previous);
	}
	// a slot may erase this entry; the key must not live in the node it would free
	const std::string key = *m_key;
	KeyValueStore& store = *m_store;
	if (wasInitialized)
		store.entryChanged.emitSignal(key, Traits::element(previous), *this);
	else
		store.entryAdded.emitSignal(key, *this);
	return std::move(previous);
}

template <typename T>
void KeyValueStore<T>::Entry::followObjectMatrix(const T& previous)
{
	if (previous)
		previous->matrixChanged.disconnect(this);
	// the connection belongs to this entry's receiver part and ends with it
	m_value->matrixChanged.connect(this, [this](const auto*) { updateLocal(); });
}

template <typename T>
void KeyValueStore<T>::Entry::updateLocal()
{
	if (!isSynchronized())
		return;
	const Eigen::Matrix4d* frame = m_store ? m_store->matrix : nullptr;
	if constexpr (isObjectStore)
	{
		if (!m_value)
			return;
		const Eigen::Matrix4d& world = m_value->matrixToWorld();
		m_local = frame ? Eigen::Matrix4d(frame->inverse() * world) : world;
	}
	else
		m_local = Traits::toLocal(m_value, frame);
}

// ---- KeyValueStore ---------------------------------------------------------------------------

template <typename T>
const typename KeyValueStore<T>::Entry& KeyValueStore<T>::at(const std::string& key) const
{
	if (const Entry* e = find(key))
		return *e;
	Log::logIfAccepted(Log::Warning, KeyValueStoreDetail::logCategory,
	                   [&] { return "Attempted to access missing element with key " + key; });
	static const Entry missing(nullptr);
	return missing;
}

template <typename T>
typename KeyValueStore<T>::Entry* KeyValueStore<T>::find(const std::string& key)
{
	auto it = m_entries.find(key);
	return it == m_entries.end() ? nullptr : &it->second;
}

template <typename T>
const typename KeyValueStore<T>::Entry* KeyValueStore<T>::find(const std::string& key) const
{
	auto it = m_entries.find(key);
	return it == m_entries.end() ? nullptr : &it->second;
}

template <typename T>
typename KeyValueStore<T>::Entry* KeyValueStore<T>::set(const std::string& key, T value)
{
	if (!Traits::isValid(value))
	{
		remove(key);
		return nullptr;
	}
	Entry& entry = getOrCreate(key);
	entry.set(std::move(value));
	return &entry;
}

template <typename T>
typename KeyValueStore<T>::Removed KeyValueStore<T>::remove(const std::string& key)
{
	auto it = m_entries.find(key);
	if (it == m_entries.end())
		return Removed{};
	return eraseAndAnnounce(it, true);
}

template <typename T>
void KeyValueStore<T>::clear()
{
	// keys are taken up front so that slots adding entries cannot keep the loop going forever
	for (const std::string& key : keys())
		if (auto it = m_entries.find(key); it != m_entries.end())
			eraseAndAnnounce(it, false);
}

template <typename T>
typename KeyValueStore<T>::Removed KeyValueStore<T>::eraseAndAnnounce(typename decltype(m_entries)::iterator it,
                                                                      bool dropStoreConnections)
{
	Entry& entry = it->second;
	if constexpr (isObjectStore)
	{
		if (entry.m_value && dropStoreConnections)
			entry.m_value->matrixChanged.disconnect(this);
		if (entry.m_value && entry.m_initialized)
			entry.m_value->matrixChanged.disconnect(&entry);
	}
	entry.m_initialized = false;
	T value = std::move(entry.m_value);
	const std::string key = it->first;
	m_entries.erase(it);
	entryRemoved.emitSignal(key, Traits::element(value));
	return Removed(std::move(value));
}

template <typename T>
std::vector<std::string> KeyValueStore<T>::keys() const
{
	std::vector<std::string> result;
	result.reserve(m_entries.size());
	for (const auto& [key, entry] : m_entries)
		result.push_back(key);
	return result;
}

template <typename T>
void KeyValueStore<T>::assignFrom(const KeyValueStore& other)
{
	if (&other == this)
		return;
	clear();
	for (const auto& [key, source] : other)
	{
		Entry& entry = getOrCreate(key);
		entry.m_attributes = source.m_attributes;
		if (source.m_initialized && Traits::isValid(source.m_value))
			entry.set(Traits::copy(source.m_value));
		entry.m_local = source.m_local;
	}
}

template <typename T>
void KeyValueStore<T>::updateLocalCopies()
{
	for (auto& [key, entry] : m_entries)
		if (entry.m_initialized)
			entry.updateLocal();
}

template <typename T>
void KeyValueStore<T>::moveWithFrame(const Eigen::Matrix4d& transform)
{
	// slots of entryChanged may change the map; walk a snapshot of the keys
	for (const std::string& key : keys())
	{
		Entry* entry = find(key);
		if (!entry || !entry->m_initialized || !entry->isSynchronized())
			continue;
		const Local local = entry->m_local;
		if constexpr (isObjectStore)
		{
			entry->m_value->setMatrixToWorld(transform * entry->m_value->matrixToWorld());
			// other receivers of the object's signal may have erased the entry meanwhile
			if (find(key) == entry)
				entry->m_local = local;
		}
		else
		{
			T moved = Traits::moveWithFrame(transform, entry->m_value);
			if (!Traits::isValid(moved))
				continue;
			T previous = std::exchange(entry->m_value, moved);
			entry->m_local = local;
			entryChanged.emitSignal(key, Traits::element(previous), *entry);
		}
	}
}

}
