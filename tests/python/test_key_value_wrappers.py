"""The six key-value wrapper classes: mapping protocol, copy-on-cross, messages and lifetime checks."""

import gc
import logging

import numpy as np
import pytest

import orbitane
import orbitane.anatomy as anatomy
from orbitane.graph import Graph

WRAPPER_DOC = (
    "KeyValueDataWrapper encapsulates a key-value store `KeyValueStore` holding data of type `T` with specific "
    "type handling. \n"
    "It provides a Python-friendly interface to access and manipulate data stored in a KeyValueStore \n"
    "using string-based keys. The KeyValueDataWrapper ensures that the data is still valid when accessed and\n"
    "raises an `AnatomicalStructureInvalidException` if the data is no longer valid.\n"
    "Data are copied or cloned to ensure that the data is still valid when the python object is used, \n"
    "except for shared_ptr value types indicated by the `mutable_return_values` attribute.\n"
    "\n"
    "Parameters:\n"
    "\tdata_store (KeyValueStore): A reference to the KeyValueStore that holds the actual data.\n"
    "\tanatomical_structure (AnatomicalStructureWrapper): A reference to an anatomical structure, providing "
    "context.\n"
    "\tidentifier (str): A unique identifier for this data wrapper instance, used for logging or tracking."
)
NULL_MESSAGE = "Cannot set a null shared_ptr to a KeyValueStore expecting unique_ptr"
INVALID_PRESENT = "Invalid entry (nullptr/NaN) present in KeyValueStore"
STORE_LOGGER = "orbitane.AnatomyPlugin.KeyValueStore"


def mesh(shift=0.0):
    return orbitane.Mesh(np.array([[0, 0, 0], [1, 0, 0], [0, 1, 0]], float) + shift, np.array([[0, 1, 2]]))


def cloud(shift=0.0):
    return orbitane.PointCloud(np.array([[0, 0, 0], [1, 2, 3]], float) + shift)


def graph(shift=0.0):
    return Graph(np.array([[0, 0, 0], [0, 0, 1]], float) + shift, np.array([[0, 1]]))


def images(shift=0.0):
    return orbitane.SharedImageSet(np.full((2, 3, 4), shift, dtype=np.float32))


class Kind:
    """One wrapper class: how to make an element of it and how to read its content back."""

    def __init__(self, prop, suffix, store, make, content):
        self.prop, self.suffix, self.store, self.make, self.content = prop, suffix, store, make, content
        self.cls = getattr(anatomy, "KeyValueDataWrapper" + suffix)

    def __repr__(self):
        return self.suffix


KINDS = [
    Kind("keypoints2", "Vec3", "keypoints", lambda s=0.0: np.array([1.0, 2.0, 3.0]) + s, lambda v: np.asarray(v)),
    Kind("planes", "Vec4", "planes", lambda s=0.0: np.array([0.0, 0.0, 1.0, -2.0]) + s, lambda v: np.asarray(v)),
    Kind("images", "SharedImageSet", "images", images, lambda i: i.array()),
    Kind("meshes", "Mesh", "meshes", mesh, lambda m: m.vertices),
    Kind("pointclouds", "PointCloud", "pointclouds", cloud, lambda c: c.points),
    Kind("graphs", "Graph", "graphs", graph, lambda g: g.nodes),
]
OBJECT_KINDS = KINDS[2:]


@pytest.fixture
def structure():
    return anatomy.GenericAnatomicalStructure("liver")


@pytest.fixture(params=KINDS, ids=repr)
def kind(request):
    return request.param


@pytest.fixture(params=OBJECT_KINDS, ids=repr)
def object_kind(request):
    return request.param


@pytest.fixture
def every_level():
    """The platform log lets every message through for the duration of a test."""
    previous = orbitane.get_log_level()
    orbitane.set_log_level(0)
    yield
    orbitane.set_log_level(previous)


def store_of(structure, kind):
    return getattr(structure, kind.prop)


def same_content(kind, a, b):
    return np.array_equal(kind.content(a), kind.content(b))


def doc_text(function):
    """The docstring that the binding sets, without the generated signature line."""
    signature, _, text = function.__doc__.partition("\n\n")
    return text


# ---- classes ---------------------------------------------------------------------------------


