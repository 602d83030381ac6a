#pragma once

#include "anatomy/TransformHelpers.h"
#include "core/Log.h"

#include <Eigen/Core>

#include <limits>
#include <memory>
#include <optional>
#include <string>

// What KeyValueStore does differently for each element kind, and how it logs.
namespace Orbitane::KeyValueStoreDetail {

inline const std::string logCategory = "AnatomyPlugin.KeyValueStore";

/// Every message of a store is a warning of its category; a message the log would not take is
/// not even written out.
inline void log(const char* message) { Log::logIfAccepted(Log::Warning, logCategory, message); }

/// An independent copy of a stored object: image sets through their clone with empty options
/// (which may yield nothing), the other kinds through their copy constructor.
template <typename U>
std::unique_ptr<U> copyObject(const U& object)
{
	if constexpr (requires(const U& u) { u.clone(0u); })
		return object.clone(0u);
	else
		return std::make_unique<U>(object);
}

template <typename T>
struct Traits;

/// What point and plane stores share: a vector is its own element and copy, it is invalid with
/// every component NaN, and its local copy is the same vector in the structure's frame.
template <typename V>
struct VectorTraits
{
	static constexpr bool isObject = false;
	using Local = V;
	using Removed = std::optional<V>;
	using Element = const V&;

	static V invalid() { return V::Constant(std::numeric_limits<double>::quiet_NaN()); }
	static Element element(const V& v) { return v; }
	static V copy(const V& v) { return v; }
	static Local toLocal(const V& v, const Eigen::Matrix4d* m) { return TransformHelpers::worldToLocal(v, m); }
};

template <>
struct Traits<Eigen::Vector3d> : VectorTraits<Eigen::Vector3d>
{
	// infinity is a legitimate "far away" keypoint; only NaN means "no point"
	static bool isValid(const Eigen::Vector3d& v) { return !v.hasNaN(); }
	static Eigen::Vector3d moveWithFrame(const Eigen::Matrix4d& t, const Eigen::Vector3d& v)
	{
		return TransformHelpers::transformPoint(t, v);
	}
};

template <>
struct Traits<Eigen::Vector4d> : VectorTraits<Eigen::Vector4d>
{
	// planes carry no notion of "missing": a NaN plane is stored like any other
	static bool isValid(const Eigen::Vector4d&) { return true; }
	static Eigen::Vector4d moveWithFrame(const Eigen::Matrix4d& t, const Eigen::Vector4d& v)
	{
		return TransformHelpers::transformPlane(t, v);
	}
};

template <typename U>
struct Traits<std::unique_ptr<U>>
{
	static constexpr bool isObject = true;
	using Local = Eigen::Matrix4d;
	using Removed = std::unique_ptr<U>;
	using Element = U*;

	static std::unique_ptr<U> invalid() { return nullptr; }
	static bool isValid(const std::unique_ptr<U>& p) { return p != nullptr; }
	static Element element(const std::unique_ptr<U>& p) { return p.get(); }
	static std::unique_ptr<U> copy(const std::unique_ptr<U>& p) { return p ? copyObject(*p) : nullptr; }
};

}
