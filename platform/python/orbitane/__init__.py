"""Python face of the Orbitane platform: data objects, properties, signals, algorithms and file I/O.

Native types live in the extension ``orbitane._orbitane`` and are re-exported here; extensions of
the package (such as ``orbitane.anatomy``) share their type registry and extend them.
"""

import importlib as _importlib
import os as _os
import sys as _sys

from . import _orbitane
from ._version import __version__
from ._orbitane import (
    Algorithm,
    Data,
    DataComponentBase,
    DataComponentList,
    LabelDataComponent,
    Mesh,
    Modality,
    Parameter,
    PointCloud,
    Properties,
    SharedImageSet,
    Signal,
    get_log_level,
    set_log_level,
)
from . import formats as _formats
from .export import export

__all__ = [
    "Algorithm",
    "Data",
    "DataComponentBase",
    "DataComponentList",
    "LabelDataComponent",
    "Mesh",
    "Modality",
    "Parameter",
    "PointCloud",
    "Properties",
    "SharedImageSet",
    "Signal",
    "export",
    "get_log_level",
    "open",
    "save",
    "set_log_level",
]

# Plugins register their file formats when they are imported; these are imported on demand.
_KNOWN_PLUGINS = ("orbitane.anatomy",)
_plugin_errors = None


def _load_plugins():
    """Imports the known plugins once; returns the first import error, if any."""
    global _plugin_errors
    if _plugin_errors is None:
        _plugin_errors = []
        for name in _KNOWN_PLUGINS:
            try:
                _importlib.import_module(name)
            except ImportError as error:
                _plugin_errors.append(error)
    return _plugin_errors[0] if _plugin_errors else None


def _ensure_format(path, has_format):
    """Returns an import error to chain if the path's format is still unknown after loading plugins."""
    extension = _orbitane._extension(path)
    if extension and has_format(extension):
        return None
    return _load_plugins()


def _plugin(name):
    """A known plugin's module, imported through the plugin loading; ImportError if it cannot be."""
    error = _load_plugins()
    module = _sys.modules.get(name)
    if module is None:
        raise ImportError(f"the plugin {name} cannot be imported") from error
    return module


def _native_open(path):
    plugin_error = _ensure_format(path, _orbitane._has_reader)
    try:
        return _orbitane._open(path)
    except ValueError as error:
        if plugin_error is not None and not _orbitane._has_reader(_orbitane._extension(path)):
            raise error from plugin_error
        raise


def _native_save(data, path):
    plugin_error = _ensure_format(path, _orbitane._has_writer)
    try:
        _orbitane._save(data, path)
    except ValueError as error:
        if plugin_error is not None and not _orbitane._has_writer(_orbitane._extension(path)):
            raise error from plugin_error
        raise


def _modality(value):
    return value if value is None or isinstance(value, Modality) else Modality(value)


def open(path, modality=None):
    """Reads a data object; the format is the one of the longest matching file name suffix.

    NIfTI (.nii, .nii.gz) and MGH (.mgh, .mgz) files give a SharedImageSet with one image per
    volume, placed in the world (LPS); ``modality`` sets its modality, and label maps (NIfTI's
    label intent, or ``modality=Modality.LABEL``) come in an integer type. STL, PLY, OBJ and VTK
    files give a Mesh, or a PointCloud for a file of points only. Other extensions go to the
    platform's registry (.orb collections and what plugins register); the result has its most
    specific type (for example ``orbitane.Mesh``). A path that does not exist raises
    FileNotFoundError, an extension without a reader ValueError naming it.
    """
    path = _os.fspath(path)
    known = _formats.format_of(path)
    if known is not None:
        if modality is not None and not known.holds_images:
            raise ValueError(f'cannot open "{path}": a modality applies to image files only')
        return known.read(_os.fsdecode(path), _modality(modality))
    data = _native_open(path)
    if modality is not None:
        if not isinstance(data, SharedImageSet):
            raise ValueError(f'cannot open "{path}": a modality applies to image files only')
        data.modality = _modality(modality)
    return data


def save(data, path):
    """Writes a data object in the format of the longest matching file name suffix.

    Images go to .nii, .nii.gz, .mgh and .mgz files, meshes to .stl, .ply, .obj and .vtk files and
    point clouds to .ply files, all in world coordinates; other extensions go to the platform's
    registry. Every file is replaced atomically: a failure leaves the old file. An extension
    without a writer raises ValueError naming it.
    """
    path = _os.fspath(path)
    known = _formats.format_of(path)
    if known is not None:
        known.write(data, _os.fsdecode(path))
    else:
        _native_save(data, path)
