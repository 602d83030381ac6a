#pragma once

#include "core/NotCopyable.h"
#include "core/Properties.h"
#include "core/Signal.h"

#include <stdexcept>
#include <string>

namespace Orbitane {

/// Type-erased view of a parameter, for configuration and for the Python parameter access.
class ParameterBase : Utils::NotCopyable
{
public:
	explicit ParameterBase(std::string name, bool readOnly = false) : m_name(std::move(name)), m_readOnly(readOnly) {}
	virtual ~ParameterBase() = default;

	const std::string& name() const { return m_name; }
	bool readOnly() const { return m_readOnly; }

	virtual Properties::Value value() const = 0;
	/// Assigns from a generic value; throws std::invalid_argument if the type does not fit.
	virtual void setValue(const Properties::Value& v) = 0;
	virtual void resetToDefault() = 0;

	/// Emitted once whenever the value changes; never for an equal value.
	Signal<> changed;

private:
	std::string m_name;
	bool m_readOnly;
};

/// A named value with a change signal: a different value is stored and announced once, an
/// equal value changes nothing.
template <typename T>
class Parameter : public ParameterBase
{
public:
	Parameter(std::string name, T defaultValue, bool readOnly = false)
	    : ParameterBase(std::move(name), readOnly), m_value(defaultValue), m_default(std::move(defaultValue))
	{}

	const T& get() const { return m_value; }
	operator const T&() const { return m_value; }

	void set(const T& v)
	{
		if (v == m_value)
			return;
		m_value = v;
		changed.emitSignal();
	}
	Parameter& operator=(const T& v)
	{
		set(v);
		return *this;
	}

	Properties::Value value() const override
	{
		Properties p;
		p.setParam("v", m_value);
		return *p.find("v");
	}
	void setValue(const Properties::Value& v) override
	{
		Properties p;
		p.set("v", v);
		T converted{};
		if (!p.param("v", converted))
			throw std::invalid_argument("Parameter '" + name() + "' cannot take a value of this type");
		set(converted);
	}
	void resetToDefault() override { set(m_default); }

private:
	T m_value;
	T m_default;
};

}
