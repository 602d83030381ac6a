#include "Bindings.h"

#include "core/Log.h"
#include "core/String.h"

#include <fmt/format.h>

namespace Orbitane::Python {

namespace {

int pythonLevel(int level)
{
	if (level <= Log::Debug)
		return 10;    // logging.DEBUG
	if (level <= Log::Notice)
		return 20;    // logging.INFO
	if (level == Log::Warning)
		return 30;
	if (level == Log::Error)
		return 40;
	return 50;    // logging.CRITICAL
}

// Records may quote bytes that are not UTF-8 (from a damaged file, say); Python takes only UTF-8
// text, so they are passed on with those bytes replaced rather than lost.
void emitRecord(const Log::Record& r)
{
	const std::string category = String::withValidUtf8(r.category);
	const std::string message = String::withValidUtf8(r.message);
	py::object logger = py::module_::import("logging").attr("getLogger")(category.empty() ? std::string("orbitane")
	                                                                                      : "orbitane." + category);
	const int level = pythonLevel(r.level);
	if (!logger.attr("isEnabledFor")(level).cast<bool>())
		return;
	if (r.file.empty())
	{
		// without a native location the Python caller is the most useful one
		logger.attr("log")(level, message);
		return;
	}
	py::object record = logger.attr("makeRecord")(logger.attr("name"), level, String::withValidUtf8(r.file),
	                                              std::max(r.line, 0), message, py::tuple(), py::none());
	logger.attr("handle")(record);
}

// Runs on whatever thread logs, possibly while a Python error is pending or during shutdown.
void forwardToPython(const Log::Record& r)
{
	if (!Py_IsInitialized() || Py_IsFinalizing())
		return;
	py::gil_scoped_acquire gil;
	py::error_scope pending;
	try
	{
		emitRecord(r);
	}
	catch (py::error_already_set& e)
	{
		e.discard_as_unraisable("forwarding a native log record to logging");
	}
	catch (...)
	{
		// a failing log handler must not break the native code that logged
	}
}

}

void bindLogging(py::module_& m)
{
	const int sink = Log::addSink(&forwardToPython);
	py::module_::import("atexit").attr("register")(py::cpp_function([sink] { Log::removeSink(sink); }));

	m.def(
	    "set_log_level",
	    [](int level) {
		    if (level < Log::Trace || level > Log::Fatal)
			    throw py::value_error(fmt::format("log level must lie between 0 and 6, got {}", level));
		    Log::g_globalLevel = level;
	    },
	    py::arg("level"),
	    "Sets the native global log level: 0 trace, 1 debug, 2 info, 3 notice, 4 warning, 5 error, 6 fatal. "
	    "Records below it are not even built.");
	m.def(
	    "get_log_level", [] { return Log::g_globalLevel; }, "The native global log level.");
}

}
