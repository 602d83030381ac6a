#include "anatomy/io/AtomicFileWriter.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Orbitane {

namespace {

namespace fs = std::filesystem;

std::atomic<unsigned> g_tempCounter{0};

/// A hidden name in the target's directory, so that the final rename never crosses file systems.
std::string temporaryName(const fs::path& target, unsigned attempt)
{
#ifdef _WIN32
	const unsigned long pid = GetCurrentProcessId();
#else
	const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
	const fs::path name = "." + target.filename().string() + ".tmp-" + std::to_string(pid) + "-" +
	                      std::to_string(g_tempCounter.fetch_add(1)) + "-" + std::to_string(attempt);
	return (target.parent_path() / name).string();
}

std::string directoryOf(const std::string& path)
{
	const fs::path parent = fs::path(path).parent_path();
	return parent.empty() ? std::string(".") : parent.string();
}

std::string lastError()
{
#ifdef _WIN32
	return "system error " + std::to_string(GetLastError());
#else
	return std::strerror(errno);
#endif
}

}

#ifdef _WIN32

AtomicFileWriter::AtomicFileWriter(std::string path) : m_path(std::move(path))
{
	for (unsigned attempt = 0; m_handle == -1; ++attempt)
	{
		m_tempPath = temporaryName(m_path, attempt);
		HANDLE h = CreateFileA(m_tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
		if (h != INVALID_HANDLE_VALUE)
			m_handle = reinterpret_cast<std::intptr_t>(h);
		else if (GetLastError() != ERROR_FILE_EXISTS || attempt > 100)
			fail("cannot create a temporary file beside it");
	}
}

void AtomicFileWriter::write(std::span<const std::uint8_t> bytes)
{
	HANDLE h = reinterpret_cast<HANDLE>(m_handle);
	while (!bytes.empty())
	{
		const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
		DWORD written = 0;
		if (!WriteFile(h, bytes.data(), piece, &written, nullptr))
			fail("write failed");
		bytes = bytes.subspan(written);
	}
}

void AtomicFileWriter::commit()
{
	HANDLE h = reinterpret_cast<HANDLE>(m_handle);
	if (!FlushFileBuffers(h))
		fail("flushing to disk failed");
	CloseHandle(h);
	m_handle = -1;
	if (!MoveFileExA(m_tempPath.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
		fail("cannot rename the temporary file into place");
	m_committed = true;
}

void AtomicFileWriter::discard() noexcept
{
	if (m_handle != -1)
		CloseHandle(reinterpret_cast<HANDLE>(m_handle));
	m_handle = -1;
	DeleteFileA(m_tempPath.c_str());
}

#else

AtomicFileWriter::AtomicFileWriter(std::string path) : m_path(std::move(path))
{
	struct stat existing{};
	const bool replaces = ::stat(m_path.c_str(), &existing) == 0;
	for (unsigned attempt = 0; m_handle == -1; ++attempt)
	{
		m_tempPath = temporaryName(m_path, attempt);
		const int fd = ::open(m_tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
		if (fd >= 0)
			m_handle = fd;
		else if (errno != EEXIST || attempt > 100)
			fail("cannot create a temporary file beside it");
	}
	// A replaced file keeps its permissions.
	if (replaces)
		::fchmod(static_cast<int>(m_handle), existing.st_mode & 07777);
}

void AtomicFileWriter::write(std::span<const std::uint8_t> bytes)
{
	while (!bytes.empty())
	{
		const ssize_t n = ::write(static_cast<int>(m_handle), bytes.data(), bytes.size());
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			fail("write failed");
		bytes = bytes.subspan(static_cast<std::size_t>(n));
	}
}

void AtomicFileWriter::commit()
{
	const int fd = static_cast<int>(m_handle);
	if (::fsync(fd) != 0)
		fail("flushing to disk failed");
	m_handle = -1;
	if (::close(fd) != 0)
		fail("closing the temporary file failed");
	if (::rename(m_tempPath.c_str(), m_path.c_str()) != 0)
		fail("cannot rename the temporary file into place");
	m_committed = true;

	const int dir = ::open(directoryOf(m_path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (dir < 0)
		fail("cannot open its directory to flush the rename");
	const int synced = ::fsync(dir);
	const int syncError = errno;
	::close(dir);
	errno = syncError;
	// Some file systems cannot flush a directory at all; the rename is then as durable as they allow.
	if (synced != 0 && syncError != EINVAL && syncError != ENOTSUP)
		fail("flushing its directory failed");
}

void AtomicFileWriter::discard() noexcept
{
	if (m_handle != -1)
		::close(static_cast<int>(m_handle));
	m_handle = -1;
	::unlink(m_tempPath.c_str());
}

#endif

AtomicFileWriter::~AtomicFileWriter()
{
	if (!m_committed)
		discard();
}

void AtomicFileWriter::fail(const std::string& what) const
{
	throw FileWriteError("Cannot write '" + m_path + "': " + what + " (" + lastError() + ")");
}

}
