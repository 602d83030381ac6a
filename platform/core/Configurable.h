#pragma once

#include "core/Parameter.h"
#include "core/Properties.h"

#include <string>
#include <vector>

namespace Orbitane {

/// An object whose settings are parameters, read from and written to Properties by name.
/// Subclasses register their parameter members in their constructors.
class Configurable
{
public:
	Configurable() = default;
	/// A copy registers its own members, not the source's: copies start with no parameter list.
	Configurable(const Configurable&) {}
	Configurable& operator=(const Configurable&) { return *this; }
	virtual ~Configurable() = default;

	/// Sets every parameter that p names (values of the wrong type are skipped).
	virtual void configure(const Properties* p);
	/// Writes every parameter into p.
	virtual void configuration(Properties* p) const;
	/// Resets every parameter to its default.
	virtual void configureDefaults();

	ParameterBase* parameter(const std::string& name) const;
	const std::vector<ParameterBase*>& parameters() const { return m_params; }

protected:
	void registerParameter(ParameterBase& p) { m_params.push_back(&p); }

private:
	std::vector<ParameterBase*> m_params;
};

}
