"""The parent package orbitane: its names, numpy conversions, properties, signals, components,
algorithm parameters, file I/O and the logging bridge."""

import copy
import gc
import logging
import sys
import weakref

import numpy as np
import pytest

import orbitane
import orbitane.graph
from orbitane import _orbitane
from orbitane import _testing as testing

TRIANGLE = np.array([[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]])
DTYPES = ["uint8", "int8", "uint16", "int16", "uint32", "int32", "float32", "float64"]


@pytest.fixture
def mesh():
    return orbitane.Mesh(TRIANGLE, [[0, 1, 2]])


@pytest.fixture
def algorithm(mesh):
    return testing.ExampleAlgorithm(mesh)


def recorder(signal):
    calls = []
    signal.connect(lambda *args: calls.append(args))
    return calls


# --- names ------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "name",
    ["Modality", "Data", "SharedImageSet", "Mesh", "PointCloud", "Properties", "DataComponentBase",
     "DataComponentList", "LabelDataComponent", "Signal", "Algorithm", "Parameter"],
)
def test_types_are_public_under_orbitane(name):
    cls = getattr(orbitane, name)
    assert cls is getattr(_orbitane, name)
    assert cls.__module__ == "orbitane"
    assert name in orbitane.__all__


def test_graph_lives_in_its_own_module_and_functions_exist():
    assert orbitane.graph.Graph is _orbitane.graph.Graph
    assert orbitane.graph.Graph.__module__ == "orbitane.graph"
    for cls in (orbitane.SharedImageSet, orbitane.Mesh, orbitane.PointCloud, orbitane.graph.Graph):
        assert issubclass(cls, orbitane.Data)
    assert issubclass(orbitane.LabelDataComponent, orbitane.DataComponentBase)
    for function in ("open", "save", "set_log_level"):
        assert callable(getattr(orbitane, function))


def test_modality_values():
    assert orbitane.Modality.NA.value == 0
    assert orbitane.Modality.LABEL.value == 8
    assert {"CT", "MRI", "ULTRASOUND", "XRAY"} <= set(orbitane.Modality.__members__)


# --- images -----------------------------------------------------------------------------------


@pytest.mark.parametrize("dtype", DTYPES)
@pytest.mark.parametrize("shape", [(2, 3, 4), (3, 5)], ids=["3d", "2d"])
def test_image_round_trip_keeps_dtype_shape_and_values(dtype, shape):
    low, high = (np.iinfo(dtype).min, np.iinfo(dtype).max) if np.dtype(dtype).kind in "iu" else (-1e6, 1e6)
    values = np.linspace(low, high, num=np.prod(shape)).astype(dtype).reshape(shape)
    images = orbitane.SharedImageSet(values)
    out = images.array()
    assert out.dtype == np.dtype(dtype)
    assert out.shape == shape
    np.testing.assert_array_equal(out, values)


def test_image_arrays_are_copies_and_non_contiguous_input_is_read_in_index_order():
    source = np.arange(24, dtype=np.int16).reshape(2, 3, 4)
    images = orbitane.SharedImageSet(source.transpose(0, 2, 1))
    source[:] = 0
    out = images.array()
    out[:] = 7
    np.testing.assert_array_equal(images.array(), np.arange(24, dtype=np.int16).reshape(2, 3, 4).transpose(0, 2, 1))


def test_image_set_holds_several_images_with_a_focus(mesh):
    images = orbitane.SharedImageSet(np.zeros((2, 2), np.uint8), spacing=(0.5, 2), modality=orbitane.Modality.LABEL)
    images.add(np.ones((2, 2, 3), np.float32), spacing=(1, 2, 3))
    assert len(images) == images.len() == 2
    assert images.modality == orbitane.Modality.LABEL
    np.testing.assert_array_equal(images.spacing, [0.5, 2, 1])
    assert images.array(1).shape == (2, 2, 3) and images.array(-1).shape == (2, 2)
    images.focus = 1
    assert images.array().dtype == np.float32
    np.testing.assert_array_equal(images.spacing, [1, 2, 3])
    images.spacing = [4, 4, 4]
    np.testing.assert_array_equal(images.spacing, [4, 4, 4])
    assert images.describe() == "SharedImageSet: 2 images, focused image 1: 3 x 2 x 2 float32, spacing 4 x 4 x 4"
    # an image of one slice is a 2-D image
    assert orbitane.SharedImageSet(np.zeros((1, 2, 3), np.uint8)).array().shape == (2, 3)