class TestClasses:
    def test_every_class_carries_the_same_documentation(self, kind):
        assert kind.cls.__doc__ == WRAPPER_DOC
        assert len(kind.cls.__doc__) == 901
        assert kind.cls._Attributes.__doc__ == "Attributes of KeyValueDataWrapper's elements."

    def test_classes_cannot_be_constructed(self, kind):
        with pytest.raises(TypeError):
            kind.cls()
        with pytest.raises(TypeError):
            kind.cls._Attributes()

    def test_members_in_registration_order(self, kind):
        expected = ["valid", "mutable_return_values", "__getitem__", "__setitem__", "__delitem__", "__contains__",
                    "__bool__", "__len__", "__iter__", "__repr__", "keys", "values", "asdict", "from_dict",
                    "update", "__ior__", "attributes"]
        names = [n for n in vars(kind.cls) if n in expected]
        assert names == expected
        for absent in ("get", "pop", "items", "clear", "__eq__", "__getstate__"):
            assert absent not in vars(kind.cls)

    def test_member_documentation(self, kind):
        cls = kind.cls
        assert cls.valid.__doc__ == "Indicate whether the anatomical structure object is still valid."
        assert cls.mutable_return_values.__doc__ == "Indicate whether the KeyValueDataWrapper returns mutable values."
        assert cls.attributes.__doc__ == "Attributes of KeyValueDataWrapper's elements."
        assert doc_text(cls.keys) == "Get a list of all keys.\n"
        assert doc_text(cls.values) == "Get a list of all values.\n"
        assert doc_text(cls.asdict) == "Convert the key-value store into a dictionary.\n"
        assert doc_text(cls.from_dict) == "Set the key-value store from a dictionary.\n"
        assert doc_text(cls.update) == "Update the key-value store from a dictionary.\n"
        assert doc_text(cls.__ior__) == '"Implements the |= operator functionality.\n'
        assert "dict_in: dict, clear: bool = True" in cls.from_dict.__doc__

    def test_properties_give_the_matching_class(self, structure, kind):
        wrapper = store_of(structure, kind)
        assert type(wrapper) is kind.cls
        assert wrapper.valid is True
        assert wrapper.mutable_return_values is False
        assert store_of(structure, kind) is not wrapper
        assert isinstance(wrapper.attributes, kind.cls._Attributes)


# ---- mapping protocol ------------------------------------------------------------------------


