"""generic_asc_from_label_map: the checks before the conversion, the mapping handed to it, and the
structures it makes (surfaces, masks, keypoints) in the world of the label image."""

import numpy as np
import pytest

import orbitane
import orbitane.anatomy as anatomy

convert = anatomy.generic_asc_from_label_map
SEGMENTATION = "Orbitane.Segmentation"
LABEL = orbitane.Modality.LABEL
SINGLE = "generic_asc_from_label_map only supports a single image set"
LABELS_ONLY = "generic_asc_from_label_map only supports label images"
CORNERS_3D = sorted(f"Orbitane.BoundingBox.{v}{h}{d}" for v in ("Upper", "Lower") for h in ("Left", "Right")
                    for d in ("Front", "Back"))


def label_set(array, spacing=(1.0, 1.0, 1.0), matrix=None, modality=LABEL):
    return orbitane.SharedImageSet(np.asarray(array), spacing=spacing, matrix_to_world=matrix, modality=modality)


def ball(shape, centre, radius, label=1, dtype=np.uint8):
    z, y, x = np.indices(shape)
    inside = (x - centre[0]) ** 2 + (y - centre[1]) ** 2 + (z - centre[2]) ** 2 <= radius ** 2
    return np.where(inside, label, 0).astype(dtype)


def oblique(mirrored):
    angle = 0.7
    axis = np.array([1.0, -2.0, 0.5]) / np.linalg.norm([1.0, -2.0, 0.5])
    k = np.array([[0, -axis[2], axis[1]], [axis[2], 0, -axis[0]], [-axis[1], axis[0], 0]])
    m = np.eye(4)
    m[:3, :3] = np.eye(3) + np.sin(angle) * k + (1 - np.cos(angle)) * k @ k
    m[:3, 3] = [-30.0, 12.5, 4.0]
    if mirrored:
        m[:3, 0] *= -1
    return m


def to_world(matrix, spacing, index_xyz):
    p = np.asarray(index_xyz, dtype=float) * spacing
    return (matrix @ np.append(p, 1.0))[:3]


def mesh_quality(mesh):
    """Closedness, orientation and shape measures of a triangle mesh, independent of the native checks."""
    v, f = mesh.vertices, mesh.faces.astype(np.int64)
    n = len(v)
    directed = np.concatenate([f[:, [0, 1]], f[:, [1, 2]], f[:, [2, 0]]])
    keys = directed[:, 0] * n + directed[:, 1]
    reverse = directed[:, 1] * n + directed[:, 0]
    _, counts = np.unique(keys, return_counts=True)
    a, b, c = v[f[:, 0]], v[f[:, 1]], v[f[:, 2]]
    return {
        # every edge in exactly two faces that run along it in opposite directions
        "watertight": counts.max() == 1 and bool(np.isin(reverse, keys).all()),
        "min_area": float(np.min(np.linalg.norm(np.cross(b - a, c - a), axis=1)) / 2),
        "euler": len(np.unique(f)) - len(directed) // 2 + len(f),
        "volume": float(np.einsum("ij,ij->i", a, np.cross(b, c)).sum() / 6),
    }


def structure_of(asc, identifier):
    assert isinstance(asc, anatomy.GenericASC)
    return asc.anatomical_structure(identifier)