def test_image_set_clone_is_deep():
    matrix = np.diag([2.0, 2.0, 2.0, 1.0])
    images = orbitane.SharedImageSet(np.arange(6, dtype=np.uint8).reshape(2, 3), matrix_to_world=matrix)
    images.name = "ct"
    images.components.add(orbitane.LabelDataComponent())
    clone = images.clone()
    assert type(clone) is orbitane.SharedImageSet
    assert clone.name == "ct" and len(clone.components) == 1
    np.testing.assert_array_equal(clone.matrix_to_world, matrix)
    clone.spacing = (3, 3, 3)
    clone.matrix_to_world = np.eye(4)
    np.testing.assert_array_equal(images.spacing, [1, 1, 1])
    np.testing.assert_array_equal(images.matrix_to_world, matrix)


@pytest.mark.parametrize(
    "array, error, message",
    [
        (np.zeros((2, 2), np.int64), TypeError,
         "images cannot hold dtype int64; use one of uint8, int8, uint16, int16, uint32, int32, float32, float64"),
        (np.zeros((2, 2), bool), TypeError,
         "images cannot hold dtype bool; use one of uint8, int8, uint16, int16, uint32, int32, float32, float64"),
        (np.zeros(5, np.uint8), ValueError, "image arrays must be 2-D [y, x] or 3-D [z, y, x], got shape (5,)"),
        (np.zeros((0, 3), np.uint8), ValueError, "image arrays must not be empty"),
    ],
)
def test_bad_image_arrays_are_refused_and_change_nothing(array, error, message):
    images = orbitane.SharedImageSet(np.zeros((1, 1), np.uint8))
    with pytest.raises(error) as excinfo:
        images.add(array)
    assert str(excinfo.value) == message
    assert len(images) == 1


def test_bad_image_arguments():
    images = orbitane.SharedImageSet()
    with pytest.raises(IndexError) as excinfo:
        images.array()
    assert str(excinfo.value) == "the image set is empty"
    with pytest.raises(ValueError) as excinfo:
        images.add(np.zeros((2, 2), np.uint8), spacing=(1, 1, 1, 1))
    assert str(excinfo.value) == "spacing must be a vector of 2 or 3 values, got shape (4,)"
    with pytest.raises(ValueError) as excinfo:
        images.add(np.zeros((2, 2), np.uint8), spacing=(1, 0, 1))
    assert str(excinfo.value) == "spacing values must be positive"
    with pytest.raises(ValueError):
        images.add(np.zeros((2, 2), np.uint8), matrix_to_world=np.eye(3))
    assert len(images) == 0
    images.add(np.zeros((2, 2), np.uint8))
    with pytest.raises(IndexError) as excinfo:
        images.array(1)
    assert str(excinfo.value) == "image index 1 out of range for a set of 1 images"
    with pytest.raises(IndexError) as excinfo:
        images.focus = 3
    assert str(excinfo.value) == "image index 3 out of range for a set of 1 images"
    assert images.focus == 0


# --- data matrices and signals ----------------------------------------------------------------


def test_matrices_are_float64_copies_and_inverse_of_each_other(mesh):
    assert mesh.matrix_to_world.dtype == np.float64
    np.testing.assert_array_equal(mesh.matrix_to_world, np.eye(4))
    matrix = np.array([[0, -1, 0, 5], [1, 0, 0, 0], [0, 0, 2, 1], [0, 0, 0, 1]])
    mesh.matrix_to_world = matrix
    copy = mesh.matrix_to_world
    copy[0, 3] = 100
    np.testing.assert_array_equal(mesh.matrix_to_world, matrix)
    np.testing.assert_allclose(mesh.matrix_from_world @ matrix, np.eye(4), atol=1e-12)
    mesh.matrix_from_world = np.diag([0.5, 0.5, 0.5, 1])
    np.testing.assert_allclose(mesh.matrix_to_world, np.diag([2.0, 2.0, 2.0, 1.0]))
    np.testing.assert_allclose(mesh.bounds, [[0, 0, 0], [2, 2, 0]])