class TestMapping:
    def test_set_get_contains_len_bool(self, structure, kind):
        w = store_of(structure, kind)
        assert len(w) == 0 and not w and "a" not in w
        w["a"] = kind.make()
        assert len(w) == 1 and bool(w) and "a" in w and "b" not in w
        assert same_content(kind, w["a"], kind.make())
        w["a"] = kind.make(5.0)
        assert len(w) == 1
        assert same_content(kind, w["a"], kind.make(5.0))
        assert same_content(kind, store_of(structure, kind)["a"], kind.make(5.0)), "wrappers share the store"

    def test_delete(self, structure, kind):
        w = store_of(structure, kind)
        w["a"] = kind.make()
        w["b"] = kind.make()
        del w["a"]
        assert w.keys() == ["b"]

    def test_missing_keys_list_what_is_there(self, structure, kind):
        w = store_of(structure, kind)
        with pytest.raises(KeyError) as empty:
            w["x"]
        assert empty.value.args[0] == "Key 'x' not found. Available keys: "
        w["b"] = kind.make()
        w["a"] = kind.make()
        with pytest.raises(KeyError) as get:
            w["x"]
        assert get.value.args[0] == "Key 'x' not found. Available keys: a, b"
        with pytest.raises(KeyError) as delete:
            del w["x"]
        assert delete.value.args[0] == "Key 'x' not found. Available keys: a, b"
        assert w.keys() == ["a", "b"]

    def test_keys_order_byte_wise_everywhere(self, structure, kind):
        w = store_of(structure, kind)
        for key in ("ab", "a", "B", "\u00e9"):
            w[key] = kind.make()
        expected = ["B", "a", "ab", "\u00e9"]
        assert w.keys() == expected
        assert list(w) == expected
        assert list(w.asdict()) == expected
        assert len(w.values()) == 4
        assert repr(w) == f"<KeyValueDataWrapper for {kind.store}, Keys: ['B','a','ab','\u00e9'] >"

    def test_repr_of_an_empty_store(self, structure, kind):
        assert repr(store_of(structure, kind)) == f"<KeyValueDataWrapper for {kind.store}, Keys: [] >"

    def test_values_and_asdict_hold_copies(self, structure, kind):
        w = store_of(structure, kind)
        w["a"] = kind.make(1.0)
        w["b"] = kind.make(2.0)
        values = w.values()
        d = w.asdict()
        assert [same_content(kind, v, kind.make(s)) for v, s in zip(values, (1.0, 2.0))] == [True, True]
        assert isinstance(d, dict) and same_content(kind, d["b"], kind.make(2.0))
        del w["a"]
        assert len(values) == 2 and "a" in d, "results are independent of the store"

    def test_element_members_refuse_another_self(self, structure, kind):
        other = structure.keypoints2 if kind.suffix == "Vec4" else structure.planes
        calls = {"__getitem__": ("a",), "__setitem__": ("a", kind.make()), "__delitem__": ("a",),
                 "__contains__": ("a",), "__bool__": (), "__len__": ()}
        for name, arguments in calls.items():
            for wrong in (other, structure, None, 5):
                with pytest.raises(TypeError):
                    getattr(kind.cls, name)(wrong, *arguments)

    def test_keys_from_bytes_are_taken_byte_for_byte(self, structure):
        w = structure.keypoints2
        w[b"raw"] = [1, 2, 3]
        assert w.keys() == ["raw"]
        assert b"raw" in w

    def test_keys_that_are_not_utf8_are_refused_where_they_enter(self, structure, kind):
        w = store_of(structure, kind)
        w["good"] = kind.make()
        for enter, shown in ((lambda: w.__setitem__(b"\xff", kind.make()), "\ufffd"),
                             (lambda: w.update({"a": kind.make(), b"b\xfe": kind.make()}), "b\ufffd"),
                             (lambda: setattr(structure, kind.prop, {b"\xc0\xaf": kind.make()}), "\ufffd\ufffd")):
            with pytest.raises(ValueError) as error:
                enter()
            assert str(error.value) == f"The key '{shown}' is not valid UTF-8"
        assert w.keys() == ["good"] and repr(w) == f"<KeyValueDataWrapper for {kind.store}, Keys: ['good'] >"

    def test_arguments_of_the_wrong_type(self, structure, kind):
        w = store_of(structure, kind)
        with pytest.raises(TypeError):
            w[1] = kind.make()
        with pytest.raises(TypeError):
            w["a"] = "not an element"
        with pytest.raises(TypeError):
            w[3]
        with pytest.raises(TypeError):
            w.from_dict([("a", kind.make())])
        with pytest.raises(TypeError):
            w |= [("a", kind.make())]
        assert len(w) == 0