class TestSurface:
    @pytest.mark.parametrize("mirrored", [False, True], ids=["oblique", "mirrored"])
    def test_sphere_is_a_closed_outward_surface_around_its_voxels(self, mirrored):
        spacing = np.array([0.9, 1.1, 1.4])
        matrix = oblique(mirrored)
        labels = ball((27, 26, 25), (12.2, 12.6, 13.1), 10.0, label=3)
        asc = convert(label_set(labels, spacing, matrix), {3: "liver"})
        s = structure_of(asc, "liver")
        mesh = s.meshes[SEGMENTATION]
        assert isinstance(mesh, orbitane.Mesh)
        np.testing.assert_array_equal(mesh.matrix_to_world, np.eye(4))
        q = mesh_quality(mesh)
        assert q["watertight"]
        assert q["min_area"] > 1e-6
        assert q["euler"] == 2
        voxel_volume = np.count_nonzero(labels) * spacing.prod()
        assert q["volume"] == pytest.approx(voxel_volume, rel=0.03)
        # every vertex lies on the label's boundary: inside the box of the voxels in the world
        index = (np.linalg.inv(matrix) @ np.c_[mesh.vertices, np.ones(len(mesh.vertices))].T)[:3].T / spacing
        z, y, x = np.nonzero(labels)
        assert np.all(index.min(axis=0) >= [x.min() - 0.5 - 1e-9, y.min() - 0.5 - 1e-9, z.min() - 0.5 - 1e-9])
        assert np.all(index.max(axis=0) <= [x.max() + 0.5 + 1e-9, y.max() + 0.5 + 1e-9, z.max() + 0.5 + 1e-9])

    def test_several_labels_each_get_a_closed_surface(self):
        labels = np.zeros((16, 16, 30), np.int16)
        labels[2:8, 3:9, 2:10] = 4
        labels[2:8, 3:9, 10:18] = 5      # touches label 4 face to face
        labels[9:14, 9:14, 20:28] = -2
        labels[10:13, 10:13, 22:26] = 0  # a cavity: a second, inner surface
        asc = convert(label_set(labels, (0.5, 0.5, 2.0)), {})
        assert asc.anatomical_structure_identifiers() == ["Label -2", "Label 4", "Label 5"]
        for identifier, euler in (("Label 4", 2), ("Label 5", 2), ("Label -2", 4)):
            q = mesh_quality(structure_of(asc, identifier).meshes[SEGMENTATION])
            assert q["watertight"], identifier
            assert q["euler"] == euler, identifier
            assert q["volume"] > 0
        hollow = mesh_quality(structure_of(asc, "Label -2").meshes[SEGMENTATION])
        assert hollow["volume"] < 5 * 5 * 8 * 0.5 * 0.5 * 2.0


class TestStructureContents:
    def test_position_box_frame_and_mask_of_a_label(self):
        spacing = np.array([0.8, 1.25, 2.0])
        matrix = oblique(False)
        labels = np.zeros((12, 14, 16), np.uint16)
        labels[3:9, 2:7, 5:15] = 700     # z 3..8, y 2..6, x 5..14
        labels[4, 8, 9] = 700            # an outlier voxel pulls centroid and box
        asc = convert(label_set(labels, spacing, matrix), {700: "femur"})
        s = structure_of(asc, "femur")
        assert s.is_2d is False

        z, y, x = np.nonzero(labels)
        centroid = to_world(matrix, spacing, [x.mean(), y.mean(), z.mean()])
        keypoints = s.keypoints2
        assert sorted(keypoints.keys()) == sorted(CORNERS_3D + ["Orbitane.Position"])
        np.testing.assert_allclose(keypoints["Orbitane.Position"], centroid, atol=1e-9)
        expected_frame = np.eye(4)
        expected_frame[:3, 3] = centroid
        np.testing.assert_allclose(s.matrix_to_world, expected_frame, atol=1e-9)
        low = np.array([x.min(), y.min(), z.min()]) - 0.5
        high = np.array([x.max(), y.max(), z.max()]) + 0.5
        for name in CORNERS_3D:
            corner = [high[0] if "Right" in name else low[0], high[1] if "Lower" in name else low[1],
                      high[2] if "Back" in name else low[2]]
            np.testing.assert_allclose(keypoints[name], to_world(matrix, spacing, corner), atol=1e-9, err_msg=name)

        # the mask: the voxels of the label in their box plus one voxel, where they were in the world
        mask_set = s.images[SEGMENTATION]
        assert isinstance(mask_set, orbitane.SharedImageSet)
        assert len(mask_set) == 1
        assert mask_set.modality == LABEL
        np.testing.assert_allclose(mask_set.spacing, spacing)
        mask = mask_set.array()
        assert mask.shape == (z.max() - z.min() + 3, y.max() - y.min() + 3, x.max() - x.min() + 3)
        expected = np.pad(labels[z.min():z.max() + 1, y.min():y.max() + 1, x.min():x.max() + 1] == 700, 1)
        np.testing.assert_array_equal(mask, expected.astype(mask.dtype))
        first = to_world(matrix, spacing, [x.min() - 1, y.min() - 1, z.min() - 1])
        np.testing.assert_allclose(mask_set.matrix_to_world @ np.array([0, 0, 0, 1.0]), np.append(first, 1), atol=1e-9)
        attributes = s.images.attributes[SEGMENTATION]
        assert attributes["voxelCount"] == len(x)
        assert attributes["volume"] == pytest.approx(len(x) * spacing.prod())

    def test_labels_at_the_border_keep_their_mask_and_surface(self):
        labels = np.zeros((6, 6, 6), np.uint8)
        labels[0:3, 0:6, 4:6] = 1
        asc = convert(label_set(labels), {1: "edge"})    # the structure is borrowed from it
        s = structure_of(asc, "edge")
        mask_set = s.images[SEGMENTATION]
        assert mask_set.array().shape == (5, 8, 4)
        np.testing.assert_allclose(mask_set.matrix_to_world[:3, 3], [3.0, -1.0, -1.0])
        assert mask_set.array().sum() == labels.sum()
        q = mesh_quality(s.meshes[SEGMENTATION])
        assert q["watertight"] and q["euler"] == 2

    def test_planar_image_gives_planar_structures(self):
        labels = np.zeros((20, 30), np.uint8)
        labels[4:9, 10:22] = 2
        spacing = np.array([0.5, 0.25, 3.0])
        asc = convert(label_set(labels, spacing), {2: "lesion"})
        s = structure_of(asc, "lesion")
        assert s.is_2d is True
        corners = sorted(k for k in s.keypoints2.keys() if k.startswith("Orbitane.BoundingBox."))
        assert corners == ["Orbitane.BoundingBox.LowerLeft", "Orbitane.BoundingBox.LowerRight",
                           "Orbitane.BoundingBox.UpperLeft", "Orbitane.BoundingBox.UpperRight"]
        np.testing.assert_allclose(s.keypoints2["Orbitane.BoundingBox.UpperLeft"], [9.5 * 0.5, 3.5 * 0.25, 0])
        np.testing.assert_allclose(s.keypoints2["Orbitane.BoundingBox.LowerRight"], [21.5 * 0.5, 8.5 * 0.25, 0])
        np.testing.assert_allclose(s.keypoints2["Orbitane.Position"], [15.5 * 0.5, 6 * 0.25, 0])
        mask = s.images[SEGMENTATION]
        assert mask.array().shape == (7, 14)
        assert mask.array().sum() == 60
        assert s.images.attributes[SEGMENTATION]["volume"] == pytest.approx(60 * spacing.prod())
        q = mesh_quality(s.meshes[SEGMENTATION])
        assert q["watertight"] and q["euler"] == 2


