"""Checks made before meshio reads a file: on a truncated PLY header or ASCII STL solid it reads
on forever waiting for the end, and a truncated binary STL gives it garbage triangles."""

import os

_HEADER_LIMIT = 1 << 20
_STL_HEADER = 84
_STL_TRIANGLE = 50


def _check_ply(path):
    with open(path, "rb") as file:
        head = file.read(_HEADER_LIMIT)
    if not head.startswith(b"ply"):
        raise ValueError("it is not a PLY file")
    if b"end_header" not in head:
        raise ValueError("its PLY header does not end (a truncated file?)")


def _check_stl(path):
    size = os.path.getsize(path)
    with open(path, "rb") as file:
        head = file.read(_STL_HEADER)
        if len(head) == _STL_HEADER:
            triangles = int.from_bytes(head[80:84], "little")
            if size == _STL_HEADER + _STL_TRIANGLE * triangles:
                return
        if not head.lstrip().startswith(b"solid"):
            raise ValueError("it is neither a binary STL file of the size its triangle count gives nor an ASCII one "
                             "(a truncated file?)")
        file.seek(max(0, size - 1024))
        if b"endsolid" not in file.read():
            raise ValueError("its ASCII STL solid does not end (a truncated file?)")


_CHECKS = {"ply": _check_ply, "stl": _check_stl}


def check_complete(path, file_format):
    """Raises ValueError for a file that meshio could not finish reading or would misread."""
    check = _CHECKS.get(file_format)
    if check is not None:
        check(path)
