#pragma once

#include <memory>

namespace Orbitane {

/// Carried by an object that others may refer to without owning it (a structure inside its
/// collection, a style sheet inside its display options): a Watch taken from the token tells,
/// at any later time, whether the object still exists, without keeping it alive. A copy of the
/// object is another object, so a copied or assigned token keeps its own life.
class LifeToken
{
public:
	class Watch
	{
	public:
		/// A watch of nothing: never alive.
		Watch() = default;
		bool alive() const { return !m_life.expired(); }

	private:
		friend class LifeToken;
		explicit Watch(const std::shared_ptr<const void>& life) : m_life(life) {}
		std::weak_ptr<const void> m_life;
	};

	LifeToken() : m_life(std::make_shared<char>()) {}
	LifeToken(const LifeToken&) : LifeToken() {}
	LifeToken& operator=(const LifeToken&) { return *this; }

	Watch watch() const { return Watch(m_life); }

	/// Ends the life before the carrier is gone: a destructor calls it first, so that watchers see
	/// the object as gone before any of its parts is torn down.
	void end() { m_life.reset(); }

private:
	std::shared_ptr<const void> m_life;
};

}
