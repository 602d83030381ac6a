#include "anatomy/style/ASCDisplayOptions.h"

#include <algorithm>
#include <variant>

namespace Orbitane::AnatomyPlugin {

namespace {

constexpr const char* sheetsKey = "styleSheets";

}

ASCDisplayOptions::ASCDisplayOptions() = default;

ASCDisplayOptions::ASCDisplayOptions(const ASCDisplayOptions& other)
    : DataComponent<ASCDisplayOptions>(other), SignalReceiver(), Utils::NotCopyable(), m_sheets(other.m_sheets)
{
	for (StyleSheet& sheet : m_sheets)
		watch(sheet);
}

ASCDisplayOptions::~ASCDisplayOptions() { anyDestroyed().emitSignal(*this); }

Signal<const ASCDisplayOptions&>& ASCDisplayOptions::anyDestroyed()
{
	static Signal<const ASCDisplayOptions&> signal;
	return signal;
}

void ASCDisplayOptions::watch(StyleSheet& sheet)
{
	sheet.enabled.changed.connect(this, [this] { changed.emitSignal(); });
	sheet.name.changed.connect(this, [this] { changed.emitSignal(); });
}

std::list<StyleSheet>::iterator ASCDisplayOptions::positionBefore(const std::optional<std::string>& before)
{
	if (!before)
		return m_sheets.end();
	return std::find_if(m_sheets.begin(), m_sheets.end(), [&](const StyleSheet& s) { return s.name.get() == *before; });
}

StyleSheet& ASCDisplayOptions::insert(std::list<StyleSheet>::iterator position, StyleSheet sheet)
{
	StyleSheet& held = *m_sheets.insert(position, std::move(sheet));
	watch(held);
	changed.emitSignal();
	return held;
}

void ASCDisplayOptions::addStyleSheet(StyleSheet sheet, const std::optional<std::string>& before)
{
	insert(positionBefore(before), std::move(sheet));
}

StyleSheet& ASCDisplayOptions::getOrAppendStyleSheet(const std::string& name, const std::optional<std::string>& before)
{
	if (StyleSheet* existing = styleSheet(name))
		return *existing;
	return insert(positionBefore(before), StyleSheet(name));
}

std::size_t ASCDisplayOptions::removeStyleSheetsByName(const std::string& name)
{
	// the removed sheets go only after the list is consistent again, since their anyDestroyed
	// slots run code outside this object
	std::list<StyleSheet> removed;
	for (auto it = m_sheets.begin(); it != m_sheets.end();)
	{
		auto next = std::next(it);
		if (it->name.get() == name)
			removed.splice(removed.end(), m_sheets, it);
		it = next;
	}
	if (!removed.empty())
		changed.emitSignal();
	return removed.size();
}

StyleSheet* ASCDisplayOptions::styleSheet(const std::string& name)
{
	auto it = std::find_if(m_sheets.begin(), m_sheets.end(), [&](const StyleSheet& s) { return s.name.get() == name; });
	return it == m_sheets.end() ? nullptr : &*it;
}

void ASCDisplayOptions::configuration(Properties* p) const
{
	if (!p)
		return;
	Configurable::configuration(p);
	Properties& sheets = p->subProperties(sheetsKey);
	sheets.clear();
	int index = 0;
	for (const StyleSheet& sheet : m_sheets)
	{
		Properties entry;
		sheet.configuration(&entry);
		sheet.writeRules(entry);
		sheets.setParam(std::to_string(index++), entry);
	}
}

void ASCDisplayOptions::configure(const Properties* p)
{
	Configurable::configure(p);
	const Properties* sheets = p ? p->subProperties(sheetsKey) : nullptr;
	if (!sheets)
		return;
	std::list<StyleSheet> read;
	for (const auto& [key, value] : sheets->entries())
		if (auto nested = std::get_if<NestedProperties>(&value))
		{
			StyleSheet& sheet = read.emplace_back("");
			sheet.configure(&nested->get());
		}
	std::list<StyleSheet> previous;
	previous.swap(m_sheets);
	m_sheets = std::move(read);
	for (StyleSheet& sheet : m_sheets)
		watch(sheet);
	changed.emitSignal();
}

}
