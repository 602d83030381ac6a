"""Errors that name the file: what the path is, apart from what the file holds."""

import errno
import os


def ensure_readable(path):
    """Raises the OSError that Python's own open() would, with a message that names the file."""
    try:
        with open(path, "rb"):
            pass
    except FileNotFoundError:
        raise FileNotFoundError(errno.ENOENT, f'cannot open "{path}": no such file', path) from None
    except IsADirectoryError:
        raise IsADirectoryError(errno.EISDIR, f'cannot open "{path}": it is a directory', path) from None
    except PermissionError:
        raise PermissionError(errno.EACCES, f'cannot open "{path}": permission denied', path) from None
    except OSError as error:
        raise type(error)(error.errno, f'cannot open "{path}": {error.strerror}', path) from None
    if not os.path.isfile(path):
        raise OSError(0, f'cannot open "{path}": it is not a regular file', path)


def reason(error):
    """A short text for what a library raised about a file's content."""
    text = str(error).strip().splitlines()[0] if str(error).strip() else ""
    return text or type(error).__name__


def unreadable(path, error):
    """The ValueError for a file whose content cannot be read, whatever the library raised."""
    return ValueError(f'cannot open "{path}": {reason(error)}')
