"""Makes the tests import the package from a build tree: $ORBITANE_BUILD_DIR (default "build"),
relative to the repository root unless absolute."""

import os
import sys
from pathlib import Path

import pytest

_REPO = Path(__file__).resolve().parents[2]


def _package_root():
    configured = os.environ.get("ORBITANE_BUILD_DIR")
    build = Path(configured or "build")
    if not build.is_absolute():
        build = _REPO / build
    root = build / "python"
    if not root.is_dir():
        if configured:
            pytest.exit(f"ORBITANE_BUILD_DIR={configured}: {root} does not exist", returncode=4)
        return None    # fall back on whatever PYTHONPATH provides
    return str(root)


_root = _package_root()
if _root is not None:
    if _root in sys.path:
        sys.path.remove(_root)
    sys.path.insert(0, _root)


class ConvertsAfter:
    """A vector whose conversion to an array first runs a Python action."""

    def __init__(self, value, action):
        self.value, self.action = value, action

    def __array__(self, dtype=None, copy=None):
        import numpy as np
        self.action()
        return np.asarray(self.value, dtype=dtype)


@pytest.fixture
def converts_after():
    """The class of vectors that run Python code when they are converted."""
    return ConvertsAfter