@pytest.mark.parametrize(
    "attribute, value, error, message",
    [
        ("matrix_to_world", np.eye(3), ValueError, "matrix_to_world must have shape (4, 4), got (3, 3)"),
        ("matrix_to_world", [["a"] * 4] * 4, TypeError, "matrix_to_world must be an array of numbers, not of dtype <U1"),
        ("matrix_to_world", np.full((4, 4), np.nan), ValueError, "matrix_to_world must hold finite values"),
        ("matrix_from_world", np.zeros((4, 4)), ValueError, "matrix_from_world must be invertible"),
    ],
)
def test_bad_matrices_change_nothing(mesh, attribute, value, error, message):
    calls = recorder(mesh.matrix_changed)
    with pytest.raises(error) as excinfo:
        setattr(mesh, attribute, value)
    assert str(excinfo.value) == message
    np.testing.assert_array_equal(mesh.matrix_to_world, np.eye(4))
    assert calls == []


def test_matrix_changed_fires_on_every_assignment_with_the_object(mesh):
    seen = []
    mesh.matrix_changed.connect(lambda data: seen.append(data))
    mesh.matrix_to_world = np.eye(4)
    mesh.matrix_to_world = np.eye(4)
    assert seen == [mesh, mesh]


def test_name_modality_and_description(mesh):
    mesh.name = "liver"
    mesh.modality = orbitane.Modality.CT
    assert (mesh.name, mesh.modality) == ("liver", orbitane.Modality.CT)
    assert mesh.describe() == 'Mesh "liver": 3 vertices, 1 faces'
    assert repr(mesh) == '<Mesh "liver": 3 vertices, 1 faces>'
    assert orbitane.PointCloud().bounds is None


# --- meshes, point clouds, graphs -------------------------------------------------------------


def test_mesh_arrays_are_copies_and_assignable(mesh):
    faces = mesh.faces
    assert faces.dtype == np.int64 and faces.tolist() == [[0, 1, 2]]
    mesh.vertices[0] = 9
    np.testing.assert_array_equal(mesh.vertices, TRIANGLE)
    mesh.vertices = TRIANGLE * 2
    mesh.faces = np.array([[2, 1, 0], [0, 1, 2]], dtype=np.uint8)
    assert (mesh.num_vertices, mesh.num_faces) == (3, 2)
    assert mesh.normals is None
    mesh.normals = [[0, 0, 1]] * 3
    assert mesh.normals.shape == (3, 3)
    mesh.vertices = TRIANGLE[:2]
    assert (mesh.num_faces, mesh.normals) == (0, None)
    clone = mesh.clone()
    clone.vertices = TRIANGLE
    assert mesh.num_vertices == 2


@pytest.mark.parametrize(
    "faces, error, message",
    [
        ([[0, 1, 3]], ValueError, "face 0 refers to vertex 3, but the mesh has 3 vertices"),
        ([[0, 1, 2], [-1, 0, 1]], ValueError, "face 1 refers to vertex -1, but the mesh has 3 vertices"),
        ([[0, 1, 2**40]], ValueError, "face 0 refers to vertex 1099511627776, but the mesh has 3 vertices"),
        ([[0.0, 1.0, 2.0]], TypeError, "faces must be an array of integers, not of dtype float64"),
        ([[0, 1, 2, 0]], ValueError, "faces must have shape (M, 3), got (1, 4)"),
    ],
)
def test_bad_faces_change_nothing(mesh, faces, error, message):
    with pytest.raises(error) as excinfo:
        mesh.faces = faces
    assert str(excinfo.value) == message
    assert mesh.faces.tolist() == [[0, 1, 2]]
    with pytest.raises(error):
        orbitane.Mesh(TRIANGLE, faces)


def test_bad_vertices_and_normals(mesh):
    with pytest.raises(ValueError) as excinfo:
        mesh.vertices = np.zeros((3, 2))
    assert str(excinfo.value) == "vertices must have shape (N, 3), got (3, 2)"
    with pytest.raises(ValueError) as excinfo:
        mesh.normals = [[0, 0, 1]]
    assert str(excinfo.value) == "a mesh with 3 vertices needs 3 normals or none, got 1"
    np.testing.assert_array_equal(mesh.vertices, TRIANGLE)
    assert mesh.normals is None


def test_point_cloud_normals_follow_the_number_of_points():
    cloud = orbitane.PointCloud(TRIANGLE, normals=np.tile([0.0, 0, 1], (3, 1)))
    assert cloud.num_points == 3
    cloud.points = TRIANGLE + 1
    assert cloud.normals.shape == (3, 3)
    cloud.points = TRIANGLE[:1]
    assert cloud.normals is None
    with pytest.raises(ValueError) as excinfo:
        cloud.normals = TRIANGLE
    assert str(excinfo.value) == "a point cloud with 1 points needs 1 normals or none, got 3"
    assert cloud.describe() == "PointCloud: 1 points"


