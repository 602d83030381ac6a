"""AnatomicalStructureCollection and GenericASC: lookup, add, pop, clone, representations and the
lifetime of the structures they hand out."""

import gc
import weakref

import numpy as np
import pytest

import orbitane
import orbitane.anatomy as anatomy

ASC = anatomy.AnatomicalStructureCollection
GONE = "The anatomical structure is no longer valid: it was destroyed together with its owner"


def structure(identifier, **keypoints):
    s = anatomy.GenericAnatomicalStructure(identifier)
    s.keypoints2.update(keypoints)
    return s


def filled():
    c = anatomy.GenericASC()
    c.add(structure("liver", tip=[1, 2, 3]))
    c.add(structure("spleen"))
    c.add(structure("kidney"))
    return c


@pytest.fixture
def asc():
    return filled()


def doc_text(function):
    signature, _, text = function.__doc__.partition("\n\n")
    return text


class TestClasses:
    def test_collection_class(self):
        assert ASC.__doc__ == ("AnatomicalStructureCollection provides an interface for managing collections of "
                               "AnatomicalStructure objects.")
        assert ASC.__bases__ == (orbitane.Data,)
        with pytest.raises(TypeError):
            ASC()
        expected = ["__repr__", "clone", "num_anatomical_structures", "__len__", "add", "pop",
                    "anatomical_structure_identifiers", "anatomical_structure"]
        assert [n for n in vars(ASC) if n in expected] == expected
        for absent in ("__getitem__", "__iter__", "__contains__", "__eq__"):
            assert absent not in vars(ASC)

    def test_collection_documentation(self):
        assert doc_text(ASC.num_anatomical_structures) == "Returns the number of anatomical structures in the collection\n"
        assert doc_text(ASC.__len__) == "Same as :meth:`num_anatomical_structures`; enables ``len(asc)``.\n"
        assert doc_text(ASC.add) == ("Add a clone of the structure to the collection. Raises ValueError if the "
                                     "collection does not accept this structure type.\n")
        assert doc_text(ASC.pop) == ("Remove and return a structure from an ASC. You can pass an index or a string "
                                     "identifier.\n")
        assert doc_text(ASC.anatomical_structure_identifiers) == (
            "Returns a list of the names of all anatomical structures in the collection\n")
        overloads = ASC.anatomical_structure.__doc__
        assert "1. anatomical_structure(self: orbitane.anatomy.AnatomicalStructureCollection, index: " in overloads
        assert "2. anatomical_structure(self: orbitane.anatomy.AnatomicalStructureCollection, identifier: str)" in overloads
        assert overloads.index("Returns the anatomical structure at the given index") < overloads.index(
            "Returns the anatomical structure with the given identifier")
        assert "structure: orbitane.anatomy.AnatomicalStructure" in ASC.add.__doc__
        assert "index_or_identifier" in ASC.pop.__doc__

    def test_generic_class(self):
        cls = anatomy.GenericASC
        assert cls.__doc__ == "GenericASC holds the data associated with a generic anatomical structure collection."
        assert cls.__bases__ == (ASC, orbitane.Data)
        assert cls.__mro__[:3] == (cls, ASC, orbitane.Data)
        assert [n for n in vars(cls) if n in ("__init__", "__repr__", "clone")] == ["__init__", "__repr__", "clone"]
        c = cls()
        assert isinstance(c, ASC) and isinstance(c, orbitane.Data)
        with pytest.raises(TypeError):
            cls(True)
        with pytest.raises(TypeError):
            cls(name="x")


class TestEmpty:
    def test_an_empty_collection(self):
        c = anatomy.GenericASC()
        assert len(c) == 0 and c.num_anatomical_structures() == 0
        assert c.anatomical_structure_identifiers() == []
        assert repr(c) == "<GenericASC, AnatomicalStructures: [] >"
        assert ASC.__repr__(c) == "<AnatomicalStructureCollection, AnatomicalStructures: [] >"
        with pytest.raises(IndexError) as error:
            c.anatomical_structure(0)
        assert str(error.value) == "Index out of range: 0 not in [0, 0)"
        with pytest.raises(IndexError) as error:
            c.pop(0)
        assert str(error.value) == "Index out of range"