class TestVectors:
    def test_keypoints_cross_as_new_arrays(self, structure):
        w = structure.keypoints2
        source = [1, 2, 3]
        w["a"] = source
        value = w["a"]
        assert value.dtype == np.float64 and value.shape == (3,)
        np.testing.assert_array_equal(value, [1.0, 2.0, 3.0])
        value[0] = 99
        assert w["a"][0] == 1.0
        assert w["a"] is not w["a"]
        assert value.flags.writeable

    @pytest.mark.parametrize("prop, size", [("keypoints2", 3), ("planes", 4)])
    def test_every_read_gives_an_array_of_its_own(self, prop, size):
        s = anatomy.GenericAnatomicalStructure("liver")
        w = getattr(s, prop)
        w["a"] = np.arange(size)
        w["b"] = np.arange(size) + 10
        reads = [w["a"], w["a"], w.values()[0], w.asdict()["a"]]
        for value in reads:
            assert value.dtype == np.float64 and value.shape == (size,)
            assert value.flags.writeable and value.flags.c_contiguous
        for i, first in enumerate(reads):
            assert not any(np.shares_memory(first, second) for second in reads[i + 1:])
        reads[0][:] = -1
        np.testing.assert_array_equal(w["a"], np.arange(size))
        del s, w
        gc.collect()
        assert all(np.array_equal(value, np.arange(size)) for value in reads[1:]), "the arrays outlive the store"

    def test_signatures_show_the_vector_types(self):
        def returned(function):
            return function.__doc__.partition("\n")[0].rpartition(" -> ")[2]

        vec3 = returned(anatomy.AnatomicalStructure.get_keypoint)
        vec4 = vec3.replace("[3, 1]", "[4, 1]")
        assert "[3, 1]" in vec3
        for cls, vector in ((anatomy.KeyValueDataWrapperVec3, vec3), (anatomy.KeyValueDataWrapperVec4, vec4)):
            assert returned(cls.__getitem__) == vector
            assert returned(cls.values) == f"list[{vector}]"
            assert returned(cls.asdict) == f"dict[str, {vector}]"

    def test_a_nan_keypoint_removes_the_key_silently(self, structure, caplog):
        w = structure.keypoints2
        w["a"] = [1, 2, 3]
        with caplog.at_level(logging.DEBUG, logger=STORE_LOGGER):
            w["a"] = [np.nan, 0, 0]
            w["never"] = [0, np.nan, 0]
        assert "a" not in w and "never" not in w
        assert caplog.records == []

    def test_infinite_keypoints_are_kept(self, structure):
        structure.keypoints2["far"] = [np.inf, 0, -np.inf]
        np.testing.assert_array_equal(structure.keypoints2["far"], [np.inf, 0, -np.inf])

    def test_planes_keep_nan(self, structure):
        w = structure.planes
        w["p"] = [np.nan, 1, 2, 3]
        value = w["p"]
        assert value.shape == (4,) and np.isnan(value[0])
        np.testing.assert_array_equal(value[1:], [1, 2, 3])

    def test_vectors_of_the_wrong_size(self, structure):
        with pytest.raises(TypeError):
            structure.keypoints2["a"] = [1, 2, 3, 4]
        with pytest.raises(TypeError):
            structure.planes["a"] = [1, 2, 3]


class TestObjects:
    def test_assignment_stores_a_copy(self, structure, object_kind):
        w = store_of(structure, object_kind)
        element = object_kind.make()
        element.name = "original"
        w["a"] = element
        element.name = "changed afterwards"
        element.matrix_to_world = np.diag([2.0, 2.0, 2.0, 1.0])
        first, second = w["a"], w["a"]
        assert first is not second
        assert type(first) is type(element)
        assert first.name == "original"
        np.testing.assert_array_equal(first.matrix_to_world, np.eye(4))
        first.name = "changed copy"
        assert w["a"].name == "original"

    def test_mesh_content_changes_do_not_reach_the_store(self, structure):
        m = mesh()
        structure.meshes["a"] = m
        m.vertices = np.zeros((3, 3))
        np.testing.assert_array_equal(structure.meshes["a"].vertices, mesh().vertices)

    def test_none_is_refused_and_changes_nothing(self, structure, object_kind):
        w = store_of(structure, object_kind)
        w["a"] = object_kind.make()
        with pytest.raises(ValueError) as error:
            w["a"] = None
        assert str(error.value) == NULL_MESSAGE
        with pytest.raises(ValueError) as error:
            w["b"] = None
        assert str(error.value) == NULL_MESSAGE
        assert w.keys() == ["a"]
        assert same_content(object_kind, w["a"], object_kind.make())

    def test_an_entry_without_object_reads_as_none_and_can_be_deleted(self, structure, object_kind):
        w = store_of(structure, object_kind)
        w.attributes["empty"]
        assert "empty" in w and len(w) == 1
        assert w["empty"] is None
        assert w.values() == [None]
        assert w.asdict() == {"empty": None}
        del w["empty"]
        assert len(w) == 0

    def test_an_entry_without_object_takes_a_value_later(self, structure, object_kind):
        w = store_of(structure, object_kind)
        w.attributes["later"]
        w["later"] = object_kind.make(3.0)
        assert same_content(object_kind, w["later"], object_kind.make(3.0))


# ---- replacing from a dict -------------------------------------------------------------------