def test_graph_nodes_edges_and_features():
    graph = orbitane.graph.Graph(TRIANGLE, [[0, 1], [1, 2]])
    assert (graph.num_nodes, graph.num_edges) == (3, 2)
    assert graph.edges.tolist() == [[0, 1], [1, 2]]
    graph.set_node_feature("radius", [1, 2, 3])
    graph.set_edge_feature("length", np.array([0.5, 0.25], np.float32))
    np.testing.assert_array_equal(graph.node_features["radius"], [1, 2, 3])
    assert graph.edge_features["length"].dtype == np.float64
    with pytest.raises(ValueError) as excinfo:
        graph.set_node_feature("radius", [1])
    assert str(excinfo.value) == 'node feature "radius" needs one value per node (3), got 1'
    with pytest.raises(ValueError) as excinfo:
        graph.nodes = TRIANGLE[:2]
    assert str(excinfo.value) == "edge 1 refers to node 2, but the graph has 2 nodes"
    assert graph.num_nodes == 3
    graph.edges = [[2, 0]]
    assert graph.edge_features == {} and list(graph.node_features) == ["radius"]
    with pytest.raises(ValueError) as excinfo:
        orbitane.graph.Graph(TRIANGLE, [[0, 5]])
    assert str(excinfo.value) == "edge 0 refers to node 5, but the graph has 3 nodes"


# --- properties -------------------------------------------------------------------------------


def test_properties_hold_every_value_type():
    p = orbitane.Properties()
    values = {"flag": True, "count": -3, "ratio": 0.25, "text": "abc", "nested": {"inner": 1}}
    for key, value in values.items():
        p[key] = value
    p["v2"], p["v3"], p["v4"] = (1, 2), [1, 2, 3], np.arange(4, dtype=np.int32)
    p["m"] = np.eye(4)
    assert list(p) == p.keys() == ["flag", "count", "ratio", "text", "nested", "v2", "v3", "v4", "m"]
    assert p["flag"] is True and type(p["count"]) is int and p["ratio"] == 0.25 and p["text"] == "abc"
    for key, length in (("v2", 2), ("v3", 3), ("v4", 4)):
        assert p[key].dtype == np.float64 and p[key].shape == (length,)
    assert p["m"].shape == (4, 4)
    assert isinstance(p["nested"], orbitane.Properties) and p["nested"]["inner"] == 1
    plain = p.asdict()
    assert plain["nested"] == {"inner": 1}
    np.testing.assert_array_equal(plain["v4"], [0, 1, 2, 3])


def test_properties_mapping_protocol():
    p = orbitane.Properties({"a": 1, "b": np.float32(0.5), "c": np.int64(7), "d": np.bool_(False)})
    assert len(p) == 4 and "a" in p and "z" not in p and 3 not in p
    assert (p["b"], p["c"], p["d"]) == (0.5, 7, False)
    assert type(p["d"]) is bool
    p["a"] = "replaced by another type"
    assert p["a"] == "replaced by another type"
    del p["a"]
    assert "a" not in p and p.get("a") is None and p.get("a", 5) == 5
    with pytest.raises(KeyError):
        p["a"]
    with pytest.raises(KeyError):
        del p["a"]
    assert orbitane.Properties({"x": [1, 2]}) == orbitane.Properties({"x": (1.0, 2.0)})
    nested = p.get("missing", orbitane.Properties({"k": 1}))
    assert nested["k"] == 1


@pytest.mark.parametrize(
    "value, error, message",
    [
        (None, TypeError, "Properties cannot hold a value of type 'NoneType'"),
        ([1, 2, 3, 4, 5], ValueError, "Properties cannot hold an array of shape (5,)"),
        (np.zeros((3, 3)), ValueError, "Properties cannot hold an array of shape (3, 3)"),
        (["a", "b"], TypeError, "Properties cannot hold a list of non-numbers"),
        (2**32, ValueError, "Properties cannot hold the integer 4294967296, which does not fit in 32 bits"),
        ({"ok": 1, "bad": object()}, TypeError, "Properties cannot hold a value of type 'object'"),
        ({1: 2}, TypeError, "Properties cannot hold a key of type 'int'"),
    ],
)
def test_properties_refuse_what_they_cannot_hold(value, error, message):
    p = orbitane.Properties({"kept": 1})
    with pytest.raises(error) as excinfo:
        p["kept"] = value
    assert str(excinfo.value) == message
    assert p.asdict() == {"kept": 1}


