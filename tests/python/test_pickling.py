"""Pickling and copy.deepcopy of data objects, properties, structures and collections (carried by
the .orb encoding), and the refusals of the classes that only refer into other objects."""

import copy
import math
import pickle
import random
import struct

import numpy as np
import pytest

import orbitane
from orbitane import anatomy
from orbitane.anatomy import ASCDisplayOptions, Selector, SelectorElem, StyleSheet
from orbitane.graph import Graph

from orb_checksums import with_checksums_repaired

PROTOCOLS = range(pickle.HIGHEST_PROTOCOL + 1)
NAN_WITH_PAYLOAD = struct.unpack("<d", struct.pack("<Q", 0x7FF80000DEADBEEF))[0]
BORROWED = ("cannot pickle 'AnatomicalStructure' object: it borrows from a collection; pickle the collection "
            "instead")
POPPED = "cannot pickle 'AnatomicalStructure' object: add it to a GenericASC and pickle the collection instead"


def pickled(obj, protocol):
    return pickle.loads(pickle.dumps(obj, protocol=protocol))


COPIES = [pytest.param(lambda o, p=p: pickled(o, p), id=f"protocol{p}") for p in PROTOCOLS]
COPIES.append(pytest.param(copy.deepcopy, id="deepcopy"))


def bits(values):
    return np.asarray(values, dtype=np.float64).tobytes()


def oblique():
    m = np.eye(4)
    c, s = math.cos(0.3), math.sin(0.3)
    m[:2, :2] = [[c, -s], [s, c]]
    m[:3, 3] = [4.0, -2.5, 7.0]
    return m


def labels():
    component = orbitane.LabelDataComponent()
    component.set_label(1, "liver", color=(1.0, 0.0, 0.0))
    component.set_label(2, "spleen", visible=False)
    return component


def image_set():
    images = orbitane.SharedImageSet(np.arange(24, dtype=np.int16).reshape(2, 3, 4), spacing=(0.5, 0.7, 2.0),
                                     matrix_to_world=oblique(), modality=orbitane.Modality.CT)
    images.add(np.array([[NAN_WITH_PAYLOAD, -0.0], [1e-310, 2.5]]), spacing=(0.25, 0.25, 1.0))
    images.focus = 0
    images.name = "scan"
    images.components.add(labels())
    return images


def mesh():
    m = orbitane.Mesh(np.array([[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1]], float), np.array([[0, 1, 2], [0, 1, 3]]),
                      normals=np.eye(4)[:, :3])
    m.name, m.modality, m.matrix_to_world = "surface", orbitane.Modality.MRI, oblique()
    return m


def cloud():
    return orbitane.PointCloud(np.array([[1.0, 2, 3], [4, 5, NAN_WITH_PAYLOAD]]), normals=np.eye(3)[:2])


def graph():
    g = Graph(np.array([[0.0, 0, 0], [1, 0, 0], [1, 1, 0]]), np.array([[0, 1], [1, 2]]))
    g.set_node_feature("radius", [1.5, NAN_WITH_PAYLOAD, 0.25])
    g.set_edge_feature("length", [1.0, 2.0])
    return g


def properties():
    return orbitane.Properties({"flag": True, "count": -3, "ratio": -0.0, "name": "x\u00e9", "rgb": [1.0, 0.5, 0.0],
                                "frame": oblique(), "nested": {"deeper": {"n": 1}}})


def data_summary(d):
    """What a data object of any kind holds, in a comparable form (floats by their bits)."""
    common = (type(d), d.name, d.modality, bits(d.matrix_to_world),
              [(c.id, c.configuration().asdict().__repr__()) for c in d.components])
    if isinstance(d, orbitane.SharedImageSet):
        kind = (d.focus, [(d.array(i).dtype.str, d.array(i).shape, d.array(i).tobytes()) for i in range(len(d))])
    elif isinstance(d, orbitane.Mesh):
        kind = (bits(d.vertices), d.faces.tolist(), bits(d.normals))
    elif isinstance(d, orbitane.PointCloud):
        kind = (bits(d.points), bits(d.normals))
    else:
        kind = (bits(d.nodes), d.edges.tolist(), {k: bits(v) for k, v in d.node_features.items()},
                {k: bits(v) for k, v in d.edge_features.items()})
    return common, kind


def liver():
    s = anatomy.GenericAnatomicalStructure("liver")
    s.matrix_to_world = oblique()
    s.keypoints2["tip"] = [1 / 3, -0.0, math.inf]
    s.keypoints2.attributes["pending"]    # an entry without a value
    s.planes["axial"] = [0.0, 0.0, 1.0, -5.0]
    s.images["scan"] = image_set()
    s.meshes["surface"] = mesh()
    s.pointclouds["samples"] = cloud()
    s.graphs["vessels"] = graph()
    return s


