#include "PythonComponents.h"

#include "ComponentViews.h"

#include "core/Properties.h"
#include "data/DeferredCopies.h"

namespace Orbitane::Python {

namespace {

py::object baseClass() { return py::type::of<DataComponentBase>(); }

// Whether the object's class replaces the base class's member of that name.
bool overrides(py::handle object, const char* name)
{
	py::object own = py::getattr(py::type::handle_of(object), name, py::none());
	py::object base = py::getattr(baseClass(), name, py::none());
	return !own.is_none() && !own.is(base);
}

const PythonComponent* asPythonComponent(const DataComponentBase& c)
{
	return dynamic_cast<const PythonComponent*>(&c);
}

// What the two native faces of a Python-defined component (its own native part and what a list
// holds for it) do alike, given the Python object; the caller holds the interpreter lock.

bool assignFrom(py::handle target, const DataComponentBase& other)
{
	auto source = asPythonComponent(other);
	if (!source)
		return false;
	assignPythonComponent(target, source->object());
	return true;
}

bool isEqual(py::handle component, const DataComponentBase& other)
{
	auto source = asPythonComponent(other);
	return source && component.equal(source->object());
}

}

bool isPythonDefinedComponent(py::handle object)
{
	if (!py::isinstance<DataComponentBase>(object))
		return false;
	// the Python object of a native component that is gone is none, and must not be looked into
	const auto view = componentView<DataComponentBase>(object);
	return view.alive() && dynamic_cast<DataComponentTrampoline*>(&view.get()) != nullptr;
}

std::string pythonComponentId(py::handle component)
{
	if (!overrides(component, "id"))
		return py::type::handle_of(component).attr("__name__").cast<std::string>();
	py::object id = component.attr("id");
	if (PyCallable_Check(id.ptr()))
		id = id();
	return py::str(id).cast<std::string>();
}

py::object deepCopyComponent(py::handle component, py::handle memo)
{
	auto& native = componentView<DataComponentBase>(component).get();
	if (!dynamic_cast<DataComponentTrampoline*>(&native))
		return py::cast(native.clone());
	py::handle cls = py::type::handle_of(component);
	py::object copy = cls.attr("__new__")(cls);
	baseClass().attr("__init__")(copy);
	py::dict memoDict = memo.is_none() ? py::dict() : py::reinterpret_borrow<py::dict>(memo);
	memoDict[py::int_(reinterpret_cast<std::uintptr_t>(component.ptr()))] = copy;
	if (py::hasattr(component, "__dict__"))
		copy.attr("__dict__")
		    .attr("update")(py::module_::import("copy").attr("deepcopy")(component.attr("__dict__"), memoDict));
	return copy;
}

void assignPythonComponent(py::handle target, py::handle source)
{
	if (target.is(source))
		return;
	if (py::hasattr(target, "assign"))
	{
		target.attr("assign")(source);
		return;
	}
	py::object attributes = target.attr("__dict__");
	attributes.attr("clear")();
	attributes.attr("update")(source.attr("__dict__"));
}

py::object DataComponentTrampoline::self() const
{
	return py::cast(static_cast<const DataComponentBase*>(this), py::return_value_policy::reference);
}

std::string DataComponentTrampoline::id() const
{
	py::gil_scoped_acquire gil;
	return py::type::handle_of(self()).attr("__name__").cast<std::string>();
}

std::unique_ptr<DataComponentBase> DataComponentTrampoline::clone() const
{
	py::gil_scoped_acquire gil;
	return PythonComponent::copyOf(self());
}

bool DataComponentTrampoline::assign(const DataComponentBase& other)
{
	py::gil_scoped_acquire gil;
	return assignFrom(self(), other);
}

bool DataComponentTrampoline::equals(const DataComponentBase& other) const
{
	py::gil_scoped_acquire gil;
	return isEqual(self(), other);
}

PythonComponent::~PythonComponent()
{
	if (m_deferred)
		DeferredCopies::cancel(this);
}

std::unique_ptr<PythonComponent> PythonComponent::copyOf(py::handle source)
{
	if (!DeferredCopies::active())
		return std::make_unique<PythonComponent>(deepCopyComponent(source, py::none()));
	auto copy = std::make_unique<PythonComponent>(py::reinterpret_borrow<py::object>(source));
	copy->m_deferred = true;
	PythonComponent* target = copy.get();
	DeferredCopies::defer(target, [target, held = copy->m_component]() -> std::function<void()> {
		py::gil_scoped_acquire gil;
		if (!held->get())    // cleared by the garbage collector meanwhile: nothing left to copy
			return [] {};
		auto copied = std::make_shared<PythonReference>(deepCopyComponent(held->get(), py::none()));
		return [target, copied] {
			target->m_component = copied;
			target->m_deferred = false;
		};
	});
	return copy;
}

std::string PythonComponent::id() const
{
	py::gil_scoped_acquire gil;
	return pythonComponentId(object());
}

std::unique_ptr<DataComponentBase> PythonComponent::clone() const
{
	py::gil_scoped_acquire gil;
	return copyOf(object());
}

bool PythonComponent::assign(const DataComponentBase& other)
{
	py::gil_scoped_acquire gil;
	return assignFrom(object(), other);
}

bool PythonComponent::equals(const DataComponentBase& other) const
{
	py::gil_scoped_acquire gil;
	return isEqual(object(), other);
}

void PythonComponent::configure(const Properties* p)
{
	py::gil_scoped_acquire gil;
	if (p && overrides(object(), "configure"))
		object().attr("configure")(*p);
}

void PythonComponent::configuration(Properties* p) const
{
	py::gil_scoped_acquire gil;
	if (p && overrides(object(), "configuration"))
		*p = object().attr("configuration")().cast<Properties>();
}

}
