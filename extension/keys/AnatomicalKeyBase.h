#pragma once

#include <cstddef>
#include <string>

/// Base of the anatomical identifier constants. The constants are never destroyed through a base
/// pointer (they live in read-only storage until the process ends), hence no virtual destructor.
class KeyBase
{
public:
	virtual std::string toString() const = 0;

protected:
	constexpr KeyBase() = default;
	constexpr KeyBase(const KeyBase&) = default;
	~KeyBase() = default;
};

/// One dotted anatomical identifier of N characters, stored with its terminating zero so that a
/// constant can be built at compile time from a string literal.
template <std::size_t N>
class Key final : public KeyBase
{
public:
	constexpr explicit Key(const char (&text)[N + 1])
	{
		for (std::size_t i = 0; i < N; ++i)
			m_chars[i] = text[i];
	}

	std::string toString() const override { return std::string(m_chars); }

private:
	char m_chars[N + 1] = {};
};

/// Lets `Key name{"..."}` take N from the literal, so nobody counts characters by hand.
template <std::size_t M>
Key(const char (&)[M]) -> Key<M - 1>;
