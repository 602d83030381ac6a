"""The module entry: documentation, the exception class and failed start-ups."""

import json
import os
import subprocess
import sys
import textwrap

import pytest

import orbitane
import orbitane.anatomy as anatomy

DOCUMENTATION = """
Orbitane Anatomy Plugin Python Bindings
=======================================

Core Functionality Areas
------------------------

**Anatomical Data Structures:**

- :class:`~orbitane.anatomy.AnatomicalStructure`: Individual anatomical structure with keypoints, planes, meshes, and images
- :class:`~orbitane.anatomy.AnatomicalStructureCollection`: Container for multiple anatomical structures
- :class:`~orbitane.anatomy.GenericASC`: Generic anatomical structure collection implementation

**Registration and Processing:**

- :class:`~orbitane.anatomy.ASCRegistration`: Registration between anatomical structure collections
- :class:`~orbitane.anatomy.GenerateLinearShapeModel`: Generate linear shape models from anatomical structure collections

Example Usage
-------------

**Basic anatomical structure access:**

>>> import orbitane.anatomy as anatomy
>>> import orbitane

>>> # Load anatomical structure collection
>>> asc = orbitane.open("anatomical_structures.orb")

>>> # Access individual anatomical structures
>>> num_structures = asc.num_anatomical_structures()
>>> print(f"Found {num_structures} anatomical structures")

>>> # Get structure by identifier
>>> liver = asc.anatomical_structure("liver")
>>> print(f"Liver identifier: {liver.identifier}")

>>> # Access keypoints using new interface
>>> keypoints = liver.keypoints2
>>> print(f"Available keypoints: {keypoints.keys()}")
>>> tip_point = keypoints["tip"]

>>> # Access meshes
>>> meshes = liver.meshes
>>> if "surface" in meshes:
...     surface_mesh = meshes["surface"]

**Working with transformations:**

>>> # Get transformation matrices
>>> world_to_local = liver.matrix_from_world
>>> local_to_world = liver.matrix_to_world

>>> # Transform keypoints to world coordinates
>>> world_tip = local_to_world @ tip_point

**Registration example:**

>>> # Load two anatomical structure collections
>>> fixed_asc = orbitane.open("template.orb")
>>> moving_asc = orbitane.open("patient.orb")

>>> # Create registration algorithm
>>> registration = anatomy.ASCRegistration(fixed_asc, moving_asc)
>>> registration.registration_method = anatomy.ASCRegistration.RegistrationMethod.PointsAndPlanes

>>> # Compute registration
>>> registration.compute()

**Creating anatomical structures from label maps:**

>>> # Load label image
>>> label_image = orbitane.open("segmentation.nii")

>>> # Define label mappings
>>> label_mapping = {1: "liver", 2: "kidney", 3: "spleen"}

>>> # Create generic ASC from label map
>>> asc = anatomy.generic_asc_from_label_map(label_image, label_mapping)

>>> # Access created structures
>>> liver = asc.anatomical_structure("liver")

**Shape model generation:**

>>> # Load mean shape template
>>> mean_shape = orbitane.open("mean_template.orb")

>>> # Create shape model generator
>>> shape_model_gen = anatomy.GenerateLinearShapeModel(mean_shape)

>>> # Configure input directory with training data
>>> shape_model_gen.p_inputDirectory = "/path/to/training/data"

>>> # Generate shape model
>>> results = shape_model_gen()
>>> shape_model = results["shape_model"]
>>> updated_mean = results.get("mean")

For detailed documentation of specific classes and functions, use Python's
built-in help() function or access the docstrings directly.

Note: This module requires the Orbitane Anatomy plugin to be properly installed.
"""


def test_documentation_is_exact():
    assert len(DOCUMENTATION) == 3319
    assert anatomy.__doc__ == DOCUMENTATION


class TestException:
    def test_is_a_direct_subclass_of_exception(self):
        cls = anatomy.AnatomicalStructureInvalidException
        assert cls.__bases__ == (Exception,)
        assert issubclass(cls, Exception) and not issubclass(cls, RuntimeError)

    def test_names_and_bare_class(self):
        cls = anatomy.AnatomicalStructureInvalidException
        assert cls.__module__ == "orbitane.anatomy"
        assert cls.__name__ == "AnatomicalStructureInvalidException"
        assert cls.__qualname__ == "AnatomicalStructureInvalidException"
        assert cls.__doc__ is None
        assert set(vars(cls)) <= {"__module__", "__weakref__", "__doc__", "__dict__"}

    def test_carries_its_message(self):
        with pytest.raises(anatomy.AnatomicalStructureInvalidException) as info:
            raise anatomy.AnatomicalStructureInvalidException("structure gone")
        assert str(info.value) == "structure gone"


def test_style_classes_are_created_with_their_documentation():
    expected = {
        "SelectorElem": "SelectorElem is a class for querying objects.",
        "Selector": "Selector is a class combining with logical OR multiple SelectorElem objects.",
        "StyleSheet": "Class for managing a logically grouped set of style rules.",
    }
    for name, doc in expected.items():
        cls = getattr(anatomy, name)
        assert cls.__doc__ == doc
        assert cls.__module__ == "orbitane.anatomy"
        assert cls.__bases__ != () and cls.__bases__[0].__name__ == "pybind11_object"


def test_parent_package_classes_stay_in_the_parent_package():
    assert "DataComponentList" not in vars(anatomy)
    assert not hasattr(anatomy, "DataComponentList")
    assert orbitane.anatomy is anatomy


def run_isolated(code):
    """Runs code in a fresh interpreter that finds the same package tree; returns its JSON output."""
    package_root = os.path.dirname(os.path.dirname(os.path.abspath(orbitane.__file__)))
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [package_root, env.get("PYTHONPATH")]))
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env,
                            capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    return json.loads(result.stdout.strip().splitlines()[-1])


def test_missing_graph_module_fails_the_import_and_leaves_no_module():
    outcome = run_isolated("""
        import gc, json, sys, types
        import orbitane
        graph = sys.modules.get("orbitane.graph")
        sys.modules["orbitane.graph"] = None
        try:
            import orbitane.anatomy
            error = None
        except ImportError as e:
            error = e
        first = {
            "type": type(error).__name__,
            "message": str(error),
            "cause": type(error.__cause__).__name__,
            "cause_names_graph": "orbitane.graph" in str(error.__cause__),
            "context_is_cause": error.__context__ is error.__cause__,
            "in_sys_modules": "orbitane.anatomy" in sys.modules,
            "on_package": hasattr(orbitane, "anatomy"),
        }
        del error
        gc.collect()
        first["module_objects_left"] = sum(
            isinstance(o, types.ModuleType) and o.__dict__.get("__name__") == "orbitane.anatomy"
            for o in gc.get_objects())
        if graph is None:
            del sys.modules["orbitane.graph"]
        else:
            sys.modules["orbitane.graph"] = graph
        import orbitane.anatomy
        first["retry_has_exception"] = hasattr(orbitane.anatomy, "AnatomicalStructureInvalidException")
        print(json.dumps(first))
    """)
    assert outcome == {
        "type": "ImportError",
        "message": "initialization failed",
        "cause": "ModuleNotFoundError",
        "cause_names_graph": True,
        "context_is_cause": True,
        "in_sys_modules": False,
        "on_package": False,
        "module_objects_left": 0,
        "retry_has_exception": True,
    }
