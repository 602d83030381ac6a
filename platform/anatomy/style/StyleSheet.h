#pragma once

#include "anatomy/style/Selector.h"
#include "core/Configurable.h"
#include "core/LifeToken.h"
#include "core/Parameter.h"
#include "core/Properties.h"
#include "core/Signal.h"

#include <cstddef>
#include <functional>
#include <list>
#include <optional>
#include <string>

namespace Orbitane::AnatomyPlugin {

/// A named, switchable group of style rules. Each rule pairs an optional selector with a
/// declaration (style property name -> value). A rule without a selector applies to every
/// element. Rules keep the order in which they were appended; within a sheet a later rule
/// overrides an earlier one (see StyleResolver.h for the whole cascade).
///
/// Configuration: `enabled` and `name` as parameters; configure() also takes the rules from a
/// nested "rules" entry in the form that writeRules() produces, replacing the current ones.
class StyleSheet : public Configurable
{
public:
	struct Rule
	{
		std::optional<Selector> selector;
		Properties declaration;
	};

	/// A sheet with this name, enabled, without rules.
	explicit StyleSheet(const std::string& name);
	/// Copies parameter values and rules, not connections.
	StyleSheet(const StyleSheet& other);
	/// Parameters cannot move, so this copies them; the rules are moved.
	StyleSheet(StyleSheet&& other);
	StyleSheet& operator=(const StyleSheet& other);
	/// Ends the sheet's life, then emits anyDestroyed.
	~StyleSheet() override;

	void configure(const Properties* p) override;

	/// True when the sheet takes part in the styling cascade.
	Parameter<bool> enabled{"enabled", true};
	/// Identifies the sheet within its display options.
	Parameter<std::string> name;

	/// Finds the rule whose selector equals selector (an absent selector finds the rule without
	/// one) or appends a new rule with an empty declaration, then calls fn once on its
	/// declaration. Returns true when a rule was appended, false when an existing one was
	/// modified. Exceptions of fn pass through; a rule appended before stays. fn may even destroy
	/// this sheet: nothing of it is touched after fn returns.
	bool appendOrModify(const std::optional<Selector>& selector, const std::function<void(Properties&)>& fn);

	/// Rules have fixed addresses: appending never moves an existing declaration, so a callback
	/// may safely append further rules while it holds one.
	const std::list<Rule>& rules() const { return m_rules; }
	std::size_t size() const { return m_rules.size(); }

	/// Writes the rules as p's nested entry "rules": one nested entry per rule, in order, with the
	/// selector's text under "selector" (absent for a rule without selector) and the declaration
	/// under "declaration".
	void writeRules(Properties& p) const;

	/// Emitted by the destructor of every style sheet while the sheet is still intact. Views that
	/// refer to sheets without owning them (script bindings, editors) learn here that one goes,
	/// whoever made the view. Slots must not throw.
	static Signal<const StyleSheet&>& anyDestroyed();

	/// Ends when this sheet is destroyed, for those who refer to it without owning it.
	LifeToken::Watch lifeWatch() const { return m_life.watch(); }

private:
	void readRules(const Properties& rules);

	std::list<Rule> m_rules;
	LifeToken m_life;
};

}
