#include "keys/AnatomicalKeyExport.h"
#include "keys/AnatomicalKeyNames.h"
#include "keys/AnatomicalKeyRegistry.h"
#include "entry/Registration.h"

#include "core/String.h"

#include <functional>
#include <iterator>
#include <utility>

namespace Orbitane::Bindings {

namespace {

// Key strings are rebuilt from this literal, not from the root part of each identifier.
constexpr const char* keyRoot = "Orbitane";

using AddKeyModule = std::function<void(py::module_, std::vector<std::string>, std::string)>;

/// The `sys.modules` entry "<parent>.<name>", created empty if missing, set as the parent's
/// attribute `name`. Unlike module_::def_submodule this copies no `__file__` onto the child: the
/// key modules carry nothing but `key` and their children.
py::module_ getOrCreateSubmodule(py::module_& parent, const std::string& name)
{
	const char* parentName = PyModule_GetName(parent.ptr());
	if (!parentName)
		throw py::error_already_set();
	const std::string fullName = std::string(parentName) + "." + name;
	auto submodule = py::reinterpret_steal<py::module_>(PyImport_AddModuleRef(fullName.c_str()));
	if (!submodule)
		throw py::error_already_set();
	parent.attr(name.c_str()) = submodule;
	return submodule;
}

/// A child found under a generated name must be a key module: the conversion to module_ refuses
/// anything else with pybind11's type error, and a module without `key` raises AttributeError.
py::module_ existingKeyModule(py::module_& parent, const std::string& name)
{
	py::module_ child = py::object(parent.attr(name.c_str()));
	static_cast<void>(py::getattr(child, "key"));
	return child;
}

py::module_ newKeyModule(py::module_& parent, const std::string& name, const std::string& key)
{
	py::module_ child = getOrCreateSubmodule(parent, name);
	child.attr("key") = py::str(key);
	return child;
}

py::module_ keysModule()
{
	auto package = py::reinterpret_steal<py::module_>(PyImport_ImportModule("orbitane"));
	if (!package)
		throw py::error_already_set();
	return getOrCreateSubmodule(package, "keys");
}

}

void exportKeys(const std::vector<std::string>& identifiers)
{
	py::module_ keys = keysModule();

	AddKeyModule addKeyModule;
	addKeyModule = [&addKeyModule](py::module_ parent, std::vector<std::string> parts, std::string prefix) {
		prefix += "." + parts.front();
		const std::string name = toSnakeCase(parts.front());
		py::module_ child = PyObject_HasAttrString(parent.ptr(), name.c_str()) == 1
		                        ? existingKeyModule(parent, name)
		                        : newKeyModule(parent, name, prefix);
		if (parts.size() > 1)
			addKeyModule(std::move(child), std::vector<std::string>(std::next(parts.begin()), parts.end()),
			             std::move(prefix));
	};

	for (const std::string& identifier : identifiers)
	{
		std::vector<std::string> parts = String::split(identifier, '.', 0);
		if (parts.size() < 2)
			continue;
		addKeyModule(keys, std::vector<std::string>(std::next(parts.begin()), parts.end()), keyRoot);
	}
}

void exportKeyNamespace() { exportKeys(keyRegistry()); }

}