class TestLookup:
    def test_counting_and_listing(self, asc):
        assert len(asc) == asc.num_anatomical_structures() == 3
        assert asc.anatomical_structure_identifiers() == ["liver", "spleen", "kidney"]
        assert repr(asc) == "<GenericASC, AnatomicalStructures: [liver,spleen,kidney] >"

    def test_the_base_representation_describes_the_structures(self, asc):
        assert ASC.__repr__(asc) == (
            "<AnatomicalStructureCollection, AnatomicalStructures: ["
            "AnatomicalStructure 'liver' (3D, 1 keypoints, 0 planes, 0 images, 0 meshes, 0 pointclouds, 0 graphs),"
            "AnatomicalStructure 'spleen' (3D, 0 keypoints, 0 planes, 0 images, 0 meshes, 0 pointclouds, 0 graphs),"
            "AnatomicalStructure 'kidney' (3D, 0 keypoints, 0 planes, 0 images, 0 meshes, 0 pointclouds, 0 graphs)"
            "] >")

    def test_by_index_and_identifier(self, asc):
        by_index = asc.anatomical_structure(0)
        by_name = asc.anatomical_structure("liver")
        assert type(by_index) is anatomy.AnatomicalStructure
        assert by_index is not by_name
        by_index.keypoints2["new"] = [0, 0, 0]
        assert "new" in by_name.keypoints2, "both refer to the same structure"
        assert asc.anatomical_structure(index=2).identifier == "kidney"
        assert asc.anatomical_structure(identifier="spleen").identifier == "spleen"

    def test_index_errors(self, asc):
        for index, text in ((-1, "Index out of range: -1 not in [0, 3)"), (3, "Index out of range: 3 not in [0, 3)")):
            with pytest.raises(IndexError) as error:
                asc.anatomical_structure(index)
            assert str(error.value) == text
        with pytest.raises(KeyError) as error:
            asc.anatomical_structure("heart")
        assert error.value.args[0] == "Anatomical structure with identifier 'heart' not found"
        with pytest.raises(TypeError):
            asc.anatomical_structure(1.0)

    def test_collections_are_data(self, asc):
        asc.name = "patient"
        assert asc.name == "patient"
        asc.matrix_to_world = np.diag([1.0, 1.0, 1.0, 1.0])
        np.testing.assert_array_equal(asc.matrix_to_world, np.eye(4))


class TestAdd:
    def test_adds_a_clone(self, asc):
        source = structure("heart", apex=[0, 0, 1])
        asc.add(source)
        assert asc.anatomical_structure_identifiers()[-1] == "heart"
        source.keypoints2["apex"] = [9, 9, 9]
        source.identifier = "renamed"
        added = asc.anatomical_structure("heart")
        np.testing.assert_array_equal(added.keypoints2["apex"], [0, 0, 1])
        assert source.valid
        added.keypoints2["more"] = [1, 1, 1]
        assert "more" not in source.keypoints2

    def test_refusals(self, asc):
        with pytest.raises(ValueError) as error:
            asc.add(None)
        assert str(error.value) == "Invalid anatomical structure"
        with pytest.raises(ValueError) as error:
            asc.add(structure("liver"))
        assert str(error.value) == "Anatomical structure 'liver' is not supported by this collection"
        with pytest.raises(TypeError):
            asc.add("liver")
        assert len(asc) == 3

    def test_a_vanished_structure_is_refused(self, asc):
        other = anatomy.GenericASC()
        other.add(structure("heart"))
        heart = other.anatomical_structure(0)
        del other
        gc.collect()
        with pytest.raises(ValueError) as error:
            asc.add(heart)
        assert str(error.value) == "Invalid anatomical structure"
        assert len(asc) == 3

    def test_structures_of_one_collection_go_into_another(self, asc):
        other = anatomy.GenericASC()
        other.add(asc.anatomical_structure("liver"))
        np.testing.assert_array_equal(other.anatomical_structure(0).keypoints2["tip"], [1, 2, 3])


