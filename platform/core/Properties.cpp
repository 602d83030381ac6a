#include "core/Properties.h"

#include <algorithm>

namespace Orbitane {

NestedProperties::NestedProperties() : m_value(std::make_unique<Properties>()) {}
NestedProperties::NestedProperties(Properties p) : m_value(std::make_unique<Properties>(std::move(p))) {}
NestedProperties::NestedProperties(const NestedProperties& other) : m_value(std::make_unique<Properties>(other.get()))
{}
NestedProperties& NestedProperties::operator=(const NestedProperties& other)
{
	if (this != &other)
		m_value = std::make_unique<Properties>(other.get());
	return *this;
}
NestedProperties::~NestedProperties() = default;
bool NestedProperties::operator==(const NestedProperties& other) const { return get() == other.get(); }

void Properties::set(const std::string& name, Value value)
{
	if (Value* v = find(name))
		*v = std::move(value);
	else
		m_entries.emplace_back(name, std::move(value));
}

const Properties::Value* Properties::find(const std::string& name) const
{
	auto it = std::find_if(m_entries.begin(), m_entries.end(), [&](const auto& e) { return e.first == name; });
	return it == m_entries.end() ? nullptr : &it->second;
}

Properties::Value* Properties::find(const std::string& name)
{
	return const_cast<Value*>(std::as_const(*this).find(name));
}

bool Properties::remove(const std::string& name)
{
	return std::erase_if(m_entries, [&](const auto& e) { return e.first == name; }) > 0;
}

Properties& Properties::subProperties(const std::string& name)
{
	Value* v = find(name);
	if (!v || !std::holds_alternative<NestedProperties>(*v))
	{
		set(name, NestedProperties());
		v = find(name);
	}
	return std::get<NestedProperties>(*v).get();
}

const Properties* Properties::subProperties(const std::string& name) const
{
	const Value* v = find(name);
	auto nested = v ? std::get_if<NestedProperties>(v) : nullptr;
	return nested ? &nested->get() : nullptr;
}

std::vector<std::string> Properties::names() const
{
	std::vector<std::string> out;
	out.reserve(m_entries.size());
	for (const auto& e : m_entries)
		out.push_back(e.first);
	return out;
}

bool Properties::operator==(const Properties& other) const
{
	if (size() != other.size())
		return false;
	return std::all_of(m_entries.begin(), m_entries.end(), [&](const auto& e) {
		const Value* v = other.find(e.first);
		return v && *v == e.second;
	});
}

}
