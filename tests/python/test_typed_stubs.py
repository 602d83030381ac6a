"""The typed stubs and the version that the built package ships: each stub parses, declares what
its module offers at run time down to the members of each class, and imports only what exists."""

import ast
import importlib
import importlib.util
import tomllib
import types
from pathlib import Path

import pytest

import orbitane
import orbitane.anatomy  # noqa: F401  (completes the package with its plugin and orbitane.keys)

_REPO = Path(__file__).resolve().parents[2]
_PACKAGE = Path(orbitane.__file__).parent
_STUBS = {"orbitane": "__init__.pyi", "orbitane.anatomy": "anatomy.pyi", "orbitane.graph": "graph.pyi"}


def test_version_is_pyprojects_and_the_package_is_marked_typed():
    project = tomllib.loads((_REPO / "pyproject.toml").read_text(encoding="utf-8"))["project"]
    assert orbitane.__version__ == project["version"]
    assert (_PACKAGE / "py.typed").is_file()


def _bound_names(body):
    """The names a module or class body binds, and its classes by name."""
    names, classes = set(), {}
    for node in body:
        if isinstance(node, ast.ClassDef):
            classes[node.name] = node
            names.add(node.name)
        elif isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef)):
            names.add(node.name)
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            names.add(node.target.id)
        elif isinstance(node, ast.Assign):
            names.update(t.id for t in node.targets if isinstance(t, ast.Name))
        elif isinstance(node, (ast.Import, ast.ImportFrom)):
            names.update((a.asname or a.name).split(".")[0] for a in node.names)
    return names, classes


def _public(names):
    return {n for n in names if not n.startswith("_")}


@pytest.mark.parametrize("module_name", _STUBS)
def test_stub_declares_every_public_name_and_member_of_its_module(module_name):
    path = _PACKAGE / _STUBS[module_name]
    tree = ast.parse(path.read_text(encoding="utf-8"), filename=str(path))
    module = importlib.import_module(module_name)
    names, classes = _bound_names(tree.body)
    # submodules become attributes only once something imports them, which other tests may do
    public = {n for n in _public(vars(module)) if not isinstance(getattr(module, n), types.ModuleType)}
    assert public - names == set()
    assert classes, "a stub without classes lost its module's types"
    for class_name, node in classes.items():
        members, _ = _bound_names(node.body)
        missing = _public(vars(getattr(module, class_name))) - members
        assert missing == set(), f"{module_name}.{class_name} lacks {sorted(missing)}"


@pytest.mark.parametrize("module_name", _STUBS)
def test_stub_imports_name_what_exists(module_name):
    tree = ast.parse((_PACKAGE / _STUBS[module_name]).read_text(encoding="utf-8"))
    package = module_name if module_name == "orbitane" else module_name.rpartition(".")[0]
    for node in ast.walk(tree):
        if isinstance(node, ast.ImportFrom) and node.module != "__future__":
            source = importlib.import_module(("." * node.level) + (node.module or ""), package)
            for alias in node.names:
                assert hasattr(source, alias.name) or importlib.util.find_spec(f"{source.__name__}.{alias.name}"), (
                    f"{_STUBS[module_name]}: from {source.__name__} import {alias.name}")
        elif isinstance(node, ast.Import):
            for alias in node.names:
                importlib.import_module(alias.name)
