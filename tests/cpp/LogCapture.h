#pragma once
// Collects the log records that reach the sinks while it lives, those of one category or, without
// one, all of them: tests check what an algorithm logged, not only what it returned.

#include "core/Log.h"

#include <string>
#include <vector>

namespace Orbitane::Testing {

class LogCapture
{
public:
	explicit LogCapture(std::string category = {})
	    : m_category(std::move(category)), m_handle(Log::addSink([this](const Log::Record& r) {
		      if (m_category.empty() || r.category == m_category)
			      records.push_back(r);
	      }))
	{}
	~LogCapture() { Log::removeSink(m_handle); }
	LogCapture(const LogCapture&) = delete;
	LogCapture& operator=(const LogCapture&) = delete;

	std::vector<Log::Record> records;

private:
	std::string m_category;
	int m_handle;
};

}