class TestPop:
    def test_by_index_and_identifier(self, asc):
        popped = asc.pop(0)
        assert type(popped) is anatomy.AnatomicalStructure
        assert popped.identifier == "liver"
        assert asc.pop("kidney").identifier == "kidney"
        assert asc.anatomical_structure_identifiers() == ["spleen"]
        assert asc.pop(index_or_identifier="spleen").identifier == "spleen"

    def test_bool_and_index_like_arguments(self, asc):
        assert asc.pop(True).identifier == "spleen"
        assert asc.pop(np.int64(1)).identifier == "kidney"
        assert asc.anatomical_structure_identifiers() == ["liver"]

    def test_errors(self, asc):
        with pytest.raises(IndexError) as error:
            asc.pop(-1)
        assert str(error.value) == "Index out of range"
        with pytest.raises(IndexError):
            asc.pop(3)
        with pytest.raises(KeyError) as error:
            asc.pop("heart")
        assert error.value.args[0] == "Anatomical structure with identifier 'heart' not found"
        with pytest.raises(TypeError):
            asc.pop(0.0)
        assert len(asc) == 3

    def test_a_popped_structure_outlives_the_collection(self):
        asc = filled()
        borrowed = asc.anatomical_structure("liver")
        popped = asc.pop("liver")
        del asc
        gc.collect()
        assert popped.valid and borrowed.valid
        np.testing.assert_array_equal(popped.keypoints2["tip"], [1, 2, 3])
        del popped
        gc.collect()
        assert not borrowed.valid, "the popped object owned the structure"


class TestLifetime:
    def test_structures_die_with_their_collection(self):
        asc = filled()
        liver = asc.anatomical_structure(0)
        wrapper = liver.meshes
        assert liver.valid
        del asc
        gc.collect()
        assert liver.valid is False and wrapper.valid is False
        with pytest.raises(anatomy.AnatomicalStructureInvalidException) as error:
            liver.identifier
        assert str(error.value) == GONE

    def test_structures_do_not_keep_the_collection_alive(self):
        asc = filled()
        import weakref

        liver = asc.anatomical_structure(0)
        ref = weakref.ref(asc)
        del asc
        gc.collect()
        assert ref() is None
        assert not liver.valid


class TestClone:
    def test_a_generic_collection_clones_to_its_own_class(self, asc):
        asc.name = "patient"
        copy = asc.clone()
        assert type(copy) is anatomy.GenericASC
        assert type(ASC.clone(asc)) is anatomy.GenericASC
        assert copy.anatomical_structure_identifiers() == asc.anatomical_structure_identifiers()
        assert copy.name == "patient"
        np.testing.assert_array_equal(copy.anatomical_structure("liver").keypoints2["tip"], [1, 2, 3])

    def test_the_clone_is_independent(self):
        asc = filled()
        copy = asc.clone()
        copy.add(structure("heart"))
        copy.anatomical_structure("liver").keypoints2["tip"] = [0, 0, 0]
        assert len(asc) == 3
        np.testing.assert_array_equal(asc.anatomical_structure("liver").keypoints2["tip"], [1, 2, 3])
        liver = copy.anatomical_structure("liver")
        del asc
        gc.collect()
        assert liver.valid


class _OwnSheetOptions(anatomy.ASCDisplayOptions):
    pass


def _registration_with_self_referring_progress_slot():
    r = anatomy.ASCRegistration(anatomy.GenericASC(), anatomy.GenericASC())
    r.progress.connect(lambda fraction, r=r: r.status)
    return r


def _registration_with_self_referring_parameter_slot():
    r = anatomy.ASCRegistration(anatomy.GenericASC(), anatomy.GenericASC())
    r.param("registrationMethod").changed.connect(lambda r=r: r.status)
    return r


def _collection_with_self_referring_matrix_slot():
    c = anatomy.GenericASC()
    c.matrix_changed.connect(lambda data, c=c: c.name)
    return c


def _images_with_self_referring_component_slot():
    images = orbitane.SharedImageSet(np.zeros((2, 2), np.uint8))
    images.components.changed.connect(lambda images=images: images.name)
    return images


def _options_holding_their_own_sheet():
    options = _OwnSheetOptions()
    options.sheet = options.get_or_append_style_sheet("s", None)
    return options


@pytest.mark.parametrize("make", [
    _registration_with_self_referring_progress_slot, _registration_with_self_referring_parameter_slot,
    _collection_with_self_referring_matrix_slot, _images_with_self_referring_component_slot,
    _options_holding_their_own_sheet,
])
def test_reference_cycles_through_native_objects_are_collected(make):
    made = make()
    gone = weakref.ref(made)
    del made
    gc.collect()
    assert gone() is None
