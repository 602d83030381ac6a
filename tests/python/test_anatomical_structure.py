"""AnatomicalStructure and GenericAnatomicalStructure: members, deprecated keypoint access, frames
and the lifetime check."""

import gc
import logging
import warnings

import numpy as np
import pytest

import orbitane
import orbitane.anatomy as anatomy

DEPRECATED = "This method is deprecated, use 'keypoints2' instead."
STORE_LOGGER = "orbitane.AnatomyPlugin.KeyValueStore"


def translation(x, y, z):
    m = np.eye(4)
    m[:3, 3] = (x, y, z)
    return m


def rotation_z(angle):
    m = np.eye(4)
    c, s = np.cos(angle), np.sin(angle)
    m[:2, :2] = [[c, -s], [s, c]]
    return m


def mesh():
    return orbitane.Mesh(np.array([[0, 0, 0], [1, 0, 0], [0, 1, 0]], float), np.array([[0, 1, 2]]))


@pytest.fixture
def liver():
    s = anatomy.GenericAnatomicalStructure("liver")
    s.keypoints2.update({"a": [1, 2, 3], "b": [4, 5, 6]})
    return s


class Borrowed:
    """A structure from a collection; drop() destroys the collection, the only owner."""

    def __init__(self):
        self.asc = anatomy.GenericASC()
        self.asc.add(anatomy.GenericAnatomicalStructure("spleen"))
        self.structure = self.asc.anatomical_structure("spleen")

    def drop(self):
        self.asc = None
        gc.collect()


@pytest.fixture
def borrowed():
    return Borrowed()


def doc_text(function):
    signature, _, text = function.__doc__.partition("\n\n")
    return text


def deprecation_warnings(record):
    return [(w.category, str(w.message)) for w in record]


# ---- class -----------------------------------------------------------------------------------


class TestClass:
    def test_no_constructor_and_no_documentation(self):
        with pytest.raises(TypeError):
            anatomy.AnatomicalStructure()
        assert anatomy.AnatomicalStructure.__doc__ is None

    def test_members_in_registration_order(self):
        expected = ["valid", "keypoints", "get_keypoint", "set_keypoint", "remove_keypoint", "keypoints2", "planes",
                    "images", "meshes", "pointclouds", "graphs", "matrix_to_world", "matrix_from_world",
                    "identifier", "is_2d"]
        assert [n for n in vars(anatomy.AnatomicalStructure) if not n.startswith("_")] == expected

    def test_member_documentation(self):
        cls = anatomy.AnatomicalStructure
        assert cls.valid.__doc__ == ("Indicate whether the object is still valid, if invalid, member access raises "
                                     "an AnatomicalStructureInvalidException")
        assert cls.keypoints.__doc__ == ("Dictionary getter (of a copy of) and setter access for all keypoints. Use "
                                         "`get_keypoint` and `set_keypoint` for access to individual keypoints.")
        assert "\n\n" not in cls.get_keypoint.__doc__.strip()
        assert doc_text(cls.set_keypoint) == "Set or overwrite an existing keypoint\n"
        assert doc_text(cls.remove_keypoint) == "Remove a keypoint, raises KeyError if it does not exist\n"
        for name in ("keypoints", "planes", "images", "meshes", "pointclouds", "graphs"):
            prop = "keypoints2" if name == "keypoints" else name
            assert getattr(cls, prop).__doc__ == f"Key value access to {name}. Assignable from dict."
        assert cls.matrix_to_world.__doc__ == (
            "Access to 4x4 matrix representing transformation from local coordinate space of this structure to the "
            "world coordinate space.")
        assert cls.matrix_from_world.__doc__ == (
            "Access to 4x4 matrix representing transformation from world coordinate space to the local coordinate "
            "space of this structure.")
        assert cls.identifier.__doc__ == "Returns the identifier of the anatomical structure."
        assert cls.is_2d.__doc__ == "Returns true if the anatomical structure is 2D, false if it is 3D."

    def test_keypoint_arguments_are_positional(self, liver):
        with pytest.raises(TypeError):
            liver.set_keypoint(name="c", point=[0, 0, 0])
        with warnings.catch_warnings(record=True), pytest.raises(TypeError):
            liver.get_keypoint(name="a")

    def test_identifier_and_flag(self, borrowed):
        s = borrowed.structure
        assert s.identifier == "spleen"
        assert s.is_2d is False
        with pytest.raises(AttributeError):
            s.identifier = "other"
        assert type(s) is anatomy.AnatomicalStructure