class TestFromDict:
    def test_from_dict_replaces_update_and_ior_merge(self, structure, kind):
        w = store_of(structure, kind)
        w["old"] = kind.make()
        w.from_dict({"a": kind.make(1.0)})
        assert w.keys() == ["a"]
        w.from_dict({"b": kind.make(2.0)}, clear=False)
        assert w.keys() == ["a", "b"]
        w.update({"c": kind.make(3.0), "a": kind.make(4.0)})
        assert w.keys() == ["a", "b", "c"]
        assert same_content(kind, w["a"], kind.make(4.0))
        same = w
        w |= {"d": kind.make()}
        assert w is same
        assert w.keys() == ["a", "b", "c", "d"]
        w.from_dict({})
        assert len(w) == 0

    def test_from_dict_accepts_dict_subclasses(self, structure, kind):
        class Sub(dict):
            pass

        w = store_of(structure, kind)
        w.from_dict(Sub(x=kind.make()))
        assert w.keys() == ["x"]

    def test_a_none_value_is_refused_before_anything_changes(self, structure, object_kind):
        w = store_of(structure, object_kind)
        w["keep"] = object_kind.make()
        for call in (lambda d: w.from_dict(d), lambda d: w.from_dict(d, clear=False), w.update, w.__ior__):
            with pytest.raises(ValueError) as error:
                call({"a": object_kind.make(), "b": None})
            assert str(error.value) == NULL_MESSAGE
            assert w.keys() == ["keep"]

    def test_unconvertible_values_and_keys_change_nothing(self, structure, kind):
        w = store_of(structure, kind)
        w["keep"] = kind.make()
        for bad in ({"a": kind.make(), "b": 5}, {"a": kind.make(), 7: kind.make()}):
            with pytest.raises(ValueError) as error:
                w.from_dict(bad, clear=True)
            assert str(error.value).startswith("Type mismatch in dictionary conversion: ")
            assert w.keys() == ["keep"]

    def test_the_conversion_error_names_the_python_type(self, structure):
        with pytest.raises(ValueError) as error:
            structure.meshes.from_dict({"a": 5})
        assert "<class 'int'>" in str(error.value)

    @pytest.mark.parametrize("vector_kind", KINDS[:2], ids=repr)
    @pytest.mark.parametrize(
        "assign",
        [
            lambda kind, s, d: store_of(s, kind).from_dict(d),
            lambda kind, s, d: store_of(s, kind).update(d),
            lambda kind, s, d: store_of(s, kind).__ior__(d),
            lambda kind, s, d: setattr(s, kind.prop, d),
        ],
        ids=["from_dict", "update", "ior", "property setter"],
    )
    def test_a_conversion_that_ends_the_structure_is_caught(self, vector_kind, assign, converts_after):
        owner = [anatomy.GenericASC()]
        owner[0].add(anatomy.GenericAnatomicalStructure("liver"))
        s = owner[0].anatomical_structure("liver")

        def end_structure():
            owner.clear()
            gc.collect()

        with pytest.raises(anatomy.AnatomicalStructureInvalidException) as error:
            assign(vector_kind, s, {"a": converts_after(vector_kind.make(), end_structure)})
        assert str(error.value) == f"AnatomicalStructure holding {vector_kind.store} key value store is no longer valid"

    @pytest.mark.parametrize("vector_kind", KINDS[:2], ids=repr)
    def test_a_conversion_that_empties_the_dict_still_stores_all_of_it(self, structure, vector_kind, converts_after):
        given = {}
        for i in range(32):
            given[f"point {i:02}"] = converts_after(vector_kind.make(i), given.clear)
        store_of(structure, vector_kind).from_dict(given)
        assert given == {}
        w = store_of(structure, vector_kind)
        assert w.keys() == [f"point {i:02}" for i in range(32)]
        assert same_content(vector_kind, w["point 31"], vector_kind.make(31))

    def test_nan_keypoints_in_a_dict_remove_their_key(self, structure):
        w = structure.keypoints2
        w["a"] = [1, 2, 3]
        w.update({"a": [np.nan, 0, 0], "b": [4, 5, 6]})
        assert w.keys() == ["b"]


# ---- iteration -------------------------------------------------------------------------------


class TestIteration:
    def test_iterators_walk_a_snapshot(self, structure, kind):
        w = store_of(structure, kind)
        for key in "abc":
            w[key] = kind.make()
        seen = []
        for key in w:
            seen.append(key)
            if key == "a":
                del w["b"]
                w["z"] = kind.make()
        assert seen == ["a", "b", "c"]
        assert w.keys() == ["a", "c", "z"]

    def test_the_iterator_keeps_its_wrapper_alive(self, structure):
        structure.keypoints2["k"] = [0, 0, 0]
        it = iter(structure.keypoints2)
        gc.collect()
        assert list(it) == ["k"]


