"""NIfTI and MGH images: where their voxels land in the world (LPS), exact round trips, and the
files that are refused without anything being written."""

import gzip
import os
import sys

import numpy as np
import pytest

nibabel = pytest.importorskip("nibabel")
from nibabel.affines import apply_affine  # noqa: E402

import orbitane  # noqa: E402
import orbitane.anatomy as anatomy  # noqa: E402

LABEL = orbitane.Modality.LABEL
RAS_TO_LPS = np.diag([-1.0, -1.0, 1.0, 1.0])


def oblique_affine(spacing=(0.7, 1.3, 2.1), mirrored=True):
    """A rotation about a skew axis, anisotropic voxels, a flipped axis when mirrored, an offset."""
    axis = np.array([0.3, -0.8, 0.5]) / np.linalg.norm([0.3, -0.8, 0.5])
    k = np.array([[0, -axis[2], axis[1]], [axis[2], 0, -axis[0]], [-axis[1], axis[0], 0]])
    rotation = np.eye(3) + np.sin(0.6) * k + (1 - np.cos(0.6)) * k @ k
    affine = np.eye(4)
    affine[:3, :3] = rotation @ np.diag(spacing) @ np.diag([1, -1 if mirrored else 1, 1])
    affine[:3, 3] = [-41.25, 17.5, 63.0]
    return affine


def label_volume():
    """Two labels in file axes (x, y, z): a ball and a box that touches the volume's edge."""
    x, y, z = np.indices((24, 20, 14))
    labels = np.zeros(x.shape, np.int16)
    labels[(x - 8) ** 2 + ((y - 9) * 1.2) ** 2 + ((z - 6) * 1.5) ** 2 <= 30] = 3
    labels[15:24, 4:12, 2:9] = 7
    return labels


def write_nifti(path, values, affine, intent=None, kind=None):
    image = (kind or nibabel.Nifti1Image)(values, affine)
    if intent:
        image.header.set_intent(intent)
    nibabel.save(image, str(path))
    return nibabel.load(str(path))


def test_label_map_structures_land_where_nibabel_puts_the_labels(tmp_path):
    path = tmp_path / "seg.nii.gz"
    written = write_nifti(path, label_volume(), oblique_affine(), intent="label")
    affine, labels = written.affine, np.asarray(written.dataobj)

    images = orbitane.open(path)
    assert images.modality == LABEL and images.array().dtype == np.int16
    assert np.allclose(images.spacing, np.linalg.norm(affine[:3, :3], axis=0))
    asc = anatomy.generic_asc_from_label_map(images, {3: "ball", 7: "box"})
    assert asc.anatomical_structure_identifiers() == ["ball", "box"]
    for value, identifier in ((3, "ball"), (7, "box")):
        indices = np.argwhere(labels == value)
        expected = (RAS_TO_LPS[:3, :3] @ apply_affine(affine, indices).mean(axis=0))
        structure = asc.anatomical_structure(identifier)
        assert np.allclose(structure.keypoints2["Orbitane.Position"], expected, rtol=0, atol=1e-6)

        # the surface, read back by another library, is closed, faces outwards and stays in the label's box
        mesh_path = tmp_path / f"{identifier}.stl"
        orbitane.save(structure.meshes["Orbitane.Segmentation"], mesh_path)
        trimesh = pytest.importorskip("trimesh")
        surface = trimesh.load(str(mesh_path))
        assert surface.is_watertight and surface.volume > 0
        in_voxels = apply_affine(np.linalg.inv(affine), (RAS_TO_LPS[:3, :3] @ surface.vertices.T).T)
        assert np.all(in_voxels >= indices.min(axis=0) - 1 - 1e-9)
        assert np.all(in_voxels <= indices.max(axis=0) + 1 + 1e-9)


def test_scaled_voxels_are_float64_and_stored_ones_keep_their_type(tmp_path):
    affine = oblique_affine(mirrored=False)
    stored = np.arange(2 * 3 * 4, dtype=">u2").reshape(2, 3, 4)
    image = nibabel.Nifti1Image(stored, affine)
    image.header.set_slope_inter(0.5, -3.0)
    nibabel.save(image, str(tmp_path / "scaled.nii"))
    scaled = orbitane.open(tmp_path / "scaled.nii").array()
    assert scaled.dtype == np.float64
    assert np.array_equal(scaled, stored.T * 0.5 - 3.0)

    write_nifti(tmp_path / "plain.nii", stored, affine)
    plain = orbitane.open(tmp_path / "plain.nii", modality=orbitane.Modality.CT)
    assert plain.modality == orbitane.Modality.CT
    assert plain.array().dtype == np.uint16 and np.array_equal(plain.array(), stored.T)


@pytest.mark.parametrize(
    "suffix, dtype, volumes, kind",
    [(".nii.gz", np.int16, 1, None), (".nii", np.uint32, 3, None), (".nii.gz", np.float64, 2, "Nifti2Image"),
     (".mgz", np.int32, 1, None), (".mgz", np.float32, 2, None)],
)
def test_files_round_trip_exactly(tmp_path, suffix, dtype, volumes, kind):
    rng = np.random.default_rng(7)
    values = (rng.random((9, 7, 5, volumes)) * 1000).astype(dtype).squeeze(axis=3 if volumes == 1 else ())
    source = tmp_path / ("source" + suffix)
    if suffix == ".mgz":
        nibabel.save(nibabel.MGHImage(values, oblique_affine()), str(source))
    else:
        write_nifti(source, values, oblique_affine(), intent="label" if dtype == np.int16 else None,
                    kind=getattr(nibabel, kind) if kind else None)
    first = nibabel.load(str(source))

    images = orbitane.open(source)
    assert len(images) == volumes
    copy = tmp_path / ("copy" + suffix)
    orbitane.save(images, copy)
    second = nibabel.load(str(copy))
    assert np.abs(second.affine - first.affine).max() < 1e-6
    assert second.get_data_dtype() == first.get_data_dtype()
    assert np.array_equal(np.asarray(second.dataobj), np.asarray(first.dataobj))
    if suffix != ".mgz":
        assert second.header.get_intent()[0] == first.header.get_intent()[0]
    again = orbitane.open(copy)
    assert voxel_shift(again, images, values.shape) < 1e-6
    assert again.modality == images.modality


