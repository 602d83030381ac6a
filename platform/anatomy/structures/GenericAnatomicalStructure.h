#pragma once

#include "anatomy/structures/AnatomicalStructure.h"

#include <memory>
#include <string>

namespace Orbitane {

/// A structure of no particular kind, named by a free identifier.
class GenericAnatomicalStructure : public AnatomicalStructure
{
public:
	/// The identifier given to a generic structure made without one.
	static constexpr const char* defaultIdentifier = "unnamed";

	GenericAnatomicalStructure();
	explicit GenericAnatomicalStructure(std::string identifier);

	std::string identifier() const override { return m_identifier; }
	void setIdentifier(const std::string& identifier) { m_identifier = identifier; }

protected:
	GenericAnatomicalStructure(const GenericAnatomicalStructure& other) = default;
	std::unique_ptr<AnatomicalStructure> cloneImpl() const override;

private:
	std::string m_identifier;
};

}
