"""Python face of the Orbitane platform: data objects, properties, signals, algorithms and file I/O.

Native types live in the extension ``orbitane._orbitane`` and are re-exported here; extensions of
the package (such as ``orbitane.anatomy``) share their type registry and extend them.
"""

import importlib as _importlib
import os as _os

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


def open(path):
    """Reads a data object through the registered reader for the file's extension.

    The result has its most specific type (for example ``orbitane.Mesh``). An extension without a
    reader raises ValueError naming it.
    """
    path = _os.fspath(path)
    plugin_error = _ensure_format(path, _orbitane._has_reader)
    try:
        return _orbitane._open(path)
    except ValueError as error:
        if plugin_error is not None and not _orbitane._has_reader(_orbitane._extension(path)):
            raise error from plugin_error
        raise


def save(data, path):
    """Writes a data object through the registered writer for the file's extension.

    An extension without a writer raises ValueError naming it.
    """
    path = _os.fspath(path)
    plugin_error = _ensure_format(path, _orbitane._has_writer)
    try:
        _orbitane._save(data, path)
    except ValueError as error:
        if plugin_error is not None and not _orbitane._has_writer(_orbitane._extension(path)):
            raise error from plugin_error
        raise
