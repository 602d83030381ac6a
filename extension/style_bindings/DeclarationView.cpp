#include "style_bindings/DeclarationView.h"

#include "core/Signal.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace Orbitane::Bindings {

using AnatomyPlugin::StyleSheet;

namespace {

/// The declaration belongs to its rule: the Python object's ownership is a formality that lets it
/// be disowned, and deletes nothing.
struct Lent
{
	void operator()(Properties*) const {}
};

using LentPointer = std::unique_ptr<Properties, Lent>;

}

/// One declaration lent to Python, shared by the views of nested calls on the same rule.
class __attribute__((visibility("hidden"))) DeclarationLend
{
public:
	DeclarationLend(Properties& declaration, const StyleSheet& owner)
	    : m_declaration(&declaration), m_object(py::cast(LentPointer(&declaration)))
	{
		// the sheet ends on this thread, inside the callback, which holds the interpreter lock
		StyleSheet::anyDestroyed().connect(&m_sheetWatch, [this, &owner](const StyleSheet& sheet) {
			if (&sheet == &owner)
				disown();
		});
	}

	const Properties* declaration() const { return m_declaration; }
	const py::object& object() const { return m_object; }

	/// Taking the value back out as its owning pointer leaves the object disowned and unregistered.
	void disown() noexcept
	{
		if (m_disowned)
			return;
		m_disowned = true;
		try
		{
			m_object.cast<LentPointer>();
		}
		catch (...)
		{
			// a slot or destructor is running: the object is left as it is rather than terminating
		}
	}

private:
	Properties* m_declaration;
	py::object m_object;
	bool m_disowned = false;
	/// Holds the connection to the sheets' end signal; declared last, so it goes first.
	SignalReceiver m_sheetWatch;
};

namespace {

/// The declarations lent at this moment, innermost last. Only the thread holding the interpreter
/// lock lends.
std::vector<std::weak_ptr<DeclarationLend>>& currentLends()
{
	static std::vector<std::weak_ptr<DeclarationLend>> lends;
	return lends;
}

}

DeclarationView::DeclarationView(Properties& declaration, const StyleSheet& owner)
{
	for (const auto& lent : currentLends())
		if (auto lend = lent.lock(); lend && lend->declaration() == &declaration)
		{
			m_lend = std::move(lend);
			return;
		}
	m_lend = std::make_shared<DeclarationLend>(declaration, owner);
	m_outermost = true;
	currentLends().push_back(m_lend);
}

DeclarationView::~DeclarationView()
{
	if (!m_outermost)
		return;
	m_lend->disown();
	std::erase_if(currentLends(), [this](const auto& lent) { return lent.expired() || lent.lock() == m_lend; });
}

const py::object& DeclarationView::object() const { return m_lend->object(); }

}
