#pragma once

#include "core/Configurable.h"
#include "core/LifeToken.h"
#include "core/Properties.h"
#include "core/Signal.h"

#include <memory>
#include <string>

namespace Orbitane {

class Data;

/// A piece of extra information attached to a data object (labels, display options, ...).
class DataComponentBase : public Configurable
{
public:
	/// Ends the component's life, then emits anyDestroyed, once every other part of it is gone.
	~DataComponentBase() override;

	/// Tells those that refer to the component without owning it (the Python objects of components
	/// inside a list) whether it still exists. A copy is another component, with a life of its own.
	LifeToken::Watch lifeWatch() const { return m_life.watch(); }

	/// Emitted by every component as it is destroyed, for those that refer to components without
	/// owning them (the Python objects of components inside a list). Slots see only the address.
	static Signal<const DataComponentBase&>& anyDestroyed();

	/// Identifies the kind of component, e.g. in saved files.
	virtual std::string id() const = 0;
	virtual std::unique_ptr<DataComponentBase> clone() const = 0;
	/// Takes over the state of other; false when other is of another kind.
	virtual bool assign(const DataComponentBase& other) = 0;
	virtual bool equals(const DataComponentBase& other) const = 0;

private:
	LifeToken m_life;
};

/// Implements clone, assign and equals for a component type T: copies use T's copy constructor,
/// assignment and comparison go through T's configuration.
template <typename T>
class DataComponent : public DataComponentBase
{
public:
	std::unique_ptr<DataComponentBase> clone() const override
	{
		return std::make_unique<T>(static_cast<const T&>(*this));
	}
	bool assign(const DataComponentBase& other) override
	{
		auto typed = dynamic_cast<const T*>(&other);
		if (!typed)
			return false;
		if (typed == this)
			return true;
		Properties p;
		typed->configuration(&p);
		configureDefaults();
		configure(&p);
		return true;
	}
	bool equals(const DataComponentBase& other) const override
	{
		auto typed = dynamic_cast<const T*>(&other);
		if (!typed)
			return false;
		Properties mine, theirs;
		configuration(&mine);
		typed->configuration(&theirs);
		return mine == theirs;
	}
};

/// Components that want to know the data object they belong to.
class DataComponentWithParentInterface
{
public:
	virtual ~DataComponentWithParentInterface() = default;
	virtual void setParent(Data* parent) = 0;
};

}
