#include "data/Data.h"

#include "data/DataComponentList.h"

#include <fmt/format.h>

namespace Orbitane {

Data::Data() : m_components(std::make_unique<DataComponentList>(this)) {}

Data::Data(const Data& other)
    : m_matrixToWorld(other.m_matrixToWorld),
      m_name(other.m_name),
      m_modality(other.m_modality),
      m_components(std::make_unique<DataComponentList>(this))
{
	m_components->copyFrom(*other.m_components);
}

Data& Data::operator=(const Data& other)
{
	if (this == &other)
		return *this;
	m_name = other.m_name;
	m_modality = other.m_modality;
	m_components->copyFrom(*other.m_components);
	// listeners follow the matrix, so an assignment announces it like setMatrixToWorld does
	m_matrixToWorld = other.m_matrixToWorld;
	matrixChanged.emitSignal(this);
	return *this;
}

Data::~Data() = default;

void Data::setMatrixToWorld(const Eigen::Matrix4d& m)
{
	m_matrixToWorld = m;
	matrixChanged.emitSignal(this);
}

std::string Data::describe() const { return m_name.empty() ? std::string("Data") : fmt::format("Data \"{}\"", m_name); }

}