# --- components -------------------------------------------------------------------------------


def test_component_list_keeps_its_data_alive():
    components = orbitane.Mesh(TRIANGLE, [[0, 1, 2]]).components
    gc.collect()
    components.add(orbitane.LabelDataComponent())
    assert len(components) == 1


def test_adding_a_label_component_copies_it_and_a_second_add_assigns():
    images = orbitane.SharedImageSet(np.zeros((2, 2), np.uint8), modality=orbitane.Modality.LABEL)
    changes = recorder(images.components.changed)
    labels = orbitane.LabelDataComponent()
    labels.set_label(1, "liver", color=(1, 0, 0))
    stored = images.components.add(labels)
    assert type(stored) is orbitane.LabelDataComponent and stored is not labels
    assert stored.id == "LabelDataComponent"
    labels.set_label(2, "spleen")
    assert stored.labels() == {1: "liver"}
    again = images.components.add(labels)
    assert len(images.components) == 1 and len(changes) == 1
    assert images.components[0].labels() == {1: "liver", 2: "spleen"}
    assert again.labels() == stored.labels()
    assert [c.id for c in images.components] == ["LabelDataComponent"]
    images.components.remove(images.components[-1])
    assert len(images.components) == 0 and len(changes) == 2


def test_a_removed_label_component_raises_reference_error():
    images = orbitane.SharedImageSet()
    labels = orbitane.LabelDataComponent()
    labels.set_label(1, "liver")
    held = images.components.add(labels)
    images.components.remove(held)
    gc.collect()
    gone = ("This LabelDataComponent no longer exists: it was removed from its DataComponentList, or the "
            "data object that held the list was deleted.")
    for use in (held.labels, lambda: held.label_name(1), lambda: held.set_label(2, "x"), lambda: held.id,
                held.configuration, lambda: images.components.add(held)):
        with pytest.raises(ReferenceError) as excinfo:
            use()
        assert str(excinfo.value) == gone
    # a component added later, even at the same address, has a Python object of its own
    again = images.components.add(labels)
    assert again is not held and again.labels() == {1: "liver"}


def test_a_slot_of_data_that_native_code_shares_stays_connected_through_collection():
    # the algorithm shares the mesh: the slot is reachable through it, so it is no garbage
    mesh = orbitane.Mesh(TRIANGLE, [[0, 1, 2]])
    slot = lambda data, mesh=mesh: mesh.name  # noqa: E731
    mesh.matrix_changed.connect(slot)
    algorithm = testing.ExampleAlgorithm(mesh)
    connected = weakref.ref(slot)
    del mesh, slot
    gc.collect()
    assert connected() is not None
    del algorithm
    gc.collect()
    assert connected() is None


def test_label_configurations():
    labels = orbitane.LabelDataComponent()
    labels.set_label(3, "kidney", color=[0, 0.5, 1, 0.5], visible=False)
    labels.set_label(7, "bone")
    assert labels.label_name(3) == "kidney" and labels.label_name(4) is None
    np.testing.assert_array_equal(labels.label_color(3), [0, 0.5, 1, 0.5])
    default = orbitane.LabelDataComponent.default_label_config(7)
    assert default["name"] == "Label 7" and default["visible"] is True
    np.testing.assert_array_equal(labels.label_color(7), default["color"])
    assert labels.label_config(3)["visible"] is False
    labels.remove_label(7)
    assert labels.labels() == {3: "kidney"}
    configuration = labels.configuration()
    assert configuration["3"]["name"] == "kidney"
    copy = orbitane.LabelDataComponent()
    copy.configure(configuration)
    assert copy.labels() == {3: "kidney"}


@pytest.mark.parametrize(
    "color, message",
    [((1, 0), "color must be a vector of 3 or 4 values, got shape (2,)"),
     ((2, 0, 0), "color values must lie between 0 and 1")],
)
def test_bad_label_colours_change_nothing(color, message):
    labels = orbitane.LabelDataComponent()
    with pytest.raises(ValueError) as excinfo:
        labels.set_label(1, "x", color=color)
    assert str(excinfo.value) == message
    assert labels.labels() == {}


