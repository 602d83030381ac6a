"""Meshes and point clouds as STL, PLY, OBJ and VTK files in world coordinates, written atomically."""

import os

import numpy as np
import pytest

pytest.importorskip("meshio")

import orbitane  # noqa: E402

TETRAHEDRON = np.array([[0.0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1]])
OUTWARD_FACES = np.array([[0, 2, 1], [0, 1, 3], [0, 3, 2], [1, 2, 3]])


def mirroring_motion():
    matrix = np.eye(4)
    matrix[:3, :3] = np.array([[0.0, -1, 0], [1, 0, 0], [0, 0, 1]]) @ np.diag([1.0, 1, -2])
    matrix[:3, 3] = [10.0, -4.0, 2.5]
    return matrix


def signed_volume(vertices, faces):
    a, b, c = (vertices[faces[:, i]] for i in range(3))
    return np.einsum("ij,ij->i", a, np.cross(b, c)).sum() / 6.0


def sorted_rows(points):
    return points[np.lexsort(points.T[::-1])]


@pytest.mark.parametrize("suffix", [".stl", ".ply", ".obj", ".vtk"])
def test_meshes_are_written_in_world_coordinates_and_keep_facing_outwards(tmp_path, suffix):
    mesh = orbitane.Mesh(TETRAHEDRON, OUTWARD_FACES)
    mesh.matrix_to_world = mirroring_motion()
    world = TETRAHEDRON @ mirroring_motion()[:3, :3].T + mirroring_motion()[:3, 3]
    orbitane.save(mesh, tmp_path / ("mesh" + suffix))
    loaded = orbitane.open(tmp_path / ("mesh" + suffix))
    assert type(loaded) is orbitane.Mesh
    assert np.array_equal(loaded.matrix_to_world, np.eye(4))
    assert np.allclose(sorted_rows(loaded.vertices), sorted_rows(world), atol=1e-5)
    assert loaded.num_faces == 4
    assert signed_volume(loaded.vertices, loaded.faces) == pytest.approx(2 / 6, rel=1e-5)


def test_point_clouds_go_to_ply_with_their_normals_turned_into_the_world(tmp_path):
    normals = np.array([[1.0, 0, 0], [0, 1, 0], [0, 0, 1], [0, 0.6, 0.8]])
    cloud = orbitane.PointCloud(TETRAHEDRON, normals)
    cloud.matrix_to_world = mirroring_motion()
    orbitane.save(cloud, tmp_path / "cloud.ply")
    loaded = orbitane.open(tmp_path / "cloud.ply")
    assert type(loaded) is orbitane.PointCloud
    motion = mirroring_motion()
    assert np.allclose(loaded.points, TETRAHEDRON @ motion[:3, :3].T + motion[:3, 3])
    turned = normals @ np.linalg.inv(motion[:3, :3])
    assert np.allclose(loaded.normals, turned / np.linalg.norm(turned, axis=1, keepdims=True))
    with pytest.raises(ValueError, match="cloud.stl"):
        orbitane.save(cloud, tmp_path / "cloud.stl")


def test_every_format_reports_a_missing_file_as_file_not_found(tmp_path):
    for suffix in (".orb", ".nii", ".nii.gz", ".mgh", ".mgz", ".stl", ".ply", ".obj", ".vtk"):
        with pytest.raises(FileNotFoundError):
            orbitane.open(tmp_path / ("absent" + suffix))


def test_failed_saves_keep_the_old_file_and_abandoned_temporaries_are_cleared(tmp_path):
    target = tmp_path / "shape.stl"
    orbitane.save(orbitane.Mesh(TETRAHEDRON, OUTWARD_FACES), target)
    before = target.read_bytes()
    # what a writer killed halfway leaves behind, and a file of the user's that only looks alike
    (tmp_path / ".shape.stl.tmp-99999-0-0").write_bytes(b"half")
    (tmp_path / ".shape.stl.tmp-mine").write_bytes(b"user")
    with pytest.raises(ValueError, match="shape.stl"):
        orbitane.save(orbitane.Mesh(), target)
    assert target.read_bytes() == before
    with pytest.raises(OSError):
        orbitane.save(orbitane.Mesh(TETRAHEDRON, OUTWARD_FACES), tmp_path / "no-folder" / "shape.stl")
    orbitane.save(orbitane.Mesh(TETRAHEDRON, OUTWARD_FACES[:2]), target)
    assert target.read_bytes() != before
    assert sorted(os.listdir(tmp_path)) == [".shape.stl.tmp-mine", "shape.stl"]


def test_truncated_and_corrupt_mesh_files_are_value_errors_naming_the_file(tmp_path):
    # truncated headers and solids once kept the reader waiting for their end forever
    (tmp_path / "header.ply").write_bytes(b"ply\nformat binary_little_endian 1.0\nelement vertex 9\n")
    (tmp_path / "solid.stl").write_text("solid x\nfacet normal 0 0 1\n outer loop\n  vertex 0 0 0\n")
    (tmp_path / "short.stl").write_bytes(b"\x00" * 80 + (50).to_bytes(4, "little") + b"\x00" * 30)
    (tmp_path / "index.obj").write_text("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 7\n")
    for name in ("header.ply", "solid.stl", "short.stl", "index.obj"):
        with pytest.raises(ValueError, match=name):
            orbitane.open(tmp_path / name)
