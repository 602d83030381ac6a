#include "entry/AnatomyBindings.h"

#include "entry/AnatomyDataBindings.h"
#include "entry/ModuleDocumentation.h"

#include "python/native/InstanceInternals.h"

#include <memory>
#include <vector>

namespace Orbitane::Bindings {

void AnatomyBindings::bind()
{
	m_module.attr("__doc__") = moduleDocumentation;

	std::vector<std::unique_ptr<BindingsInterface>> bindings;
	bindings.push_back(std::make_unique<AnatomyDataBindings>(m_module));
	for (const auto& b : bindings)
		b->bind();

	// A vector leaves the order of destroying its elements open; release them front to back.
	for (auto& b : bindings)
		b.reset();
	Python::refuseMembersOfUninitialisedObjects();
}

}
