#pragma once

#include "entry/BindingsInterface.h"

#include <pybind11/pybind11.h>

namespace Orbitane::Bindings {

/// Top-level binding object: documents the module and runs the bindings of each area in order.
class AnatomyBindings : public BindingsInterface
{
public:
	explicit AnatomyBindings(pybind11::module_& module) : m_module(module) {}

	void bind() override;

private:
	pybind11::module_& m_module;
};

}
