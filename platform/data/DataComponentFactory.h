#pragma once

#include "data/DataComponent.h"

#include <functional>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace Orbitane::DataComponentFactory {

using Creator = std::function<std::unique_ptr<DataComponentBase>()>;

/// Makes components of the given id (DataComponentBase::id) in their default state, so that code
/// which only knows an id and a configuration (file readers) can recreate them. Registering an id
/// again replaces its creator.
void registerComponent(const std::string& id, Creator creator);
bool isRegistered(const std::string& id);
/// A new default component, or null for an id nobody registered.
std::unique_ptr<DataComponentBase> create(const std::string& id);
/// Registered ids in byte-wise order.
std::vector<std::string> registeredIds();
/// Whether some registered creator makes components of exactly this type. Unlike asking a
/// component for its id, this runs no code of the component's, which for components defined in
/// Python could change the data being read.
bool makesType(const std::type_info& type);

/// Registers T under the id its default-constructed instance reports.
template <typename T>
void registerComponent()
{
	registerComponent(T().id(), [] { return std::make_unique<T>(); });
}

}
