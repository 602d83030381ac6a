#include "anatomy/io/PropertiesCodec.h"

#include <type_traits>
#include <unordered_set>

namespace Orbitane::PropertiesCodec {

namespace {

// Stored tags; never renumber, only append.
enum Tag : std::uint8_t
{
	Bool = 1,
	Int = 2,
	Double = 3,
	String = 4,
	Vector2 = 5,
	Vector3 = 6,
	Vector4 = 7,
	Matrix4 = 8,
	Nested = 9
};

// The smallest stored entry: an empty name, a tag and a one-byte value.
constexpr std::size_t kMinEntryBytes = 4 + 1 + 1;

void writeAt(PayloadWriter& w, const Properties& p, int depth);

void writeValue(PayloadWriter& w, const Properties::Value& value, int depth)
{
	std::visit(
	    [&](const auto& v) {
		    using T = std::decay_t<decltype(v)>;
		    if constexpr (std::is_same_v<T, bool>)
			    w.u8(Bool), w.u8(v ? 1 : 0);
		    else if constexpr (std::is_same_v<T, int>)
			    w.u8(Int), w.i32(v);
		    else if constexpr (std::is_same_v<T, double>)
			    w.u8(Double), w.f64(v);
		    else if constexpr (std::is_same_v<T, std::string>)
			    w.u8(String), w.string(v);
		    else if constexpr (std::is_same_v<T, Eigen::Vector2d>)
			    w.u8(Vector2), w.vec<2>(v);
		    else if constexpr (std::is_same_v<T, Eigen::Vector3d>)
			    w.u8(Vector3), w.vec<3>(v);
		    else if constexpr (std::is_same_v<T, Eigen::Vector4d>)
			    w.u8(Vector4), w.vec<4>(v);
		    else if constexpr (std::is_same_v<T, Eigen::Matrix4d>)
			    w.u8(Matrix4), w.matrix(v);
		    else
			    w.u8(Nested), writeAt(w, v.get(), depth + 1);
	    },
	    value);
}

void writeAt(PayloadWriter& w, const Properties& p, int depth)
{
	if (depth > kMaxDepth)
		throw std::runtime_error("properties nested deeper than " + std::to_string(kMaxDepth) + " levels");
	if (p.size() > kMaxEntries)
		throw std::runtime_error("properties with more than " + std::to_string(kMaxEntries) + " entries");
	w.count(p.size());
	for (const auto& [name, value] : p.entries())
	{
		w.string(name);
		writeValue(w, value, depth);
	}
}

Properties readAt(PayloadReader& r, int depth);

Properties::Value readValue(PayloadReader& r, int depth)
{
	const std::uint64_t at = r.offset();
	switch (r.u8())
	{
		case Bool: return r.boolean();
		case Int: return r.i32();
		case Double: return r.f64();
		case String: return r.string();
		case Vector2: return r.vec<2>();
		case Vector3: return r.vec<3>();
		case Vector4: return r.vec<4>();
		case Matrix4: return r.matrix();
		case Nested: return NestedProperties(readAt(r, depth + 1));
		default: r.failAt("unknown property type", at);
	}
}

Properties readAt(PayloadReader& r, int depth)
{
	if (depth > kMaxDepth)
		r.fail("properties nested deeper than " + std::to_string(kMaxDepth) + " levels");
	Properties p;
	const std::uint64_t countAt = r.offset();
	const std::size_t n = r.count(kMinEntryBytes, "property count");
	if (n > kMaxEntries)
		r.failAt("property count " + std::to_string(n) + " exceeds the limit of " + std::to_string(kMaxEntries),
		         countAt);
	std::unordered_set<std::string> seen;
	for (std::size_t i = 0; i < n; ++i)
	{
		const std::uint64_t at = r.offset();
		std::string name = r.string();
		if (!seen.insert(name).second)
			r.failAt("duplicate property '" + name + "'", at);
		p.set(name, readValue(r, depth));
	}
	return p;
}

}

void write(PayloadWriter& w, const Properties& p) { writeAt(w, p, 0); }

Properties read(PayloadReader& r) { return readAt(r, 0); }

}
