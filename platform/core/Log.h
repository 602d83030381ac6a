#pragma once

#include <functional>
#include <string>
#include <type_traits>

namespace Orbitane::Log {

/// Levels: 0 trace, 1 debug, 2 info, 3 notice, 4 warning, 5 error, 6 fatal.
enum Level : int
{
	Trace = 0,
	Debug = 1,
	Info = 2,
	Notice = 3,
	Warning = 4,
	Error = 5,
	Fatal = 6
};

/// Messages below this level are not even built by callers that check it first.
extern int g_globalLevel;

/// Whether a message of this level and category passes the global level and the category filter.
bool isAccepted(int level, const std::string& category);

/// Hands the message to every registered sink. Callers check isAccepted first.
void log(int level, const std::string& category, const std::string& message, const char* file, int line);

/// Writes a message of this level and category if it is accepted, and builds it only then: pass a
/// callable that returns the message where building it costs something. Without a file, the
/// record has an empty one and line -1.
template <typename Message>
void logIfAccepted(int level, const std::string& category, Message&& message, const char* file = "", int line = -1)
{
	// the level is compared here first, so that a message below it costs no call into the library
	if (level < g_globalLevel || !isAccepted(level, category))
		return;
	if constexpr (std::is_invocable_v<Message&>)
		log(level, category, message(), file, line);
	else
		log(level, category, message, file, line);
}

/// Category filter: messages of a category that starts with prefix need at least minLevel.
/// A negative minLevel removes the rule.
void setCategoryLevel(const std::string& prefix, int minLevel);

struct Record
{
	int level;
	std::string category;
	std::string message;
	std::string file;
	int line;
};
using Sink = std::function<void(const Record&)>;

/// Returns a handle for removeSink. Sinks run synchronously on the logging thread.
int addSink(Sink sink);
void removeSink(int handle);

}