class TestMapping:
    @pytest.fixture
    def three_labels(self):
        labels = np.zeros((4, 4, 12), np.uint8)
        labels[1:3, 1:3, 1:3] = 2
        labels[1:3, 1:3, 5:7] = 6
        labels[1:3, 1:3, 9:11] = 9
        return label_set(labels)

    def test_every_present_value_becomes_a_structure(self, three_labels):
        assert convert(three_labels, {}).anatomical_structure_identifiers() == ["Label 2", "Label 6", "Label 9"]
        named = convert(three_labels, {6: "aorta", 40: "absent"})
        assert named.anatomical_structure_identifiers() == ["Label 2", "aorta", "Label 9"]

    def test_values_that_share_a_name_become_one_structure(self, three_labels):
        asc = convert(three_labels, {2: "rib", 9: "rib", 6: "spine"})
        assert asc.anatomical_structure_identifiers() == ["rib", "spine"]
        rib = asc.anatomical_structure("rib")
        assert rib.images.attributes[SEGMENTATION]["voxelCount"] == 16
        assert rib.images[SEGMENTATION].array().sum() == 16
        q = mesh_quality(rib.meshes[SEGMENTATION])
        assert q["watertight"] and q["euler"] == 4
        np.testing.assert_allclose(rib.keypoints2["Orbitane.Position"], [5.5, 1.5, 1.5])

    def test_a_default_name_never_captures_a_label(self, three_labels):
        asc = convert(three_labels, {6: "Label 2", 9: "Label 2 (unnamed)"})
        assert asc.anatomical_structure_identifiers() == ["Label 2 (unnamed 2)", "Label 2", "Label 2 (unnamed)"]
        for name in asc.anatomical_structure_identifiers():
            assert asc.anatomical_structure(name).images.attributes[SEGMENTATION]["voxelCount"] == 8

    def test_names_that_are_not_utf8_are_refused(self, three_labels):
        with pytest.raises(ValueError) as error:
            convert(three_labels, {6: b"aorta\xff"})
        assert str(error.value) == "The label name 'aorta\ufffd' is not valid UTF-8"

    def test_the_image_sets_own_label_names_are_not_consulted(self, three_labels):
        component = orbitane.LabelDataComponent()
        component.set_label(6, "heart")
        three_labels.components.add(component)
        asc = convert(three_labels, {})
        assert asc.anatomical_structure_identifiers() == ["Label 2", "Label 6", "Label 9"]

    def test_keys_whose_conversion_empties_the_mapping_are_all_read(self, three_labels):
        class Value:
            """A label value that empties the mapping it is read from."""

            def __init__(self, value):
                self.value = value

            def __index__(self):
                names.clear()
                return self.value

        names = {Value(v): f"{'organ' * 20} {v}" for v in (2, 6, 9)}
        asc = convert(three_labels, names)
        assert names == {}
        assert asc.anatomical_structure_identifiers() == [f"{'organ' * 20} {v}" for v in (2, 6, 9)]

    def test_each_call_makes_a_new_collection(self, three_labels):
        first, second = convert(three_labels, {}), convert(three_labels, {})
        assert first is not second
        first.pop("Label 2")
        assert len(second) == 3

    @pytest.mark.parametrize("dtype", ["uint8", "int8", "uint16", "int16", "uint32", "int32"])
    def test_every_integer_voxel_type(self, dtype):
        labels = np.zeros((3, 3, 3), dtype)
        labels[1, 1, 1] = 100
        asc = convert(label_set(labels), {100: "dot"})
        q = mesh_quality(asc.anatomical_structure("dot").meshes[SEGMENTATION])
        assert q["watertight"] and q["euler"] == 2

    def test_no_collection_gives_none(self):
        # a label image of a non-integer type cannot be converted: the algorithm makes nothing
        assert convert(label_set(np.ones((3, 3, 3), np.float32)), {1: "x"}) is None