# ---- deprecated keypoint members -------------------------------------------------------------


class TestDeprecatedKeypoints:
    def test_reading_gives_a_copy_and_warns_once(self, liver):
        with warnings.catch_warnings(record=True) as record:
            warnings.simplefilter("always")
            points = liver.keypoints
        assert deprecation_warnings(record) == [(UserWarning, DEPRECATED)]
        assert list(points) == ["a", "b"]
        assert points["a"].dtype == np.float64 and points["a"].shape == (3,)
        np.testing.assert_array_equal(points["b"], [4, 5, 6])
        points["a"][0] = 100
        points["c"] = np.zeros(3)
        np.testing.assert_array_equal(liver.keypoints2["a"], [1, 2, 3])
        assert "c" not in liver.keypoints2

    def test_assigning_replaces_the_whole_store(self, liver):
        with pytest.warns(UserWarning, match="deprecated"):
            liver.keypoints = {"a": [7, 8, 9], "c": (0, 0, 1)}
        assert liver.keypoints2.keys() == ["a", "c"]
        np.testing.assert_array_equal(liver.keypoints2["a"], [7, 8, 9])

    def test_a_failed_assignment_changes_nothing(self, liver):
        with warnings.catch_warnings(record=True), pytest.raises(RuntimeError):
            liver.keypoints = {"a": [0, 0, 0], "bad": "not a point", "c": [1, 1, 1]}
        with warnings.catch_warnings(record=True), pytest.raises(RuntimeError):
            liver.keypoints = {"a": [0, 0, 0], 5: [1, 1, 1]}
        assert liver.keypoints2.keys() == ["a", "b"]
        np.testing.assert_array_equal(liver.keypoints2["a"], [1, 2, 3])

    def test_assigning_survives_conversions_that_run_python_code(self, liver, borrowed, converts_after):
        Point = converts_after
        given = {f"p{i:02}": Point([i, 0, 0], lambda: given.clear()) for i in range(32)}
        with warnings.catch_warnings(record=True):
            liver.keypoints = given
        assert liver.keypoints2.keys() == [f"p{i:02}" for i in range(32)]
        np.testing.assert_array_equal(liver.keypoints2["p31"], [31, 0, 0])

        s = borrowed.structure
        with warnings.catch_warnings(record=True), pytest.raises(anatomy.AnatomicalStructureInvalidException) as error:
            s.keypoints = {"a": Point([1, 2, 3], borrowed.drop)}
        assert str(error.value) == "The anatomical structure is no longer valid: it was destroyed together with its owner"

    def test_assigning_needs_a_dict(self, liver):
        with pytest.raises(TypeError):
            liver.keypoints = [("a", [0, 0, 0])]

    def test_set_keypoint_does_not_warn(self, liver):
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            liver.set_keypoint("c", [1, 0, 0])
        with pytest.warns(UserWarning) as record:
            value = liver.get_keypoint("c")
        assert deprecation_warnings(record) == [(UserWarning, DEPRECATED)]
        assert value.dtype == np.float64 and value.shape == (3,)
        np.testing.assert_array_equal(value, [1, 0, 0])

    def test_a_nan_keypoint_is_refused_without_leaving_an_entry(self, liver, caplog):
        with caplog.at_level(logging.DEBUG, logger=STORE_LOGGER):
            liver.set_keypoint("new", [np.nan, 0, 0])
            liver.set_keypoint("a", [0, np.nan, 0])
        assert liver.keypoints2.keys() == ["a", "b"]
        np.testing.assert_array_equal(liver.keypoints2["a"], [1, 2, 3])
        messages = [r.getMessage() for r in caplog.records if r.name == STORE_LOGGER]
        assert messages == ["Attempted to insert invalid entry (nullptr/NaN) into KeyValueStore!"] * 2

    def test_missing_names(self, liver):
        with pytest.warns(UserWarning), pytest.raises(KeyError) as error:
            liver.get_keypoint("x")
        assert error.value.args[0] == "Keypoint 'x' not found"
        with pytest.warns(UserWarning) as record, pytest.raises(KeyError) as error:
            liver.remove_keypoint("x")
        assert error.value.args[0] == "Keypoint 'x' not found"
        assert deprecation_warnings(record) == [(UserWarning, DEPRECATED)]

    def test_remove(self, liver):
        with pytest.warns(UserWarning):
            assert liver.remove_keypoint("a") is None
        assert liver.keypoints2.keys() == ["b"]

    def test_warnings_as_errors_stop_before_the_structure_is_touched(self, liver):
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            with pytest.raises(UserWarning):
                liver.remove_keypoint("a")
            with pytest.raises(UserWarning):
                liver.keypoints = {}
        assert liver.keypoints2.keys() == ["a", "b"]


