#pragma once

#include "core/Configurable.h"
#include "core/Log.h"
#include "core/Signal.h"
#include "data/OwningDataList.h"

#include <source_location>
#include <string>

namespace Orbitane {

/// A computation with parameters: configure, compute, read status, take the output.
class Algorithm : public Configurable
{
public:
	enum Status : int
	{
		Success = 0,
		Unknown = 1,
		Error = 2,
		InvalidInput = 3,
		IncompleteInput = 4
	};

	~Algorithm() override = default;

	virtual void compute() = 0;
	/// Hands over what the last compute produced; a second call returns an empty list.
	virtual OwningDataList takeOutput() { return std::move(m_output); }
	virtual void setProgress(double fraction) { progress.emitSignal(fraction); }
	virtual int status() const { return m_status; }
	/// Whether the algorithm may outlive its input data.
	virtual bool survivesDataDeletion() const { return false; }

	/// Fraction done in [0, 1] while compute runs.
	Signal<double> progress;

protected:
	/// Ends a compute that cannot give a result: sets the status and logs the message as an error
	/// of the algorithm's category, naming the caller's place. False, so that a step can
	/// `return fail(...)`.
	bool fail(int status, const std::string& category, const std::string& message,
	          std::source_location where = std::source_location::current())
	{
		Log::logIfAccepted(Log::Error, category, message, where.file_name(), static_cast<int>(where.line()));
		m_status = status;
		return false;
	}

	int m_status = Unknown;
	OwningDataList m_output;
};

}
