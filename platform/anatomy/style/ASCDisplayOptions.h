#pragma once

#include "anatomy/style/StyleSheet.h"
#include "core/NotCopyable.h"
#include "core/Signal.h"
#include "data/DataComponent.h"

#include <cstddef>
#include <list>
#include <optional>
#include <string>

namespace Orbitane::AnatomyPlugin {

/// Data component of a collection that holds its rendering options: an ordered list of style
/// sheets. Later sheets override earlier ones in the cascade (StyleResolver.h).
///
/// Every held sheet keeps its address until it is removed (or replaced by configure), so
/// references handed out by getOrAppendStyleSheet stay valid while other sheets come and go.
///
/// The optional string of addStyleSheet and getOrAppendStyleSheet names the sheet *before which*
/// a new sheet is inserted: the first held sheet of that name. When it is absent, or no sheet has
/// that name, the new sheet goes to the end. Several sheets may share a name.
///
/// Configuration (also what .orb files store): a nested entry "styleSheets" with one nested entry
/// per sheet, in order, each holding the sheet's parameters ("enabled", "name") and its rules as
/// StyleSheet::writeRules writes them. configure() with such an entry replaces all sheets.
class ASCDisplayOptions : public DataComponent<ASCDisplayOptions>, public SignalReceiver, Utils::NotCopyable
{
public:
	static constexpr const char* componentId = "ASCDisplayOptions";

	/// No style sheets.
	ASCDisplayOptions();
	/// Copies the sheets (not the connections of anyone to this object's signals).
	ASCDisplayOptions(const ASCDisplayOptions& other);
	ASCDisplayOptions& operator=(const ASCDisplayOptions&) = delete;
	/// Emits anyDestroyed first; then each held sheet announces its own end.
	~ASCDisplayOptions() override;

	void configure(const Properties* p) override;
	void configuration(Properties* p) const override;
	std::string id() const override { return componentId; }

	/// Stores sheet, inserted before the sheet named before (see above).
	void addStyleSheet(StyleSheet sheet, const std::optional<std::string>& before);
	/// The first held sheet named name; when there is none, a new empty one with that name is
	/// inserted before the sheet named before (see above) and returned.
	StyleSheet& getOrAppendStyleSheet(const std::string& name, const std::optional<std::string>& before);
	/// Removes every sheet with this name; gives how many there were (none is not an error).
	std::size_t removeStyleSheetsByName(const std::string& name);

	const std::list<StyleSheet>& styleSheets() const { return m_sheets; }
	/// The first held sheet with this name, or null.
	StyleSheet* styleSheet(const std::string& name);

	/// Emitted when a sheet is added or removed, when a held sheet's enabled or name changes, and
	/// when configure replaces the sheets.
	Signal<> changed;
	/// Emitted by the destructor of every display options object while it is still intact. Views
	/// that refer to components without owning them (script bindings) learn here that one goes,
	/// whoever made the view. Slots must not throw.
	static Signal<const ASCDisplayOptions&>& anyDestroyed();

private:
	std::list<StyleSheet>::iterator positionBefore(const std::optional<std::string>& before);
	StyleSheet& insert(std::list<StyleSheet>::iterator position, StyleSheet sheet);
	void watch(StyleSheet& sheet);

	std::list<StyleSheet> m_sheets;
};

}
