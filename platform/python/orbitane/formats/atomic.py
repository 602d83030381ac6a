"""Replacing a file so that readers see either its old content or the complete new one.

The naming and locking match the platform's native writer, so that each cleans up what the other
left: the new content goes to a hidden file ".NAME.tmp-PID-COUNTER-ATTEMPT" beside the target,
locked while it is being written, and is renamed over the target only once it is complete and on
disk. A writer that is killed cannot remove its file; the next writer of the same target removes
every such file whose lock nobody holds.
"""

import contextlib
import errno
import itertools
import os
import re
import stat

try:
    import fcntl
except ImportError:  # Windows refuses to delete a file that a live writer holds open: that is the lock
    fcntl = None

_counter = itertools.count()


def _prefix(target):
    return "." + os.path.basename(target) + ".tmp-"


def _is_temporary_name(name, prefix):
    return name.startswith(prefix) and re.fullmatch(r"\d+-\d+-\d+", name[len(prefix):]) is not None


def _lock(fd):
    """Whether the file is now ours; False when a live writer holds it."""
    if fcntl is None:
        return True
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        return False
    except OSError:  # a file system without locks: nobody else can take it either
        return True
    return True


def _is_linked_as(fd, path):
    """Whether the name still leads to the open file, and not to one created since under that name."""
    try:
        opened, named = os.fstat(fd), os.lstat(path)
    except OSError:
        return False
    return (opened.st_dev, opened.st_ino) == (named.st_dev, named.st_ino)


def _remove_if_abandoned(path):
    try:
        fd = os.open(path, os.O_RDONLY | getattr(os, "O_NOFOLLOW", 0) | getattr(os, "O_NONBLOCK", 0))
    except OSError:
        return
    try:
        if stat.S_ISREG(os.fstat(fd).st_mode) and _lock(fd) and _is_linked_as(fd, path):
            os.unlink(path)
    except OSError:
        pass
    finally:
        os.close(fd)


def _remove_abandoned_temporaries(target):
    prefix = _prefix(target)
    directory = os.path.dirname(target) or "."
    try:
        names = os.listdir(directory)
    except OSError:
        return
    for name in names:
        if _is_temporary_name(name, prefix):
            _remove_if_abandoned(os.path.join(directory, name))


def _create_temporary(target):
    directory, prefix = os.path.dirname(target), _prefix(target)
    for attempt in itertools.count():
        path = os.path.join(directory, f"{prefix}{os.getpid()}-{next(_counter)}-{attempt}")
        try:
            fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_CLOEXEC", 0), 0o666)
        except FileExistsError:
            if attempt > 100:
                raise
            continue
        # another writer cleaning up may have taken the new file for abandoned before it was locked
        if _lock(fd) and _is_linked_as(fd, path):
            return fd, path
        os.close(fd)


def _refuse_read_only(path, target):
    try:
        mode = os.stat(target).st_mode
    except OSError:
        return
    # replacing a file needs only a writable directory, so the file's own mark is checked here
    if stat.S_ISREG(mode) and not mode & (stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH):
        raise PermissionError(errno.EACCES, f'cannot save "{path}": the file is read-only', path)


def _sync_directory(directory):
    if not hasattr(os, "O_DIRECTORY"):
        return
    fd = os.open(directory or ".", os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(fd)
    except OSError as error:
        # some file systems cannot flush a directory: the rename is then as durable as they allow
        if error.errno not in (errno.EINVAL, errno.ENOTSUP):
            raise
    finally:
        os.close(fd)


@contextlib.contextmanager
def replacing(path):
    """Yields the path of a new, empty temporary file for the content of ``path``.

    When the block ends normally the temporary file replaces ``path`` (whose permissions it keeps;
    a path through symbolic links replaces the file they lead to); when it raises, the temporary
    file is removed and ``path`` is left as it was.
    """
    target = os.path.realpath(path)
    _refuse_read_only(path, target)
    _remove_abandoned_temporaries(target)
    try:
        fd, temporary = _create_temporary(target)
    except OSError as error:
        raise type(error)(error.errno, f'cannot save "{path}": {error.strerror}', path) from None
    committed = False
    try:
        yield temporary
        with contextlib.suppress(FileNotFoundError):
            os.chmod(temporary, stat.S_IMODE(os.stat(target).st_mode))
        # the content may have been written through another descriptor of the same file
        with open(temporary, "rb") as written:
            os.fsync(written.fileno())
        # renamed while still locked, or another writer could take it for abandoned
        os.replace(temporary, target)
        committed = True
    finally:
        os.close(fd)
        if not committed:
            with contextlib.suppress(OSError):
                os.unlink(temporary)
    _sync_directory(os.path.dirname(target))
