#include "data/LabelDataComponent.h"

#include "data/SharedImageSet.h"

#include <array>
#include <charconv>

namespace Orbitane {

namespace {

// Distinct, saturated colours; values beyond the palette's size wrap around.
constexpr std::array<std::array<double, 3>, 12> kPalette{{
    {0.90, 0.10, 0.10},
    {0.10, 0.70, 0.20},
    {0.15, 0.35, 0.90},
    {0.95, 0.80, 0.10},
    {0.80, 0.20, 0.80},
    {0.10, 0.80, 0.80},
    {0.95, 0.50, 0.10},
    {0.55, 0.30, 0.10},
    {0.60, 0.90, 0.30},
    {0.95, 0.55, 0.70},
    {0.45, 0.45, 0.95},
    {0.50, 0.50, 0.50},
}};

std::optional<int> parseLabelValue(const std::string& text)
{
	int value = 0;
	auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
	if (error != std::errc() || end != text.data() + text.size())
		return std::nullopt;
	return value;
}

}

LabelDataComponent::LabelConfig LabelDataComponent::defaultLabelConfig(int value)
{
	const long long n = static_cast<long long>(kPalette.size());
	const auto& rgb = kPalette[static_cast<std::size_t>(((static_cast<long long>(value) - 1) % n + n) % n)];
	return {"Label " + std::to_string(value), Eigen::Vector4d(rgb[0], rgb[1], rgb[2], 1.0), true};
}

std::optional<LabelDataComponent::LabelConfig> LabelDataComponent::labelConfig(int value) const
{
	auto it = m_configs.find(value);
	if (it == m_configs.end())
		return std::nullopt;
	return it->second;
}

void LabelDataComponent::setParent(Data* parent) { m_images = dynamic_cast<SharedImageSet*>(parent); }

// One nested entry per label, named by the label value: {name, color, visible}.
void LabelDataComponent::configure(const Properties* p)
{
	if (!p)
		return;
	for (const auto& [key, value] : p->entries())
	{
		auto labelValue = parseLabelValue(key);
		const Properties* entry = p->subProperties(key);
		if (!labelValue || !entry)
			continue;
		LabelConfig config = defaultLabelConfig(*labelValue);
		entry->param("name", config.name);
		entry->param("color", config.color);
		entry->param("visible", config.visible);
		m_configs[*labelValue] = std::move(config);
	}
}

void LabelDataComponent::configuration(Properties* p) const
{
	if (!p)
		return;
	for (const auto& [value, config] : m_configs)
	{
		Properties& entry = p->subProperties(std::to_string(value));
		entry.setParam("name", config.name);
		entry.setParam("color", config.color);
		entry.setParam("visible", config.visible);
	}
}

}
