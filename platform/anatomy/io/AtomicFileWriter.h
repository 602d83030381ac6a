#pragma once

#include "core/NotCopyable.h"

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace Orbitane {

/// A failure of the file system while writing; the message already names the target.
class FileWriteError : public std::runtime_error
{
public:
	using std::runtime_error::runtime_error;
};

/// Replaces a file so that readers see either the old content or the complete new one: the bytes
/// go to a temporary file in the target's directory, which commit() flushes to disk and renames
/// over the target, then flushes the directory so that the rename itself is durable. Destroying
/// the writer without commit() removes the temporary file and leaves the target untouched.
/// A path through symbolic links replaces the file they lead to, and the links stay.
/// Errors are FileWriteError; a read-only target is refused with DataIO::FileAccessError (EACCES),
/// whose message leaves naming the file to the caller.
///
/// A writer that dies (killed, crashed) cannot remove its temporary file, so each writer holds it
/// locked and a new writer first removes the temporary files of its target that no one holds.
class AtomicFileWriter : Utils::NotCopyable
{
public:
	explicit AtomicFileWriter(std::string path);
	~AtomicFileWriter();

	void write(std::span<const std::uint8_t> bytes);
	void commit();

	const std::string& path() const { return m_path; }
	/// The file that commit() replaces: path() with its symbolic links followed.
	const std::string& targetPath() const { return m_target; }
	const std::string& temporaryPath() const { return m_tempPath; }

private:
	[[noreturn]] void fail(const std::string& what) const;
	void refuseReadOnlyTarget() const;
	void createTemporary();
	void discard() noexcept;

	std::string m_path;
	std::string m_target;
	std::string m_tempPath;
	std::intptr_t m_handle = -1;
	bool m_committed = false;
};

}