# ---- attributes ------------------------------------------------------------------------------


class TestAttributes:
    def test_indexing_creates_the_entry_and_gives_a_copy(self, structure, kind):
        w = store_of(structure, kind)
        attributes = w.attributes["new"]
        assert isinstance(attributes, orbitane.Properties)
        assert len(attributes) == 0
        assert w.keys() == ["new"] and len(w) == 1
        attributes["colour"] = 3
        assert len(w.attributes["new"]) == 0, "changing the copy leaves the entry alone"

    def test_entries_without_value_are_logged(self, structure, caplog, every_level):
        with caplog.at_level(logging.DEBUG, logger=STORE_LOGGER):
            structure.keypoints2.attributes["k"]
            structure.planes.attributes["p"]
            structure.meshes.attributes["m"]
            structure.keypoints2["ok"] = [0, 0, 0]
            structure.keypoints2.attributes["ok"]
        messages = [(r.name, r.levelno, r.getMessage()) for r in caplog.records]
        assert messages == [(STORE_LOGGER, logging.WARNING, INVALID_PRESENT)] * 2

    def test_a_new_keypoint_entry_reads_as_nan(self, structure):
        structure.keypoints2.attributes["k"]
        assert np.isnan(structure.keypoints2["k"]).all()


# ---- lifetime --------------------------------------------------------------------------------


def guarded_calls(kind):
    """Every member that has to check the structure first, with valid arguments."""
    return {
        "__getitem__": lambda w: w["a"],
        "__setitem__": lambda w: w.__setitem__("a", kind.make()),
        "__delitem__": lambda w: w.__delitem__("a"),
        "__contains__": lambda w: "a" in w,
        "__bool__": lambda w: bool(w),
        "__len__": lambda w: len(w),
        "__iter__": lambda w: iter(w),
        "__repr__": lambda w: repr(w),
        "keys": lambda w: w.keys(),
        "values": lambda w: w.values(),
        "asdict": lambda w: w.asdict(),
        "from_dict": lambda w: w.from_dict({"a": kind.make()}),
        "update": lambda w: w.update({"a": kind.make()}),
        "__ior__": lambda w: w.__ior__({"a": kind.make()}),
        "attributes item": lambda w: w.attributes["a"],
    }


class TestVanishedStructure:
    @pytest.fixture
    def orphaned(self, kind):
        """A wrapper whose structure died with its owner, and an iterator taken before."""
        s = anatomy.GenericAnatomicalStructure("liver")
        w = store_of(s, kind)
        w["a"] = kind.make()
        w["b"] = kind.make()
        it = iter(w)
        del s
        gc.collect()
        return w, it

    def test_every_guarded_member_raises(self, orphaned, kind):
        w, _ = orphaned
        assert w.valid is False
        assert w.mutable_return_values is False
        expected = f"AnatomicalStructure holding {kind.store} key value store is no longer valid"
        for name, call in guarded_calls(kind).items():
            with pytest.raises(anatomy.AnatomicalStructureInvalidException) as error:
                call(w)
            assert str(error.value) == expected, name

    def test_argument_errors_come_first(self, orphaned):
        w, _ = orphaned
        with pytest.raises(TypeError):
            w[5]
        with pytest.raises(TypeError):
            w.from_dict(5)

    def test_earlier_iterators_keep_their_snapshot(self, orphaned):
        _, it = orphaned
        assert list(it) == ["a", "b"]

    def test_wrappers_from_a_collection_die_with_it(self, kind):
        source = anatomy.GenericAnatomicalStructure("liver")
        asc = anatomy.GenericASC()
        asc.add(source)
        w = store_of(asc.anatomical_structure("liver"), kind)
        w["a"] = kind.make()
        assert "a" not in store_of(source, kind)
        del asc
        gc.collect()
        assert w.valid is False
        with pytest.raises(anatomy.AnatomicalStructureInvalidException):
            len(w)
        assert store_of(source, kind).valid is True

    @pytest.mark.parametrize("assign", [
        lambda w, m: w.__setitem__("n", m),
        lambda w, m: w.from_dict({"n": m}),
    ], ids=["set", "from_dict"])
    def test_the_end_of_the_structure_while_a_mesh_is_copied_in_is_reported(self, assign):
        # the copy of a component defined in Python runs Python code, here code that ends the structure
        class EndsTheStructure:
            def __deepcopy__(self, memo):
                if armed:
                    armed.clear()
                    owners.clear()
                    gc.collect()
                return self

        class Ending(orbitane.DataComponentBase):
            def __init__(self):
                super().__init__()
                self.trigger = EndsTheStructure()

        armed = []
        owners = [anatomy.GenericASC()]
        owners[0].add(anatomy.GenericAnatomicalStructure("liver"))
        w = owners[0].anatomical_structure("liver").meshes
        m = mesh()
        m.components.add(Ending())
        armed.append(True)
        with pytest.raises(anatomy.AnatomicalStructureInvalidException) as error:
            assign(w, m)
        assert str(error.value) == "AnatomicalStructure holding meshes key value store is no longer valid"
        assert not armed and not owners



