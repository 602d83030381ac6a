#include "Bindings.h"
#include "ComponentViews.h"
#include "Conversions.h"
#include "PythonComponents.h"
#include "SignalBinding.h"

#include "core/String.h"

#include "data/DataComponentList.h"
#include "data/LabelDataComponent.h"

#include <fmt/format.h>
#include <pybind11/stl.h>

namespace Orbitane::Python {

namespace {

// Components live inside their list: Python refers to them and keeps the list (and so its data) alive.
py::object componentToPython(DataComponentBase* component, py::handle list)
{
	if (auto defined = dynamic_cast<PythonComponent*>(component))
		return defined->object();
	return listedComponent(*component, list);
}

// The list's add rule, with Python class names and identities standing in for native types.
py::object addPythonDefined(py::handle self, const PythonDefinedComponentArg& component)
{
	auto& list = self.cast<DataComponentList&>();
	py::object copy = deepCopyComponent(component.object, py::none());
	const bool byId = String::contains(typeName(copy), "PyDataComponent");
	const std::string id = byId ? pythonComponentId(copy) : std::string();
	for (int i = 0; i < list.size(); ++i)
	{
		DataComponentBase* existing = list.at(i);
		py::object existingObject = componentToPython(existing, self);
		const bool matches =
		    byId ? existing->id() == id : py::type::handle_of(existingObject).is(py::type::handle_of(copy));
		if (matches)
		{
			existing->assign(PythonComponent(copy));
			return existingObject;
		}
	}
	list.append(std::make_unique<PythonComponent>(copy));
	return copy;
}

void removeComponent(DataComponentList& list, py::handle component)
{
	if (!py::isinstance<DataComponentBase>(component))
		throw py::type_error(fmt::format("remove() takes a component, not '{}'", typeName(component)));
	const auto view = componentView<const DataComponentBase>(component);
	// a component that is gone is in no list
	const DataComponentBase* native = view.alive() ? &view.get() : nullptr;
	const DataComponentBase* found = nullptr;
	for (int i = 0; i < list.size() && !found; ++i)
	{
		auto defined = dynamic_cast<PythonComponent*>(list.at(i));
		if (defined ? defined->object().is(component) : list.at(i) == native)
			found = list.at(i);
	}
	if (!found || !list.remove(found))
		throw py::value_error("the component is not in this list");
}

int checkedIndex(const DataComponentList& list, int i)
{
	const int n = list.size();
	if (i < -n || i >= n)
		throw py::index_error(fmt::format("component index {} out of range for a list of {} components", i, n));
	return i < 0 ? i + n : i;
}

Eigen::Vector4d labelColor(py::handle color, int value)
{
	if (color.is_none())
		return LabelDataComponent::defaultLabelConfig(value).color;
	Eigen::VectorXd c = toVector(color, "color", {3, 4});
	if ((c.array() < 0.0).any() || (c.array() > 1.0).any() || !c.allFinite())
		throw py::value_error("color values must lie between 0 and 1");
	return c.size() == 3 ? Eigen::Vector4d(c[0], c[1], c[2], 1.0) : Eigen::Vector4d(c);
}

py::dict configToDict(const LabelDataComponent::LabelConfig& config)
{
	py::dict d;
	d["name"] = config.name;
	d["color"] = toNumpy(config.color);
	d["visible"] = config.visible;
	return d;
}

void bindComponentBase(py::module_& m)
{
	py::class_<DataComponentBase, DataComponentTrampoline> cls(
	    m, "DataComponentBase",
	    "Base of the components attached to a data object (labels, display options, ...). Python "
	    "subclasses may set `id` (default: the class name), and define assign(other), configure(properties) "
	    "and configuration(); a list holds a deep copy of what is added to it.");
	publicIn(cls)
	    .def(py::init<>())
	    .def_property_readonly(
	        "id", [](ComponentView<const DataComponentBase> c) { return c->id(); }, "Identifies the kind of component.")
	    .def("__deepcopy__", &deepCopyComponent, py::arg("memo"))
	    .def(
	        "__copy__", [](py::handle self) { return deepCopyComponent(self, py::none()); },
	        "Components are always copied deeply.")
	    .def(
	        "configuration",
	        [](ComponentView<const DataComponentBase> c) {
		        Properties p;
		        c->configuration(&p);
		        return p;
	        },
	        "The component's state as Properties.")
	    .def(
	        "configure", [](ComponentView<DataComponentBase> c, const Properties& p) { c->configure(&p); },
	        py::arg("properties"), "Sets the state that the Properties name; other state stays.");
}

void bindComponentList(py::module_& m)
{
	// The list belongs to its data object: Python only ever refers to it.
	py::class_<DataComponentList, std::unique_ptr<DataComponentList, py::nodelete>> cls(
	    m, "DataComponentList", "The components of one data object, in the order they were added.");
	publicIn(cls)
	    .def("__len__", &DataComponentList::size)
	    .def("__getitem__",
	         [](py::object self, int i) {
		         auto& list = self.cast<DataComponentList&>();
		         return componentToPython(list.at(checkedIndex(list, i)), self);
	         })
	    .def("__iter__",
	         [](py::object self) {
		         auto& list = self.cast<DataComponentList&>();
		         py::list items;
		         for (int i = 0; i < list.size(); ++i)
			         items.append(componentToPython(list.at(i), self));
		         return py::iter(items);
	         })
	    .def(
	        "add",
	        [](py::object self, ComponentView<const LabelDataComponent> component) {
		        auto& list = self.cast<DataComponentList&>();
		        return componentToPython(list.add(component->clone()), self);
	        },
	        py::arg("component"),
	        "Adds a copy of the component and returns the list's component: a component of the same kind "
	        "already in the list takes over the copy's state instead.")
	    .def("add", &addPythonDefined, py::arg("component"),
	         "Adds a deep copy of a component defined in Python and returns the list's component. An existing "
	         "component of the same class (of the same id, for classes whose name contains "
	         "\"PyDataComponent\") takes over the copy's state instead.")
	    .def("remove", &removeComponent, py::arg("component"),
	         "Removes the component; Python objects referring to a native one must no longer be used.")
	    .def_property_readonly("changed",
	                           py::cpp_function([](DataComponentList& list) { return SignalHandle::of(list.changed); },
	                                            py::keep_alive<0, 1>()),
	                           "Emitted when a component is appended or removed.");
}

void bindLabelComponent(py::module_& m)
{
	py::class_<LabelDataComponent, DataComponentBase> cls(m, "LabelDataComponent",
	                                                      "Names and colours of the values of a label map.");
	publicIn(cls)
	    .def(py::init<>())
	    .def(
	        "set_label",
	        [](ComponentView<LabelDataComponent> c, int value, std::string name, py::handle color, bool visible) {
		        c->setLabelConfig(value, {std::move(name), labelColor(color, value), visible});
	        },
	        py::arg("value"), py::arg("name"), py::arg("color") = py::none(), py::arg("visible") = true,
	        "Configures a label value. color: RGB or RGBA in [0, 1]; None gives the value's default colour.")
	    .def(
	        "label_name",
	        [](ComponentView<const LabelDataComponent> c, int value) -> std::optional<std::string> {
		        auto config = c->labelConfig(value);
		        return config ? std::optional(config->name) : std::nullopt;
	        },
	        py::arg("value"), "The configured name of a label value, or None.")
	    .def(
	        "label_color",
	        [](ComponentView<const LabelDataComponent> c, int value) -> py::object {
		        auto config = c->labelConfig(value);
		        return config ? py::object(toNumpy(config->color)) : py::object(py::none());
	        },
	        py::arg("value"), "The configured RGBA colour of a label value, or None.")
	    .def(
	        "label_config",
	        [](ComponentView<const LabelDataComponent> c, int value) -> py::object {
		        auto config = c->labelConfig(value);
		        return config ? py::object(configToDict(*config)) : py::object(py::none());
	        },
	        py::arg("value"), "{'name', 'color', 'visible'} of a configured label value, or None.")
	    .def(
	        "labels",
	        [](ComponentView<const LabelDataComponent> c) {
		        py::dict out;
		        for (const auto& [value, config] : c->labelConfigs())
			        out[py::int_(value)] = config.name;
		        return out;
	        },
	        "The configured label values and their names.")
	    .def(
	        "remove_label", [](ComponentView<LabelDataComponent> c, int value) { c->removeLabelConfig(value); },
	        py::arg("value"))
	    .def_static(
	        "default_label_config",
	        [](int value) { return configToDict(LabelDataComponent::defaultLabelConfig(value)); }, py::arg("value"),
	        "The configuration a label value gets when nobody configured it.");
}

}

void bindComponents(py::module_& m)
{
	forgetObjectsWhenComponentsEnd();
	bindComponentBase(m);
	// before the list, whose add names it in its signature
	bindLabelComponent(m);
	bindComponentList(m);
}

}