class TestChecks:
    def test_signature_and_documentation(self):
        expected = ("generic_asc_from_label_map(arg0: orbitane.SharedImageSet, arg1: collections.abc.Mapping["
                    "typing.SupportsInt | typing.SupportsIndex, str]) -> orbitane.anatomy.GenericASC\n")
        assert convert.__doc__ == expected
        assert convert.__name__ == "generic_asc_from_label_map"

    def test_only_one_image_per_set(self):
        two = label_set(np.ones((2, 2, 2), np.uint8))
        two.add(np.ones((2, 2, 2), np.uint8))
        with pytest.raises(ValueError) as error:
            convert(two, {})
        assert str(error.value) == SINGLE
        with pytest.raises(ValueError) as error:
            convert(orbitane.SharedImageSet(), {1: "a"})
        assert str(error.value) == SINGLE

    def test_only_label_images(self):
        with pytest.raises(ValueError) as error:
            convert(label_set(np.ones((2, 2, 2), np.uint8), modality=orbitane.Modality.CT), {1: "a"})
        assert str(error.value) == LABELS_ONLY

    @pytest.mark.parametrize("args", [
        (None, {}),
        (orbitane.Mesh(np.zeros((3, 3)), [[0, 1, 2]]), {}),
        ("labels", {}),
        ("image", {1.5: "a"}),
        ("image", {1: 2}),
        ("image", {2 ** 40: "a"}),
        ("image", [(1, "a")]),
        ("image", None),
        ("image",),
    ], ids=["none", "mesh", "str", "float key", "int value", "huge key", "list", "none mapping", "missing"])
    def test_arguments_that_do_not_convert(self, args):
        image = label_set(np.ones((2, 2, 2), np.uint8))
        args = tuple(image if a == "image" else a for a in args)
        with pytest.raises(TypeError) as error:
            convert(*args)
        assert str(error.value).startswith("generic_asc_from_label_map(): incompatible function arguments.")

    def test_arguments_cannot_be_named(self):
        image = label_set(np.ones((2, 2, 2), np.uint8))
        for kwargs in ({"arg0": image, "arg1": {}}, {"arg1": {}}, {"label_map": image, "mapping": {}}):
            with pytest.raises(TypeError):
                convert(**kwargs)
        with pytest.raises(TypeError):
            convert(image, arg1={})
        assert isinstance(convert(image, {}), anatomy.GenericASC)

    def test_a_dict_subclass_is_a_mapping(self):
        class Names(dict):
            pass

        asc = convert(label_set(np.ones((2, 2, 2), np.uint8)), Names({1: "block"}))
        assert asc.anatomical_structure_identifiers() == ["block"]
