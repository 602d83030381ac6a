#pragma once

#include "anatomy/AnatomicalStructureInvalidException.h"
#include "anatomy/structures/AnatomicalStructure.h"
#include "core/NotCopyable.h"
#include "core/Signal.h"

#include <memory>

namespace Orbitane {

/// Lifetime-checked handle to one structure. A handle either borrows (the structure belongs to
/// a collection or another owner) or owns it. Copies only observe: they never own and never keep
/// the structure alive, but they learn when it is gone. Assignment is not supported.
class AnatomicalStructureWrapper : public SignalReceiver, Utils::NotCopyable
{
public:
	/// Borrows; a null pointer gives a handle that is never valid.
	explicit AnatomicalStructureWrapper(AnatomicalStructure* structure);
	/// Owns; the structure is destroyed with this handle (not with its copies).
	explicit AnatomicalStructureWrapper(std::unique_ptr<AnatomicalStructure> structure);
	/// Observes the same structure as other, without owning it.
	AnatomicalStructureWrapper(const AnatomicalStructureWrapper& other);
	~AnatomicalStructureWrapper() override;

	/// False once the structure is destroyed (or for a null structure).
	bool isValid() const { return m_structure && m_life.alive(); }

	/// Both throw AnatomicalStructureInvalidException when the handle is not valid.
	const AnatomicalStructure* operator->() const { return checked(); }
	AnatomicalStructure* operator->() { return checked(); }

	/// Whether this very handle owns its structure.
	bool isOwning() const { return m_owned != nullptr; }

	/// Watches the structure's life, for views into its parts.
	const LifeToken::Watch& lifeWatch() const { return m_life; }

private:
	AnatomicalStructure* checked() const;

	std::unique_ptr<AnatomicalStructure> m_owned;
	AnatomicalStructure* m_structure = nullptr;
	LifeToken::Watch m_life;
};

}
