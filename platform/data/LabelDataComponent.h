#pragma once

#include "data/DataComponent.h"

#include <Eigen/Core>

#include <map>
#include <optional>
#include <string>

namespace Orbitane {

class SharedImageSet;

/// Names and colours of the values of a label map.
class LabelDataComponent : public DataComponent<LabelDataComponent>, public DataComponentWithParentInterface
{
public:
	struct LabelConfig
	{
		std::string name;
		Eigen::Vector4d color = Eigen::Vector4d(1, 1, 1, 1);    // RGBA in [0, 1]
		bool visible = true;
		bool operator==(const LabelConfig&) const = default;
	};

	explicit LabelDataComponent(SharedImageSet* images = nullptr) : m_images(images) {}

	/// Default configuration of a label value: "Label <value>" and a colour from a fixed palette.
	static LabelConfig defaultLabelConfig(int value);

	void setLabelConfig(int value, LabelConfig config) { m_configs[value] = std::move(config); }
	std::optional<LabelConfig> labelConfig(int value) const;
	const std::map<int, LabelConfig>& labelConfigs() const { return m_configs; }
	void removeLabelConfig(int value) { m_configs.erase(value); }

	SharedImageSet* imageSet() const { return m_images; }
	/// A component added to a list follows that list's image set (null for other data).
	void setParent(Data* parent) override;

	std::string id() const override { return "LabelDataComponent"; }
	void configure(const Properties* p) override;
	void configuration(Properties* p) const override;
	void configureDefaults() override { m_configs.clear(); }

private:
	SharedImageSet* m_images;
	std::map<int, LabelConfig> m_configs;
};

}
