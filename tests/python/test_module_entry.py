"""The module entry: documentation, the exception class and failed start-ups."""

import hashlib

import pytest

import orbitane
import orbitane.anatomy as anatomy

# The documentation's text is held once, by the module's source. Its length and SHA-256 digest
# pin it here byte for byte: any change to the text, however small, fails the test, and the test
# no longer has to be edited in step with a second copy.
DOCUMENTATION_LENGTH = 3319
DOCUMENTATION_SHA256 = "dd7d0ba2dbeb08284f3302369ac35d6884519264646c39e0a70794e7dbbd010a"


def test_documentation_is_exact():
    doc = anatomy.__doc__
    assert type(doc) is str and len(doc) == DOCUMENTATION_LENGTH
    assert hashlib.sha256(doc.encode()).hexdigest() == DOCUMENTATION_SHA256


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


def test_missing_graph_module_fails_the_import_and_leaves_no_module(run_isolated):
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


def test_objects_whose_init_never_ran_refuse_their_members(run_isolated):
    # each use ran on unconstructed memory: crashes, garbage lengths, bad allocations
    refused = run_isolated("""
        import json, orbitane, orbitane.anatomy as A

        uses = {
            "GenericASC": lambda o: len(o),
            "GenericAnatomicalStructure": lambda o: o.identifier,
            "Selector": repr,
            "ASCRegistration": lambda o: o.compute(),
            "GenerateLinearShapeModel": lambda o: o(),
            "KeyValueDataWrapperVec3": len,
            "StyleSheet": lambda o: o.name,
            "Properties": len,
            "Mesh": lambda o: o.num_vertices,
            "LabelDataComponent": lambda o: o.labels(),
        }
        refused = {}
        for name, use in uses.items():
            cls = getattr(A, name, None) or getattr(orbitane, name)
            try:
                use(cls.__new__(cls))
                refused[name] = None
            except TypeError as e:
                refused[name] = str(e)
        # what __new__ makes is still usable once its __init__ has run, as unpickling needs
        late = orbitane.Properties.__new__(orbitane.Properties)
        late.__init__({"a": 1})
        refused["late init"] = late["a"]
        print(json.dumps(refused))
    """)
    assert refused.pop("late init") == 1
    # an inherited member names the class that binds it
    binding = {"ASCRegistration": "Algorithm"}
    for name, message in refused.items():
        cls = binding.get(name, name)
        assert message == f"{cls} object is not initialised: it was made by __new__() without __init__()", name
