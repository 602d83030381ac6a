#pragma once

namespace Orbitane::Utils {

/// Base of types whose identity matters (signal receivers, stores, binding objects).
class NotCopyable
{
public:
	NotCopyable(const NotCopyable&) = delete;
	NotCopyable& operator=(const NotCopyable&) = delete;

protected:
	NotCopyable() = default;
	~NotCopyable() = default;
};

}