def test_component_index_errors(mesh):
    mesh.components.add(orbitane.LabelDataComponent())
    assert mesh.components[-1].id == "LabelDataComponent"
    with pytest.raises(IndexError) as excinfo:
        mesh.components[1]
    assert str(excinfo.value) == "component index 1 out of range for a list of 1 components"
    with pytest.raises(ValueError):
        mesh.components.remove(orbitane.LabelDataComponent())


class Tag(orbitane.DataComponentBase):
    def __init__(self, text=""):
        super().__init__()
        self.text = text


class KeyedPyDataComponent(orbitane.DataComponentBase):
    def __init__(self, key, value=0):
        super().__init__()
        self.key, self.value = key, value

    @property
    def id(self):
        return self.key

    def assign(self, other):
        self.value = other.value


def test_python_components_of_one_class_are_assigned_into_the_first():
    mesh = orbitane.Mesh()
    changes = recorder(mesh.components.changed)
    tag = Tag("a")
    stored = mesh.components.add(tag)
    assert stored is not tag and stored.text == "a" and stored.id == "Tag"
    tag.text = "changed afterwards"
    assert mesh.components.add(Tag("b")) is stored
    assert stored.text == "b" and len(mesh.components) == 1 and len(changes) == 1
    assert mesh.components[0] is stored


def test_python_components_named_py_data_component_match_by_id():
    mesh = orbitane.Mesh()
    x = mesh.components.add(KeyedPyDataComponent("x", 1))
    y = mesh.components.add(KeyedPyDataComponent("y", 2))
    assert mesh.components.add(KeyedPyDataComponent("x", 3)) is x
    assert (x.value, y.value) == (3, 2)
    assert [c.id for c in mesh.components] == ["x", "y"]
    mesh.components.add(orbitane.LabelDataComponent())
    mesh.components.remove(y)
    assert [type(c).__name__ for c in mesh.components] == ["KeyedPyDataComponent", "LabelDataComponent"]


def test_copied_data_carry_deep_copies_of_python_components():
    mesh = orbitane.Mesh()
    mesh.components.add(Tag(["shared"]))
    clone = mesh.clone()
    clone.components[0].text.append("clone only")
    assert mesh.components[0].text == ["shared"]
    copied = mesh.components[0].__deepcopy__({})
    assert type(copied) is Tag and copied.id == "Tag"
    label = orbitane.LabelDataComponent()
    label.set_label(1, "one")
    assert copy.deepcopy(label).labels() == {1: "one"}


def test_other_extensions_chain_add_overloads_after_the_packages_own():
    if "ExampleComponent" not in (orbitane.DataComponentList.add.__doc__ or ""):
        testing.chain_component_list_add()
    mesh = orbitane.Mesh()
    component = testing.ExampleComponent()
    component.level = 4
    stored = mesh.components.add(component)
    assert type(stored) is testing.ExampleComponent and stored is not component
    component.level = 9
    again = mesh.components.add(component)
    assert again.level == 9 and len(mesh.components) == 1
    assert type(mesh.components.add(orbitane.LabelDataComponent())) is orbitane.LabelDataComponent
    assert type(mesh.components.add(Tag())) is Tag
    with pytest.raises(TypeError):
        mesh.components.add(object())
    assert len(mesh.components) == 3


def test_a_removed_component_of_another_extension_raises_reference_error():
    # the other extension hands out its component by plain reference and binds its own member
    if "ExampleComponent" not in (orbitane.DataComponentList.add.__doc__ or ""):
        testing.chain_component_list_add()
    mesh = orbitane.Mesh()
    held = mesh.components.add(testing.ExampleComponent())
    mesh.components.remove(held)
    gone = ("This ExampleComponent no longer exists: it was removed from its DataComponentList, or the "
            "data object that held the list was deleted.")
    for use in (lambda: held.level, lambda: setattr(held, "level", 2), lambda: held.id, held.configuration,
                lambda: mesh.components.add(held)):
        with pytest.raises(ReferenceError) as excinfo:
            use()
        assert str(excinfo.value) == gone
    again = mesh.components.add(testing.ExampleComponent())
    assert again is not held and again.level == 0


# --- signals, parameters, algorithms ----------------------------------------------------------


def test_signal_connect_and_disconnect(algorithm):
    signal = algorithm.param("factor").changed
    first, second = [], []
    a = signal.connect(lambda: first.append(algorithm.p_factor))
    signal.connect(lambda: second.append(1))
    algorithm.p_factor = 2
    assert signal.disconnect(a) is True and signal.disconnect(a) is False
    algorithm.p_factor = 3
    assert first == [2.0] and second == [1, 1]
    assert signal.num_connections == 1


