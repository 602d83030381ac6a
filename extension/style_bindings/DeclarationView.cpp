#include "style_bindings/DeclarationView.h"

#include <stdexcept>

namespace Orbitane::Bindings::StylingDetail {

namespace {

const py::detail::type_info* propertiesType()
{
	return py::detail::get_type_info(typeid(Properties));
}

/// Turns the view into the state the binding layer gives an object whose value was moved out:
/// unregistered, no value, an empty holder. Every member then raises ValueError.
void disown(py::handle object, const void* declaration)
{
	const py::detail::type_info* tinfo = propertiesType();
	auto* inst = reinterpret_cast<py::detail::instance*>(object.ptr());
	py::detail::value_and_holder vh = inst->get_value_and_holder(tinfo, false);
	if (!vh || vh.value_ptr() != declaration || !vh.holder_constructed())
		return;
	if (vh.instance_registered())
		py::detail::deregister_instance(inst, vh.value_ptr(), tinfo);
	vh.set_instance_registered(false);
	vh.holder<py::memory::smart_holder>().release_disowned();
	vh.value_ptr() = nullptr;
}

}

DeclarationView::DeclarationView(Properties& declaration, const AnatomyPlugin::StyleSheet& owner)
    : m_declaration(&declaration), m_owner(&owner)
{
	const py::detail::type_info* tinfo = propertiesType();
	if (tinfo && tinfo->holder_enum_v != py::detail::holder_enum_t::smart_holder)
		// only a smart holder can be emptied safely; any other would hand out a dangling object
		throw std::runtime_error("orbitane.Properties must be bound with a smart holder to be lent to style callbacks");
	AnatomyPlugin::StyleSheet::anyDestroyed().connect(
	    &m_sheetWatch, [this](const AnatomyPlugin::StyleSheet& sheet) { onSheetEnd(sheet); });
	if (tinfo)
		if (py::handle existing = py::detail::get_object_handle(&declaration, tinfo))
		{
			m_object = py::reinterpret_borrow<py::object>(existing);
			return;
		}
	m_object = py::cast(&declaration, py::return_value_policy::reference);
	m_made = true;
}

DeclarationView::~DeclarationView()
{
	if (m_made)
		disown(m_object, m_declaration);
}

void DeclarationView::onSheetEnd(const AnatomyPlugin::StyleSheet& sheet)
{
	// the sheet ends on this thread, inside the callback, which holds the interpreter lock; every
	// view of the rule (nested ones included) disowns the one object they share
	if (&sheet == m_owner && m_object)
		disown(m_object, m_declaration);
}

}