def styled_collection():
    """A label-map conversion (entries with attributes) plus a hand-made structure, both kinds of
    registered component and display options holding two style sheets."""
    volume = np.zeros((6, 7, 8), np.uint8)
    volume[1:5, 2:6, 2:7] = 1
    label_map = orbitane.SharedImageSet(volume, spacing=(0.5, 1.0, 2.0), matrix_to_world=oblique(),
                                        modality=orbitane.Modality.LABEL)
    asc = anatomy.generic_asc_from_label_map(label_map, {1: "Orbitane.Liver"})
    asc.add(liver())
    asc.name = "patient 17"
    asc.components.add(labels())
    options = asc.components.add(ASCDisplayOptions())
    base = options.get_or_append_style_sheet("base", None)
    base.append_or_modify("meshes#liver, .hl", lambda p: p.__setitem__("color", [1.0, 0.0, 0.0, 1.0]))
    base.append_or_modify(None, lambda p: p.__setitem__("alpha", 0.5))
    off = options.get_or_append_style_sheet("off", None)
    off.enabled = False
    off.append_or_modify('#"Orbitane.Liver"', lambda p: p.__setitem__("visible", False))
    return asc


def orb_bytes(collection, path):
    """The collection as a saved file: every store, entry, attribute, matrix and component."""
    orbitane.save(collection, path)
    return path.read_bytes()


class TestRoundTrips:
    @pytest.mark.parametrize("copier", COPIES)
    @pytest.mark.parametrize("make", [image_set, mesh, cloud, graph])
    def test_data_objects(self, copier, make):
        original = make()
        assert data_summary(copier(original)) == data_summary(original)

    @pytest.mark.parametrize("copier", COPIES)
    def test_properties(self, copier):
        original = properties()
        restored = copier(original)
        assert type(restored) is orbitane.Properties and restored == original
        assert bits(restored["ratio"]) == bits(-0.0)

    @pytest.mark.parametrize("copier", COPIES)
    def test_structure(self, copier, tmp_path):
        restored = copier(liver())
        assert type(restored) is anatomy.GenericAnatomicalStructure and restored.valid
        asc, expected = anatomy.GenericASC(), anatomy.GenericASC()
        asc.add(restored)
        expected.add(liver())
        assert orb_bytes(asc, tmp_path / "a.orb") == orb_bytes(expected, tmp_path / "b.orb")

    @pytest.mark.parametrize("copier", COPIES)
    def test_collection_with_style_sheets(self, copier, tmp_path):
        original = styled_collection()
        restored = copier(original)
        assert type(restored) is anatomy.GenericASC
        assert orb_bytes(restored, tmp_path / "a.orb") == orb_bytes(original, tmp_path / "b.orb")
        options = restored.components.asc_display_options
        assert options.configuration() == original.components.asc_display_options.configuration()
        assert [s["name"] for s in options.configuration()["styleSheets"].asdict().values()] == ["base", "off"]
        assert options.get_or_append_style_sheet("off", None).enabled is False
        segmentation = restored.anatomical_structure("Orbitane.Liver").images
        assert segmentation.attributes["Orbitane.Segmentation"]["voxelCount"] == 4 * 4 * 5


def test_copies_are_independent_of_their_originals():
    asc = styled_collection()
    copied = copy.deepcopy(asc)
    copied.anatomical_structure("liver").keypoints2["tip"] = [0.0, 0.0, 0.0]
    copied.anatomical_structure("liver").meshes["surface"] = orbitane.Mesh()
    copied.pop("Orbitane.Liver")
    copied.components.asc_display_options.remove_style_sheets_by_name("base")
    copied.name = "other"
    assert asc.anatomical_structure_identifiers() == ["Orbitane.Liver", "liver"]
    assert asc.name == "patient 17"
    assert bits(asc.anatomical_structure("liver").keypoints2["tip"]) == bits([1 / 3, -0.0, math.inf])
    assert asc.anatomical_structure("liver").meshes["surface"].num_faces == 2
    assert "base" in repr(asc.components.asc_display_options.configuration())

    m = mesh()
    other = pickled(m, 5)
    other.vertices = np.zeros((4, 3))
    other.components.add(labels())
    assert bits(m.vertices) == bits(mesh().vertices) and len(m.components) == 0


class Case(anatomy.GenericASC):
    pass


class Tagged(orbitane.Mesh):
    pass


class Settings(orbitane.Properties):
    pass


