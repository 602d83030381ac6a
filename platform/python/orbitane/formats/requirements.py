"""The libraries behind the file formats, imported only when a file of theirs is read or written."""

import importlib

# module name -> (what it is needed for, Debian package)
_PURPOSES = {
    "nibabel": ("NIfTI and MGH images", "python3-nibabel"),
    "meshio": ("mesh and point cloud files", "python3-meshio"),
    "tqdm": ("the command line's progress bar", "python3-tqdm"),
    "distributed": ("cohort runs", "python3-distributed"),
    "dask": ("cohort runs", "python3-dask"),
}


def require(name):
    """The module, or a ModuleNotFoundError that says which package to install."""
    try:
        return importlib.import_module(name)
    except ImportError as error:
        purpose, debian = _PURPOSES[name]
        raise ModuleNotFoundError(
            f"{purpose} need the Python package {name}: install it with 'pip install {name}' "
            f"(Debian: apt install {debian})",
            name=name,
        ) from error