def test_exception_in_a_slot_propagates(algorithm):
    def fail():
        raise RuntimeError("slot failed")

    algorithm.param("name").changed.connect(fail)
    with pytest.raises(RuntimeError, match="^slot failed$"):
        algorithm.p_name = "other"


def test_parameters_by_name_and_by_attribute(algorithm):
    assert algorithm.parameter_names() == ["factor", "repeat", "name", "center", "offset", "version"]
    factor = algorithm.param("factor")
    assert (factor.name, factor.value, factor.read_only) == ("factor", 1.0, False)
    changes = recorder(factor.changed)
    algorithm.p_factor = 2
    factor.value = 2.0
    assert changes == [()] and algorithm.p_factor == 2.0
    algorithm.p_center = True
    algorithm.p_offset = [1, 2, 3]
    np.testing.assert_array_equal(algorithm.param("offset").value, [1, 2, 3])
    assert algorithm.configuration()["center"] is True
    factor.reset()
    assert algorithm.p_factor == 1.0 and len(changes) == 2


@pytest.mark.parametrize(
    "name, value, error, message",
    [
        ("factor", "x", TypeError, "parameter 'factor' takes a float, not 'str'"),
        ("repeat", 1.5, TypeError, "parameter 'repeat' takes an int, not 'float'"),
        ("offset", [1, 2], TypeError, "parameter 'offset' takes a vector of 3 numbers, not 'list'"),
        ("name", None, TypeError, "parameter 'name' takes a str, not 'NoneType'"),
        ("repeat", 2**40, ValueError,
         "parameter 'repeat' cannot take the integer 1099511627776, which does not fit in 32 bits"),
        ("version", 2, AttributeError, "parameter 'version' is read-only"),
    ],
)
def test_bad_parameter_values_change_nothing(algorithm, name, value, error, message):
    before = algorithm.configuration()
    with pytest.raises(error) as excinfo:
        setattr(algorithm, "p_" + name, value)
    assert str(excinfo.value) == message
    with pytest.raises(error):
        algorithm.param(name).value = value
    assert algorithm.configuration() == before


def test_unknown_parameters(algorithm):
    message = ("ExampleAlgorithm has no parameter 'bogus'; "
               "its parameters are: factor, repeat, name, center, offset, version")
    with pytest.raises(AttributeError) as excinfo:
        algorithm.p_bogus
    assert str(excinfo.value) == message
    with pytest.raises(AttributeError) as excinfo:
        algorithm.p_bogus = 1
    assert str(excinfo.value) == message
    with pytest.raises(KeyError) as excinfo:
        algorithm.param("bogus")
    assert excinfo.value.args[0] == message
    with pytest.raises(AttributeError) as excinfo:
        algorithm.missing
    assert str(excinfo.value) == "'ExampleAlgorithm' object has no attribute 'missing'"


def test_compute_status_progress_and_output(algorithm):
    assert algorithm.status != 0
    progress = recorder(algorithm.progress)
    algorithm.p_factor = 3
    algorithm.p_name = "big"
    algorithm.compute()
    assert algorithm.status == 0
    assert progress[-1] == (1.0,) and len(progress) == 3
    [output] = algorithm.take_output()
    assert type(output) is orbitane.Mesh and output.name == "big"
    np.testing.assert_array_equal(output.vertices, TRIANGLE * 3)
    assert algorithm.take_output() == []
    incomplete = testing.ExampleAlgorithm()
    incomplete.compute()
    assert incomplete.status == 4


def test_parameter_keeps_its_algorithm_alive(mesh):
    factor = testing.ExampleAlgorithm(mesh).param("factor")
    gc.collect()
    factor.value = 5
    assert factor.value == 5.0


# --- file I/O ---------------------------------------------------------------------------------


@pytest.fixture(scope="module")
def memory_format():
    testing.register_memory_format(".tstmem")
    return ".tstmem"


@pytest.mark.parametrize(
    "make",
    [
        lambda: orbitane.Mesh(TRIANGLE, [[0, 1, 2]]),
        lambda: orbitane.PointCloud(TRIANGLE),
        lambda: orbitane.graph.Graph(TRIANGLE, [[0, 1]]),
        lambda: orbitane.SharedImageSet(np.ones((2, 2), np.int8)),
    ],
    ids=["mesh", "cloud", "graph", "images"],
)
def test_open_returns_the_most_derived_type(memory_format, tmp_path, make):
    data = make()
    data.name = "saved"
    path = tmp_path / ("data" + memory_format.upper())
    orbitane.save(data, path)
    loaded = orbitane.open(path)
    assert type(loaded) is type(data) and loaded is not data
    assert loaded.name == "saved"