@pytest.mark.parametrize("copier", COPIES)
def test_python_subclasses_come_back_as_themselves_with_their_attributes(copier):
    case = Case()
    case.add(anatomy.GenericAnatomicalStructure("bone"))
    case.note, case.itself = "kept", case
    restored = copier(case)
    assert type(restored) is Case and restored.note == "kept" and restored.itself is restored
    assert restored.anatomical_structure_identifiers() == ["bone"]
    tagged = Tagged(mesh().vertices, mesh().faces)
    tagged.source = {"scanner": 3}
    again = copier(tagged)
    assert type(again) is Tagged and again.source == {"scanner": 3} and again.num_faces == 2
    settings = Settings({"a": 1})
    settings.origin = ["lab"]
    copied = copier(settings)
    assert type(copied) is Settings and copied == settings and copied.origin == ["lab"]
    assert copied.origin is not settings.origin


def test_components_defined_in_python_are_left_out_as_in_files(tmp_path):
    class Note(orbitane.DataComponentBase):
        pass

    m = mesh()
    m.components.add(Note())
    m.components.add(labels())
    assert [c.id for c in pickled(m, 5).components] == ["LabelDataComponent"]
    assert [c.id for c in copy.deepcopy(m).components] == ["LabelDataComponent"]


class TestRefusals:
    def test_borrowed_and_popped_structures_point_to_the_collection(self):
        asc = styled_collection()
        borrowed = asc.anatomical_structure("liver")
        for attempt in (lambda: pickle.dumps(borrowed), lambda: pickle.dumps(borrowed, protocol=0),
                        lambda: copy.deepcopy(borrowed), lambda: copy.copy(borrowed)):
            with pytest.raises(TypeError) as info:
                attempt()
            assert str(info.value) == BORROWED
        popped = asc.pop("liver")
        with pytest.raises(TypeError) as info:
            pickle.dumps(popped)
        assert str(info.value) == POPPED

    def test_views_keep_refusing(self):
        asc = styled_collection()
        structure = asc.anatomical_structure("liver")
        options = asc.components.asc_display_options
        views = [structure.keypoints2, structure.planes, structure.images, structure.meshes, structure.pointclouds,
                 structure.graphs, structure.meshes.attributes, Selector.parse("meshes#liver"),
                 SelectorElem.parse("meshes"), StyleSheet("s"), options.get_or_append_style_sheet("base", None),
                 asc.components]
        for view in views:
            for attempt in (pickle.dumps, copy.deepcopy):
                with pytest.raises(TypeError, match="pickle"):
                    attempt(view)


def restore(cls, state):
    obj = cls.__new__(cls)
    obj.__setstate__(state)
    return obj


class TestDamagedPickles:
    @pytest.mark.parametrize("make", [styled_collection, liver, image_set, mesh, graph, properties])
    def test_every_cut_and_flipped_bit_raises_unpickling_error(self, make):
        original = make()
        encoding, attributes = original.__getstate__()
        rng = random.Random(13)
        variants = [encoding[:n] for n in rng.sample(range(len(encoding)), 25)]
        for _ in range(40):
            damaged = bytearray(encoding)
            damaged[rng.randrange(16, len(damaged))] ^= 1 << rng.randrange(8)
            variants += [bytes(damaged), with_checksums_repaired(damaged)]
        prefix = f"Cannot unpickle {type(original).__module__}.{type(original).__name__}: "
        for variant in variants:
            try:
                restore(type(original), (variant, attributes))    # a repaired flip may land in a value
            except pickle.UnpicklingError as error:
                assert str(error).startswith(prefix)

    def test_states_of_another_form_or_kind_are_refused(self):
        for state in (None, b"", (b"",), ("text", {}), (b"", []), (b"", {}, 1)):
            with pytest.raises(pickle.UnpicklingError, match=r"^Cannot unpickle orbitane\.Mesh: its state must be"):
                restore(orbitane.Mesh, state)
        with pytest.raises(pickle.UnpicklingError, match="holds another kind of data"):
            restore(orbitane.SharedImageSet, mesh().__getstate__())
        with pytest.raises(pickle.UnpicklingError, match="no data object"):
            restore(anatomy.GenericASC, liver().__getstate__())
        with pytest.raises(pickle.UnpicklingError, match="no object of the kind"):
            restore(orbitane.Properties, mesh().__getstate__())


def test_a_fresh_process_loads_the_plugin_to_unpickle(run_isolated, tmp_path):
    path = tmp_path / "mesh.pickle"
    path.write_bytes(pickle.dumps(mesh(), protocol=5))
    result = run_isolated(f"""
        import json, pickle, sys
        import orbitane
        before = "orbitane.anatomy" in sys.modules
        restored = pickle.loads(open({str(path)!r}, "rb").read())
        print(json.dumps([before, "orbitane.anatomy" in sys.modules, restored.name, restored.num_faces]))
    """)
    assert result == [False, True, "surface", 2]
