"""Makes the tests import the package from a build tree: $ORBITANE_BUILD_DIR (default "build"),
relative to the repository root unless absolute."""

import json
import os
import subprocess
import sys
import textwrap
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


def _run_isolated(code):
    """Runs code in a fresh interpreter that finds the same package tree; returns the JSON that its
    last line of output holds."""
    import orbitane
    package_root = os.path.dirname(os.path.dirname(os.path.abspath(orbitane.__file__)))
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [package_root, env.get("PYTHONPATH")]))
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env, capture_output=True,
                          text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout.strip().splitlines()[-1])


@pytest.fixture
def run_isolated():
    """Runs code in a fresh interpreter (for start-ups that must not touch this one)."""
    return _run_isolated
