#pragma once

#include "core/NotCopyable.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace Orbitane {

class SignalReceiver;

/// Shared between a signal's slot and its receiver, so that whichever side dies first cuts the link
/// and the other never follows a dangling pointer.
struct SignalConnection
{
	bool connected = true;
	const void* signal = nullptr;
	SignalReceiver* receiver = nullptr;
	int id = 0;
};

/// Base of objects that connect their own slots to signals: their connections end with them.
class SignalReceiver
{
public:
	SignalReceiver() = default;
	SignalReceiver(const SignalReceiver&) {}    // a copy holds no connections of its own
	SignalReceiver& operator=(const SignalReceiver&) { return *this; }
	virtual ~SignalReceiver() { disconnectAll(); }

	void disconnectAll()
	{
		for (auto& c : m_connections)
			c->connected = false;
		m_connections.clear();
	}

	/// Drops this receiver's connections to one signal.
	void disconnectFrom(const void* signal)
	{
		std::erase_if(m_connections, [signal](const std::shared_ptr<SignalConnection>& c) {
			if (c->signal != signal)
				return !c->connected;
			c->connected = false;
			return true;
		});
	}

private:
	template <typename...>
	friend class Signal;
	void track(std::shared_ptr<SignalConnection> c)
	{
		std::erase_if(m_connections, [](const auto& old) { return !old->connected; });
		m_connections.push_back(std::move(c));
	}

	std::vector<std::shared_ptr<SignalConnection>> m_connections;
};

/// Typed signal; slots run synchronously in connection order, and exceptions thrown by a slot pass
/// through emitSignal. Slots may connect or disconnect while the signal is being emitted.
template <typename... Args>
class Signal : Utils::NotCopyable
{
public:
	using Slot = std::function<void(Args...)>;

	Signal() = default;
	~Signal() { disconnectAll(); }

	/// Connects a slot that lives as long as the signal (or until disconnect(id)).
	int connect(Slot slot) { return add(std::move(slot), nullptr); }

	/// Connects a slot owned by a receiver: it is dropped when the receiver dies.
	int connect(SignalReceiver* receiver, Slot slot) { return add(std::move(slot), receiver); }

	bool disconnect(int id)
	{
		for (auto& s : m_slots)
			if (s.connection->id == id && s.connection->connected)
			{
				s.connection->connected = false;
				prune();
				return true;
			}
		return false;
	}

	/// Drops every connection held by the receiver on this signal.
	void disconnect(SignalReceiver* receiver)
	{
		if (receiver)
			receiver->disconnectFrom(this);
		prune();
	}

	void disconnectAll()
	{
		for (auto& s : m_slots)
			s.connection->connected = false;
		m_slots.clear();
	}

	void emitSignal(Args... args)
	{
		auto snapshot = m_slots;    // slots may change the connection list
		for (auto& s : snapshot)
			if (s.connection->connected)
				s.slot(args...);
	}
	void operator()(Args... args) { emitSignal(args...); }

	std::size_t numConnections() const
	{
		return std::count_if(m_slots.begin(), m_slots.end(), [](const auto& s) { return s.connection->connected; });
	}

private:
	struct Entry
	{
		std::shared_ptr<SignalConnection> connection;
		Slot slot;
	};

	int add(Slot slot, SignalReceiver* receiver)
	{
		prune();
		auto c = std::make_shared<SignalConnection>(SignalConnection{true, this, receiver, ++m_lastId});
		if (receiver)
			receiver->track(c);
		m_slots.push_back({c, std::move(slot)});
		return c->id;
	}
	void prune()
	{
		std::erase_if(m_slots, [](const Entry& e) { return !e.connection->connected; });
	}

	std::vector<Entry> m_slots;
	int m_lastId = 0;
};

}
