#pragma once

#include "core/Signal.h"

#include <Eigen/Core>
#include <Eigen/Geometry>

#include <memory>
#include <string>

namespace Orbitane {

class DataComponentList;

/// Imaging modality of a data object; LABEL marks label maps.
enum class Modality : int
{
	NA = 0,
	XRAY = 1,
	CT = 2,
	MRI = 3,
	ULTRASOUND = 4,
	NM = 5,
	PET = 6,
	OCT = 7,
	LABEL = 8
};

/// Base of every data object: a name, a modality, a local-to-world matrix with its change signal,
/// and a list of data components.
class Data
{
public:
	enum class Kind
	{
		Unknown,
		ImageSet,
		Mesh,
		PointCloud,
		Graph,
		AnatomicalStructureCollection
	};

	Data();
	/// Copies name, modality, matrix and clones of the components; connections are not copied.
	Data(const Data& other);
	Data& operator=(const Data& other);
	virtual ~Data();

	virtual Kind kind() const { return Kind::Unknown; }

	const std::string& name() const { return m_name; }
	void setName(std::string name) { m_name = std::move(name); }

	virtual Modality modality() const { return m_modality; }
	virtual void setModality(Modality m) { m_modality = m; }

	virtual const Eigen::Matrix4d& matrixToWorld() const { return m_matrixToWorld; }
	/// Stores the matrix and emits matrixChanged, also for an equal matrix.
	virtual void setMatrixToWorld(const Eigen::Matrix4d& m);
	Eigen::Matrix4d matrixFromWorld() const { return matrixToWorld().inverse(); }

	/// World-space axis-aligned bounds; empty for an object without extent.
	virtual Eigen::AlignedBox3d bounds() const { return {}; }
	virtual std::string describe() const;

	DataComponentList& components() { return *m_components; }
	const DataComponentList& components() const { return *m_components; }

	/// Fires whenever the world matrix changes; carries the object itself.
	Signal<const Data*> matrixChanged;

protected:
	Eigen::Matrix4d m_matrixToWorld = Eigen::Matrix4d::Identity();

private:
	std::string m_name;
	Modality m_modality = Modality::NA;
	std::unique_ptr<DataComponentList> m_components;
};

}