def voxel_shift(a, b, shape):
    """The largest distance in mm between the world positions two image sets give a corner voxel."""
    corners = np.array([[i, j, k, 1.0] for i in (0, shape[0] - 1) for j in (0, shape[1] - 1) for k in (0, shape[2] - 1)])
    place = [s.matrix_to_world @ np.diag([*s.spacing, 1.0]) @ corners.T for s in (a, b)]
    return np.abs(place[0] - place[1]).max()


def test_a_double_precision_matrix_survives_a_nifti_file(tmp_path):
    matrix = RAS_TO_LPS @ oblique_affine() @ np.diag([1 / 0.7, 1 / 1.3, 1 / 2.1, 1])
    matrix[:3, 3] += [1e-4 / 3, 123.456789012, -0.1]
    images = orbitane.SharedImageSet(np.ones((4, 5, 6), np.uint8), spacing=(0.7, 1.3, 2.1),
                                     matrix_to_world=matrix, modality=LABEL)
    orbitane.save(images, tmp_path / "exact.nii.gz")
    again = orbitane.open(tmp_path / "exact.nii.gz")
    assert voxel_shift(again, images, (6, 5, 4)) < 1e-6
    assert again.modality == LABEL


def _no_litter(directory, *kept):
    return sorted(os.listdir(directory)) == sorted(kept)


def bad_files(tmp_path):
    good = tmp_path / "good.nii.gz"
    write_nifti(good, label_volume(), oblique_affine())
    raw = good.read_bytes()
    (tmp_path / "truncated.nii.gz").write_bytes(raw[: len(raw) // 2])
    (tmp_path / "corrupt.nii").write_bytes(b"\x00" * 60 + os.urandom(400))
    with gzip.open(tmp_path / "inner.nii.gz", "wb") as f:
        f.write(gzip.decompress(raw)[:400])
    singular = oblique_affine()
    singular[:3, 2] = singular[:3, 0]
    write_nifti(tmp_path / "singular.nii", label_volume(), singular)
    write_nifti(tmp_path / "axes.nii", np.zeros((3, 3, 3, 2, 2), np.uint8), np.eye(4))
    write_nifti(tmp_path / "fractional.nii", np.full((3, 3, 3), 1.5, np.float32), np.eye(4))
    (tmp_path / "folder.nii").mkdir()
    return {
        "missing.nii.gz": (FileNotFoundError, "no such file", None),
        "folder.nii": (IsADirectoryError, "directory", None),
        "truncated.nii.gz": (ValueError, None, None),
        "inner.nii.gz": (ValueError, None, None),
        "corrupt.nii": (ValueError, None, None),
        "singular.nii": (ValueError, "not invertible", None),
        "axes.nii": (ValueError, "five axes|5 axes", None),
        "fractional.nii": (ValueError, "fractional", LABEL),
    }


def test_bad_files_are_refused_naming_the_file(tmp_path):
    for name, (error, text, modality) in bad_files(tmp_path).items():
        with pytest.raises(error, match=text) as excinfo:
            orbitane.open(tmp_path / name, modality=modality)
        assert str(tmp_path / name) in str(excinfo.value), name
    assert isinstance(orbitane.open(tmp_path / "fractional.nii").array()[0, 0, 0], np.float32)


def test_refused_saves_write_nothing_and_keep_the_old_file(tmp_path):
    target = tmp_path / "kept.nii.gz"
    orbitane.save(orbitane.SharedImageSet(np.ones((2, 2, 2), np.uint8)), target)
    before = target.read_bytes()
    singular = np.eye(4)
    singular[2, 2] = 0
    refused = [
        (orbitane.SharedImageSet(np.ones((2, 2, 2), np.uint8), matrix_to_world=singular), ValueError),
        (orbitane.SharedImageSet(), ValueError),
        (orbitane.Mesh(), TypeError),
    ]
    uneven = orbitane.SharedImageSet(np.ones((2, 2, 2), np.uint8))
    uneven.add(np.ones((2, 2, 3), np.uint8))
    refused.append((uneven, ValueError))
    for data, error in refused:
        with pytest.raises(error, match="kept.nii.gz"):
            orbitane.save(data, target)
        with pytest.raises(error):
            orbitane.save(data, tmp_path / "new.nii")
    with pytest.raises(ValueError, match="uint16"):
        orbitane.save(orbitane.SharedImageSet(np.ones((2, 2, 2), np.uint16)), tmp_path / "new.mgz")
    assert target.read_bytes() == before
    assert _no_litter(tmp_path, "kept.nii.gz")


def test_a_missing_library_is_named(tmp_path, monkeypatch):
    monkeypatch.setitem(sys.modules, "nibabel", None)
    with pytest.raises(ModuleNotFoundError, match="install it with 'pip install nibabel'"):
        orbitane.open(tmp_path / "any.nii.gz")
