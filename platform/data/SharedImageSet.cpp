#include "data/SharedImageSet.h"

#include "data/DataComponentList.h"
#include "data/DataDetail.h"

#include <fmt/format.h>

#include <stdexcept>

namespace Orbitane {

namespace {

const char* pixelTypeName(PixelType t)
{
	switch (t)
	{
		case PixelType::UInt8: return "uint8";
		case PixelType::Int8: return "int8";
		case PixelType::UInt16: return "uint16";
		case PixelType::Int16: return "int16";
		case PixelType::UInt32: return "uint32";
		case PixelType::Int32: return "int32";
		case PixelType::Float: return "float32";
		case PixelType::Double: return "float64";
	}
	return "unknown";
}

// The eight corners of the image's voxel extent (half a voxel beyond the outer voxel centres).
std::vector<Eigen::Vector3d> extentCorners(const SharedImage& image)
{
	const Eigen::Vector3d lo = -0.5 * image.spacing();
	const Eigen::Vector3d hi = (image.dimensions().cast<double>().array() - 0.5).matrix().cwiseProduct(image.spacing());
	std::vector<Eigen::Vector3d> corners;
	for (int c = 0; c < 8; ++c)
		corners.emplace_back(c & 1 ? hi.x() : lo.x(), c & 2 ? hi.y() : lo.y(), c & 4 ? hi.z() : lo.z());
	return corners;
}

}

std::shared_ptr<SharedImage> SharedImageSet::get(int i) const
{
	if (i == -1)
		i = m_focus;
	if (i < 0 || i >= size())
		return nullptr;
	return m_images[i];
}

void SharedImageSet::add(std::shared_ptr<SharedImage> image)
{
	if (!image)
		throw std::invalid_argument("cannot add a null image to an image set");
	m_images.push_back(std::move(image));
}

void SharedImageSet::setFocus(int i)
{
	if (i < 0 || i >= size())
		throw std::out_of_range(fmt::format("image index {} out of range for a set of {} images", i, size()));
	m_focus = i;
}

Modality SharedImageSet::modality() const
{
	auto focused = get(-1);
	return focused ? focused->modality() : Modality::NA;
}

void SharedImageSet::setModality(Modality m)
{
	Data::setModality(m);
	for (const auto& image : m_images)
		image->setModality(m);
}

std::unique_ptr<SharedImageSet> SharedImageSet::clone(CloneOptions options) const
{
	auto copy = std::make_unique<SharedImageSet>();
	copy->setName(name());
	copy->Data::setModality(Data::modality());
	copy->m_matrixToWorld = m_matrixToWorld;
	if (!(options & static_cast<unsigned>(CloneOption::SkipImages)))
	{
		for (const auto& image : m_images)
			copy->m_images.push_back(std::make_shared<SharedImage>(*image));
		copy->m_focus = m_focus;
	}
	if (!(options & static_cast<unsigned>(CloneOption::SkipComponents)))
		copy->components().copyFrom(components());
	return copy;
}

Eigen::AlignedBox3d SharedImageSet::bounds() const
{
	Eigen::AlignedBox3d box;
	for (const auto& image : m_images)
		box.extend(DataDetail::worldBounds(extentCorners(*image), matrixToWorld()));
	return box;
}

std::string SharedImageSet::describe() const
{
	std::string text = fmt::format("{} {} image{}", DataDetail::describeHeader("SharedImageSet", name()), size(),
	                               size() == 1 ? "" : "s");
	if (auto image = get(-1))
	{
		const auto& d = image->dimensions();
		const auto& s = image->spacing();
		text += fmt::format(", focused image {}: {} x {} x {} {}, spacing {} x {} x {}", m_focus, d.x(), d.y(), d.z(),
		                    pixelTypeName(image->pixelType()), s.x(), s.y(), s.z());
	}
	return text;
}

}