# ---- stores ----------------------------------------------------------------------------------


class TestStoreProperties:
    def test_every_read_gives_a_new_wrapper_over_the_same_store(self, liver):
        first, second = liver.keypoints2, liver.keypoints2
        assert first is not second
        first["c"] = [0, 0, 0]
        assert "c" in second

    def test_assigning_a_dict_replaces_the_store(self, liver):
        liver.keypoints2 = {"z": [0, 0, 1]}
        assert liver.keypoints2.keys() == ["z"]
        liver.meshes = {"m": mesh()}
        liver.meshes = {}
        assert len(liver.meshes) == 0
        liver.planes = {"p": [0, 0, 1, 0]}
        assert liver.planes.keys() == ["p"]

    def test_accessors_name_the_wrapper_classes(self):
        for prop, suffix in (("keypoints2", "Vec3"), ("planes", "Vec4"), ("images", "SharedImageSet"),
                             ("meshes", "Mesh"), ("pointclouds", "PointCloud"), ("graphs", "Graph")):
            accessor = getattr(anatomy.AnatomicalStructure, prop)
            assert accessor.fget.__doc__ == (
                f"(arg0: orbitane.anatomy.AnatomicalStructure) -> orbitane.anatomy.KeyValueDataWrapper{suffix}\n")
            assert accessor.fset.__doc__ == "(arg0: orbitane.anatomy.AnatomicalStructure, arg1: dict) -> None\n"

    def test_accessors_refuse_objects_that_are_no_structure(self):
        accessor = anatomy.AnatomicalStructure.keypoints2
        for other in (None, 5, anatomy.GenericASC(), anatomy.GenericAnatomicalStructure("x").planes):
            with pytest.raises(TypeError):
                accessor.fget(other)
            with pytest.raises(TypeError):
                accessor.fset(other, {})

    def test_structures_of_a_python_subclass(self):
        class Liver(anatomy.GenericAnatomicalStructure):
            pass

        s = Liver("liver")
        s.keypoints2["tip"] = [1, 2, 3]
        s.planes = {"p": [0, 0, 1, 0]}
        assert type(s.keypoints2) is anatomy.KeyValueDataWrapperVec3
        np.testing.assert_array_equal(s.keypoints2["tip"], [1, 2, 3])
        assert s.planes.keys() == ["p"]

    def test_assignment_refusals_keep_the_store(self, liver):
        liver.meshes = {"m": mesh()}
        with pytest.raises(ValueError):
            liver.meshes = {"n": mesh(), "o": None}
        with pytest.raises(ValueError):
            liver.meshes = {"n": 3}
        with pytest.raises(TypeError):
            liver.meshes = [("n", mesh())]
        assert liver.meshes.keys() == ["m"]
        with pytest.raises(AttributeError):
            del liver.meshes


# ---- frames ----------------------------------------------------------------------------------


