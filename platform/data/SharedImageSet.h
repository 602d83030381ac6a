#pragma once

#include "data/Data.h"
#include "data/SharedImage.h"

#include <memory>
#include <vector>

namespace Orbitane {

/// What clone() may leave out; the empty set copies everything.
enum class CloneOption : unsigned
{
	None = 0,
	SkipComponents = 1,
	SkipImages = 2
};
using CloneOptions = unsigned;

/// An ordered set of images with one focused image; the set's matrix places every image.
class SharedImageSet : public Data
{
public:
	SharedImageSet() = default;
	Kind kind() const override { return Kind::ImageSet; }

	int size() const { return static_cast<int>(m_images.size()); }
	/// Image i; -1 gives the focused image. Null when out of range.
	std::shared_ptr<SharedImage> get(int i = -1) const;
	void add(std::shared_ptr<SharedImage> image);
	int focus() const { return m_focus; }
	void setFocus(int i);

	/// Modality of the focused image (NA for an empty set).
	Modality modality() const override;
	void setModality(Modality m) override;

	/// A deep copy (images are copied, not shared); null only if options leave nothing to copy.
	std::unique_ptr<SharedImageSet> clone(CloneOptions options = 0) const;

	Eigen::AlignedBox3d bounds() const override;
	std::string describe() const override;

private:
	std::vector<std::shared_ptr<SharedImage>> m_images;
	int m_focus = 0;
};

}
