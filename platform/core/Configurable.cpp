#include "core/Configurable.h"

namespace Orbitane {

void Configurable::configure(const Properties* p)
{
	if (!p)
		return;
	for (ParameterBase* param : m_params)
		if (const Properties::Value* v = p->find(param->name()))
		{
			try
			{
				param->setValue(*v);
			}
			catch (const std::invalid_argument&)
			{
				// a stored configuration of another type leaves the parameter as it was
			}
		}
}

void Configurable::configuration(Properties* p) const
{
	if (!p)
		return;
	for (const ParameterBase* param : m_params)
		p->set(param->name(), param->value());
}

void Configurable::configureDefaults()
{
	for (ParameterBase* param : m_params)
		param->resetToDefault();
}

ParameterBase* Configurable::parameter(const std::string& name) const
{
	for (ParameterBase* param : m_params)
		if (param->name() == name)
			return param;
	return nullptr;
}

}