class TestMatrices:
    def test_new_structures_sit_at_the_origin(self, liver):
        m = liver.matrix_to_world
        assert m.dtype == np.float64 and m.shape == (4, 4)
        np.testing.assert_array_equal(m, np.eye(4))
        m[0, 0] = 5
        np.testing.assert_array_equal(liver.matrix_to_world, np.eye(4))

    def test_from_world_is_the_inverse(self, liver):
        a = rotation_z(0.3) @ translation(1, 2, 3)
        liver.matrix_from_world = a
        np.testing.assert_allclose(liver.matrix_to_world, np.linalg.inv(a), atol=1e-12)
        np.testing.assert_allclose(liver.matrix_from_world, a, atol=1e-12)

    def test_contents_move_with_the_frame(self, liver):
        liver.planes["x1"] = [2, 0, 0, -2]    # x = 1, not normalised on purpose
        liver.meshes["m"] = mesh()
        liver.matrix_to_world = translation(10, 0, 0)
        np.testing.assert_allclose(liver.keypoints2["a"], [11, 2, 3])
        np.testing.assert_allclose(liver.planes["x1"], [2, 0, 0, -22])
        np.testing.assert_allclose(liver.meshes["m"].matrix_to_world, translation(10, 0, 0))
        # from x + 10 to a quarter turn: the points on x = 11 end up on y = 1
        liver.matrix_to_world = rotation_z(np.pi / 2)
        np.testing.assert_allclose(liver.keypoints2["a"], [-2, 1, 3], atol=1e-12)
        np.testing.assert_allclose(liver.planes["x1"], [0, 2, 0, -2], atol=1e-12)
        np.testing.assert_allclose(liver.meshes["m"].matrix_to_world, rotation_z(np.pi / 2), atol=1e-12)

    def test_refused_matrices_change_nothing(self, liver):
        liver.matrix_to_world = translation(1, 0, 0)
        singular = np.diag([1.0, 1.0, 0.0, 1.0])
        not_finite = translation(np.inf, 0, 0)
        for prop in ("matrix_to_world", "matrix_from_world"):
            for bad in (singular, not_finite, np.full((4, 4), np.nan)):
                with pytest.raises(ValueError) as error:
                    setattr(liver, prop, bad)
                assert str(error.value) == "The matrix of an anatomical structure must be finite and invertible"
        np.testing.assert_array_equal(liver.matrix_to_world, translation(1, 0, 0))
        np.testing.assert_array_equal(liver.keypoints2["a"], [2, 2, 3])

    def test_matrices_with_unusable_inverses_or_projective_rows_are_refused(self, liver):
        projective = np.eye(4)
        projective[3] = [0.0, 0.0, 0.5, 1.0]
        for bad in (np.eye(4) * 1e308, np.diag([1e-308, 1e-308, 1e-308, 1.0]), projective, np.eye(4) * 2):
            with pytest.raises(ValueError) as error:
                liver.matrix_to_world = bad
            assert str(error.value) == "The matrix of an anatomical structure must be finite and invertible"
        np.testing.assert_array_equal(liver.matrix_to_world, np.eye(4))
        np.testing.assert_array_equal(liver.keypoints2["a"], [1, 2, 3])

    def test_wrong_shapes_are_type_errors(self, liver):
        with pytest.raises(TypeError):
            liver.matrix_to_world = np.eye(3)
        with pytest.raises(TypeError):
            liver.matrix_from_world = "identity"


# ---- generic structures ----------------------------------------------------------------------