def test_missing_files_of_any_format_are_file_not_found_errors(memory_format, tmp_path):
    with pytest.raises(FileNotFoundError, match="no such file"):
        orbitane.open(tmp_path / ("absent" + memory_format))


def test_unknown_extensions_name_the_extension():
    with pytest.raises(ValueError) as excinfo:
        orbitane.open("scan.nosuchformat")
    assert str(excinfo.value) == 'cannot open "scan.nosuchformat": no reader for the file extension ".nosuchformat"'
    with pytest.raises(ValueError) as excinfo:
        orbitane.save(orbitane.Mesh(), "scan")
    assert str(excinfo.value) == 'cannot save "scan": the file name has no extension'


def test_plugins_are_imported_once_before_an_extension_is_refused(tmp_path, monkeypatch):
    plugin = tmp_path / "fake_orbitane_plugin.py"
    plugin.write_text(
        "from orbitane import _testing\n"
        "IMPORTS = globals().get('IMPORTS', 0) + 1\n"
        "_testing.register_memory_format('.plugfmt')\n"
    )
    monkeypatch.syspath_prepend(str(tmp_path))
    monkeypatch.setattr(orbitane, "_KNOWN_PLUGINS", ("fake_orbitane_plugin", "no_such_orbitane_plugin"))
    monkeypatch.setattr(orbitane, "_plugin_errors", None)
    monkeypatch.delitem(sys.modules, "fake_orbitane_plugin", raising=False)
    orbitane.save(orbitane.Mesh(), "a.plugfmt")
    assert type(orbitane.open("a.plugfmt")) is orbitane.Mesh
    with pytest.raises(ValueError) as excinfo:
        orbitane.open("a.stillunknown")
    assert isinstance(excinfo.value.__cause__, ModuleNotFoundError)
    assert sys.modules["fake_orbitane_plugin"].IMPORTS == 1


# --- logging ----------------------------------------------------------------------------------


@pytest.fixture
def native_level():
    before = orbitane.get_log_level()
    yield
    orbitane.set_log_level(before)


@pytest.mark.parametrize(
    "level, expected",
    [(0, logging.DEBUG), (1, logging.DEBUG), (2, logging.INFO), (3, logging.INFO), (4, logging.WARNING),
     (5, logging.ERROR), (6, logging.CRITICAL)],
)
def test_native_records_reach_python_logging(caplog, native_level, level, expected):
    orbitane.set_log_level(0)
    caplog.set_level(logging.DEBUG, logger="orbitane")
    testing.log(level, "Test.Category", "100% native", "src/Native.cpp", 42)
    [record] = caplog.records
    assert (record.name, record.levelno, record.getMessage()) == ("orbitane.Test.Category", expected, "100% native")
    assert (record.pathname, record.lineno) == ("src/Native.cpp", 42)


def test_global_level_filters_native_records(caplog, native_level):
    caplog.set_level(logging.DEBUG, logger="orbitane")
    orbitane.set_log_level(5)
    assert orbitane.get_log_level() == 5
    testing.log(4, "Test", "dropped")
    testing.log(5, "Test", "kept")
    assert [r.getMessage() for r in caplog.records] == ["kept"]
    assert caplog.records[0].pathname == __file__    # no native location: the Python caller
    with pytest.raises(ValueError) as excinfo:
        orbitane.set_log_level(7)
    assert str(excinfo.value) == "log level must lie between 0 and 6, got 7"
    assert orbitane.get_log_level() == 5


def test_a_failing_log_handler_does_not_reach_native_code(native_level, monkeypatch):
    class Failing(logging.Filter):
        def filter(self, record):
            raise RuntimeError("filter failed")

    logger = logging.getLogger("orbitane.Failing")
    failing = Failing()
    logger.addFilter(failing)
    unraisable = []
    monkeypatch.setattr(sys, "unraisablehook", unraisable.append)
    try:
        testing.log(6, "Failing", "boom")
    finally:
        logger.removeFilter(failing)
    assert [str(u.exc_value) for u in unraisable] == ["filter failed"]
