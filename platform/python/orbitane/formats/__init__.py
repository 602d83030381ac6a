"""The table of file formats that ``orbitane.open`` and ``orbitane.save`` dispatch on.

A path's format is the entry with the longest suffix that ends its file name, compared without
regard to case, so that ".nii.gz" is one format and not gzip. Formats of the platform's native
registry (".orb", and what plugins register) have no entry here.
"""

import os
from typing import Callable, NamedTuple, Optional

from . import images, surfaces


class Format(NamedTuple):
    suffix: str
    read: Callable  # (path, modality) -> Data
    write: Callable  # (data, path) -> None
    holds_images: bool


def _image_format(suffix, mgh, compressed):
    return Format(suffix, images.read_image,
                  lambda data, path: images.write_image(data, path, mgh=mgh, compressed=compressed), True)


def _surface_format(name):
    return Format("." + name, lambda path, modality: surfaces.read_surface(path, name),
                  lambda data, path: surfaces.write_surface(data, path, name), False)


FORMATS = (
    _image_format(".nii", mgh=False, compressed=False),
    _image_format(".nii.gz", mgh=False, compressed=True),
    _image_format(".mgh", mgh=True, compressed=False),
    _image_format(".mgz", mgh=True, compressed=True),
    *(_surface_format(name) for name in ("stl", "ply", "obj", "vtk")),
)


def format_of(path) -> Optional[Format]:
    """The format of the path's longest matching suffix, or None for the native registry."""
    name = os.path.basename(os.fsdecode(path)).lower()
    matches = [f for f in FORMATS if name.endswith(f.suffix) and len(name) > len(f.suffix)]
    return max(matches, key=lambda f: len(f.suffix), default=None)


def stem(path):
    """The file name without its format's suffix (".nii.gz" counted whole)."""
    name = os.path.basename(os.fsdecode(path))
    known = format_of(path)
    if known is not None:
        return name[: len(name) - len(known.suffix)]
    return os.path.splitext(name)[0]
