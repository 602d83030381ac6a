#pragma once

#include <Eigen/Core>

#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace Orbitane {

class Properties;

/// Deep-copying holder of nested properties, so that Properties stays a plain value type.
class NestedProperties
{
public:
	NestedProperties();
	explicit NestedProperties(Properties p);
	NestedProperties(const NestedProperties& other);
	NestedProperties& operator=(const NestedProperties& other);
	NestedProperties(NestedProperties&&) noexcept = default;
	NestedProperties& operator=(NestedProperties&&) noexcept = default;
	~NestedProperties();

	Properties& get() { return *m_value; }
	const Properties& get() const { return *m_value; }
	bool operator==(const NestedProperties& other) const;

private:
	std::unique_ptr<Properties> m_value;
};

/// Named, typed values in insertion order: bool, int, double, string, 2/3/4-vectors, 4x4 matrices
/// and nested Properties.
class Properties
{
public:
	using Value = std::variant<bool, int, double, std::string, Eigen::Vector2d, Eigen::Vector3d, Eigen::Vector4d,
	                           Eigen::Matrix4d, NestedProperties>;

	Properties() = default;

	/// Stores value under name, replacing whatever was there (also a value of another type).
	template <typename T>
	void setParam(const std::string& name, const T& value)
	{
		set(name, toValue(value));
	}
	void set(const std::string& name, Value value);

	/// Reads name into out if it exists and holds a T (ints widen to double, 0/1 ints read as bool);
	/// reports whether it did. out is unchanged otherwise.
	template <typename T>
	bool param(const std::string& name, T& out) const
	{
		const Value* v = find(name);
		if (!v)
			return false;
		return fromValue(*v, out);
	}
	/// Whether a value with this name exists, whatever its type.
	bool has(const std::string& name) const { return find(name) != nullptr; }

	const Value* find(const std::string& name) const;
	Value* find(const std::string& name);
	bool remove(const std::string& name);
	void clear() { m_entries.clear(); }

	/// Nested properties under name, created empty if missing (replacing a non-nested value).
	Properties& subProperties(const std::string& name);
	const Properties* subProperties(const std::string& name) const;

	std::vector<std::string> names() const;
	std::size_t size() const { return m_entries.size(); }
	bool empty() const { return m_entries.empty(); }
	const std::vector<std::pair<std::string, Value>>& entries() const { return m_entries; }

	/// Equal when both hold the same names with equal values, in any order.
	bool operator==(const Properties& other) const;

private:
	template <typename T>
	static Value toValue(const T& v)
	{
		if constexpr (std::is_same_v<T, bool>)
			return Value(v);
		else if constexpr (std::is_enum_v<T>)
			return Value(static_cast<int>(v));
		else if constexpr (std::is_integral_v<T>)
			return Value(static_cast<int>(v));
		else if constexpr (std::is_floating_point_v<T>)
			return Value(static_cast<double>(v));
		else if constexpr (std::is_convertible_v<T, std::string>)
			return Value(std::string(v));
		else if constexpr (std::is_same_v<T, Properties>)
			return Value(NestedProperties(v));
		else
			return Value(v);
	}

	template <typename T>
	static bool fromValue(const Value& v, T& out)
	{
		if constexpr (std::is_same_v<T, bool>)
		{
			if (auto b = std::get_if<bool>(&v))
				return out = *b, true;
			if (auto i = std::get_if<int>(&v); i && (*i == 0 || *i == 1))
				return out = (*i == 1), true;
			return false;
		}
		else if constexpr (std::is_enum_v<T> || std::is_integral_v<T>)
		{
			if (auto i = std::get_if<int>(&v))
				return out = static_cast<T>(*i), true;
			return false;
		}
		else if constexpr (std::is_floating_point_v<T>)
		{
			if (auto d = std::get_if<double>(&v))
				return out = static_cast<T>(*d), true;
			if (auto i = std::get_if<int>(&v))
				return out = static_cast<T>(*i), true;
			return false;
		}
		else if constexpr (std::is_same_v<T, Properties>)
		{
			if (auto p = std::get_if<NestedProperties>(&v))
				return out = p->get(), true;
			return false;
		}
		else
		{
			if (auto p = std::get_if<T>(&v))
				return out = *p, true;
			return false;
		}
	}

	std::vector<std::pair<std::string, Value>> m_entries;
};

}