class EmptiesTheCollection:
    """Empties `collection` when it is deep-copied while armed."""

    def __init__(self, collection, armed):
        self.collection, self.armed = collection, armed

    def __deepcopy__(self, memo):
        if self.armed:
            self.armed.clear()
            while len(self.collection):
                self.collection.pop(0)
            gc.collect()
        return self


class Marked(orbitane.DataComponentBase):
    def __init__(self, trigger=None):
        super().__init__()
        self.trigger, self.notes = trigger, ["original"]

    @property
    def id(self):
        if self.trigger:
            self.trigger.__deepcopy__({})
        return "Marked"


def meshes_of(asc):
    return [asc.anatomical_structure(i).meshes["m"] for i in range(len(asc))]


def added_elsewhere(asc, arm, path):
    other = anatomy.GenericASC()
    arm()
    other.add(asc.anatomical_structure("liver"))
    return meshes_of(other)


def saved_and_opened(asc, arm, path):
    arm()
    orbitane.save(asc, path)
    return meshes_of(orbitane.open(path))


def registered_deformably(asc, arm, path):
    fixed = anatomy.GenericASC()
    fixed.add(asc.anatomical_structure("liver"))
    r = anatomy.ASCRegistration(fixed, asc)
    r.registration_method = anatomy.ASCRegistration.RegistrationMethod.DeformableMeshRegistration
    arm()
    r.compute()
    assert r.status == 0
    return []


@pytest.mark.parametrize("copy_out", [
    lambda asc, arm, path: arm() or [asc.anatomical_structure("liver").meshes["m"]],
    lambda asc, arm, path: arm() or asc.anatomical_structure("liver").meshes.values(),
    lambda asc, arm, path: arm() or meshes_of(asc.clone()),
    added_elsewhere, saved_and_opened, registered_deformably,
], ids=["get", "values", "clone", "add", "save", "deformable registration"])
def test_python_code_run_by_a_copy_cannot_free_what_is_being_copied(copy_out, tmp_path):
    # The deep copy (or the id) of a component defined in Python runs Python code, here code that
    # empties the collection being copied or saved; the copy is made in full first.
    z, y, x = np.indices((10, 12, 14))
    inside = ((x - 6.5) / 5) ** 2 + ((y - 5.5) / 4) ** 2 + ((z - 4.5) / 3.5) ** 2 <= 1
    labels = orbitane.SharedImageSet(inside.astype(np.uint8), modality=orbitane.Modality.LABEL)
    converted = anatomy.generic_asc_from_label_map(labels, {1: "liver"})
    asc, armed = anatomy.GenericASC(), []
    for name in ("liver", "spleen"):
        m = converted.anatomical_structure("liver").meshes.values()[0]
        m.components.add(Marked(EmptiesTheCollection(asc, armed)))
        s = anatomy.GenericAnatomicalStructure(name)
        s.meshes["m"] = m
        asc.add(s)
    vertices = asc.anatomical_structure("liver").meshes["m"].vertices
    copies = copy_out(asc, lambda: armed.append(True), str(tmp_path / "c.orb"))
    assert copies or copy_out is registered_deformably
    marks = [c for m in copies for c in m.components if isinstance(c, Marked)]
    for m in copies:
        np.testing.assert_array_equal(m.vertices, vertices)
    assert all(c.notes == ["original"] for c in marks) and len({id(c.notes) for c in marks}) == len(marks)
