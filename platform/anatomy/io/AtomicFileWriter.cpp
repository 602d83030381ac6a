#include "anatomy/io/AtomicFileWriter.h"

#include "data/DataIO.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Orbitane {

namespace {

namespace fs = std::filesystem;

std::atomic<unsigned> g_tempCounter{0};

std::string temporaryPrefix(const fs::path& target) { return "." + target.filename().string() + ".tmp-"; }

/// A hidden name in the target's directory, so that the final rename never crosses file systems;
/// it never ends in the target's extension, so that no reader takes it for data.
std::string temporaryName(const fs::path& target, unsigned attempt)
{
#ifdef _WIN32
	const unsigned long pid = GetCurrentProcessId();
#else
	const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
	const fs::path name = temporaryPrefix(target) + std::to_string(pid) + "-" +
	                      std::to_string(g_tempCounter.fetch_add(1)) + "-" + std::to_string(attempt);
	return (target.parent_path() / name).string();
}

/// Whether temporaryName() could have given this name for the target: the prefix, then three
/// numbers joined by '-'. Other files that merely begin alike are the user's.
bool isTemporaryName(const std::string& name, const std::string& prefix)
{
	if (name.rfind(prefix, 0) != 0)
		return false;
	int numbers = 0;
	bool inNumber = false;
	for (char c : name.substr(prefix.size()))
	{
		if (std::isdigit(static_cast<unsigned char>(c)))
		{
			numbers += inNumber ? 0 : 1;
			inNumber = true;
		}
		else if (c == '-' && inNumber)
			inNumber = false;
		else
			return false;
	}
	return inNumber && numbers == 3;
}

/// Follows symbolic links to the file they lead to, which need not exist yet. Empty for a chain
/// that does not end (a loop) or cannot be read.
fs::path finalTarget(const fs::path& path)
{
	constexpr int kMaxLinks = 40;
	fs::path target = path;
	for (int links = 0; links <= kMaxLinks; ++links)
	{
		std::error_code ec;
		if (!fs::is_symlink(fs::symlink_status(target, ec)))
			return target;
		const fs::path link = fs::read_symlink(target, ec);
		if (ec)
			return {};
		target = link.is_absolute() ? link : target.parent_path() / link;
	}
	return {};
}

void removeIfAbandoned(const std::string& path);

/// Temporary files of the target that no live writer holds: what killed or crashed writers left.
void removeAbandonedTemporaries(const fs::path& target)
{
	const std::string prefix = temporaryPrefix(target);
	const fs::path parent = target.parent_path().empty() ? fs::path(".") : target.parent_path();
	std::error_code ec;
	for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec))
		if (isTemporaryName(it->path().filename().string(), prefix))
			removeIfAbandoned(it->path().string());
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

AtomicFileWriter::AtomicFileWriter(std::string path) : m_path(std::move(path))
{
	const fs::path target = finalTarget(m_path);
	if (target.empty())
	{
		errno = ELOOP;
		fail("its symbolic links lead nowhere");
	}
	m_target = target.string();
	refuseReadOnlyTarget();
	removeAbandonedTemporaries(target);
	createTemporary();
}

/// Replacing a file needs only a writable directory, so the file's own mark is checked here, also
/// for users whom the system would let write anyway.
void AtomicFileWriter::refuseReadOnlyTarget() const
{
	std::error_code ec;
	const fs::file_status existing = fs::status(m_target, ec);
	constexpr fs::perms anyWrite = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
	if (fs::is_regular_file(existing) && (existing.permissions() & anyWrite) == fs::perms::none)
		throw DataIO::FileAccessError(EACCES, "the file is read-only");
}

#ifdef _WIN32

namespace {

/// Windows refuses to delete a file that a live writer holds open, as every writer does.
void removeIfAbandoned(const std::string& path) { DeleteFileA(path.c_str()); }

}

void AtomicFileWriter::createTemporary()
{
	for (unsigned attempt = 0; m_handle == -1; ++attempt)
	{
		m_tempPath = temporaryName(m_target, attempt);
		HANDLE h =
		    CreateFileA(m_tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
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
	if (!MoveFileExA(m_tempPath.c_str(), m_target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
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

namespace {

/// Whether the name still leads to the open file, and not to one created since under the same name.
bool isLinkedAs(int fd, const std::string& path)
{
	struct stat opened
	{
	}, named{};
	return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
	       opened.st_ino == named.st_ino;
}

/// Whether the lock that marks a new temporary file as in use is ours. A writer removing abandoned
/// files may have taken it between the file's creation and this lock, and then unlinked it.
bool holdAsOwn(int fd, const std::string& path)
{
	if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
		return errno != EWOULDBLOCK;    // a file system without locks: no one else can take it either
	return isLinkedAs(fd, path);
}

/// A temporary file whose lock can be taken has no live writer: the kernel drops a writer's lock
/// when it dies, however it dies, while the PID in the name may already belong to another process.
void removeIfAbandoned(const std::string& path)
{
	const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
	if (fd < 0)
		return;
	struct stat info
	{};
	if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && isLinkedAs(fd, path))
		::unlink(path.c_str());
	::close(fd);
}

}

void AtomicFileWriter::createTemporary()
{
	struct stat existing
	{};
	const bool replaces = ::stat(m_target.c_str(), &existing) == 0;
	for (unsigned attempt = 0; m_handle == -1; ++attempt)
	{
		m_tempPath = temporaryName(m_target, attempt);
		const int fd = ::open(m_tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
		if (fd >= 0 && holdAsOwn(fd, m_tempPath))
			m_handle = fd;
		else if (fd >= 0)
			::close(fd);
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
	// renamed while still open and locked, or another writer could take it for abandoned
	if (::rename(m_tempPath.c_str(), m_target.c_str()) != 0)
		fail("cannot rename the temporary file into place");
	m_committed = true;
	m_handle = -1;
	if (::close(fd) != 0)
		fail("closing the temporary file failed");

	const int dir = ::open(directoryOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