class TestGenericAnatomicalStructure:
    def test_class(self):
        cls = anatomy.GenericAnatomicalStructure
        assert cls.__doc__ == "Generic anatomical structure implementation."
        assert cls.__bases__ == (anatomy.AnatomicalStructure,)
        assert [n for n in vars(cls) if not n.startswith("_")] == ["identifier"]

    def test_construction(self):
        unnamed = anatomy.GenericAnatomicalStructure()
        assert unnamed.identifier == "unnamed"
        assert unnamed.valid is True
        assert isinstance(unnamed, anatomy.AnatomicalStructure)
        with pytest.raises(TypeError):
            anatomy.GenericAnatomicalStructure(5)
        with pytest.raises(TypeError):
            anatomy.GenericAnatomicalStructure("a", "b")

    def test_identifier_can_be_assigned(self):
        s = anatomy.GenericAnatomicalStructure("liver")
        assert s.identifier == "liver"
        s.identifier = "spleen"
        assert s.identifier == "spleen"
        with pytest.raises(TypeError):
            s.identifier = 5
        with pytest.raises(AttributeError):
            del s.identifier

    def test_names_that_are_not_utf8_are_refused(self, liver):
        refusals = (
            (lambda: anatomy.GenericAnatomicalStructure(b"\xfe"), "The identifier '\ufffd' is not valid UTF-8"),
            (lambda: setattr(liver, "identifier", b"liv\xffer"), "The identifier 'liv\ufffder' is not valid UTF-8"),
            (lambda: liver.set_keypoint(b"\xed\xa0\x80", [0, 0, 0]), "The key '\ufffd\ufffd\ufffd' is not valid UTF-8"),
            (lambda: setattr(liver, "keypoints", {"c": [0, 0, 0], b"\xff": [0, 0, 0]}),
             "The key '\ufffd' is not valid UTF-8"),
        )
        with pytest.warns(UserWarning):
            for refused, message in refusals:
                with pytest.raises(ValueError) as error:
                    refused()
                assert str(error.value) == message
        assert liver.identifier == "liver" and liver.keypoints2.keys() == ["a", "b"]

    def test_every_inherited_member_works(self, liver):
        liver.set_keypoint("c", [0, 0, 0])
        liver.images = {}
        liver.pointclouds = {}
        liver.graphs = {}
        assert liver.is_2d is False
        assert liver.keypoints2.keys() == ["a", "b", "c"]


# ---- lifetime --------------------------------------------------------------------------------


def structure_members():
    """Every member but `valid`, with valid arguments; the flag says whether it warns first."""
    return {
        "keypoints get": (True, lambda s: s.keypoints),
        "keypoints set": (True, lambda s: setattr(s, "keypoints", {})),
        "get_keypoint": (True, lambda s: s.get_keypoint("a")),
        "set_keypoint": (False, lambda s: s.set_keypoint("a", [0, 0, 0])),
        "remove_keypoint": (True, lambda s: s.remove_keypoint("a")),
        **{f"{p} get": (False, lambda s, p=p: getattr(s, p))
           for p in ("keypoints2", "planes", "images", "meshes", "pointclouds", "graphs")},
        **{f"{p} set": (False, lambda s, p=p: setattr(s, p, {}))
           for p in ("keypoints2", "planes", "images", "meshes", "pointclouds", "graphs")},
        "matrix_to_world get": (False, lambda s: s.matrix_to_world),
        "matrix_to_world set": (False, lambda s: setattr(s, "matrix_to_world", np.eye(4))),
        "matrix_from_world get": (False, lambda s: s.matrix_from_world),
        "matrix_from_world set": (False, lambda s: setattr(s, "matrix_from_world", np.eye(4))),
        "identifier": (False, lambda s: s.identifier),
        "is_2d": (False, lambda s: s.is_2d),
    }


class TestVanishedStructure:
    def test_structures_from_a_collection_are_valid_while_it_lives(self, borrowed):
        s = borrowed.structure
        assert s.valid is True
        borrowed.drop()
        assert s.valid is False

    def test_every_member_but_valid_raises(self, borrowed):
        s = borrowed.structure
        borrowed.drop()
        for name, (warns, call) in structure_members().items():
            with warnings.catch_warnings(record=True) as record:
                warnings.simplefilter("always")
                with pytest.raises(anatomy.AnatomicalStructureInvalidException) as error:
                    call(s)
            assert str(error.value) == (
                "The anatomical structure is no longer valid: it was destroyed together with its owner"), name
            assert deprecation_warnings(record) == ([(UserWarning, DEPRECATED)] if warns else []), name

    def test_wrappers_taken_before_become_invalid_too(self, borrowed):
        s = borrowed.structure
        wrappers = [s.keypoints2, s.planes, s.images, s.meshes, s.pointclouds, s.graphs]
        attributes = [w.attributes for w in wrappers]
        borrowed.drop()
        for w, a in zip(wrappers, attributes):
            assert w.valid is False
            with pytest.raises(anatomy.AnatomicalStructureInvalidException):
                w.keys()
            with pytest.raises(anatomy.AnatomicalStructureInvalidException):
                a["k"]
            assert isinstance(w.attributes, type(a)), "the property itself does not check"
