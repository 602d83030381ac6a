"""orbitane.export: a collection as mesh files, a markups file of its keypoints, its planes and a
table of its structures' numbers."""

import csv
import json
import os
import urllib.parse

import numpy as np
import pytest

pytest.importorskip("meshio")

import orbitane  # noqa: E402
import orbitane.anatomy as anatomy  # noqa: E402
from orbitane.export import file_name  # noqa: E402

SPACING = (0.5, 0.75, 2.0)
ODD_IDENTIFIER = 'odd/name "x".'


@pytest.fixture
def collection():
    labels = np.zeros((6, 9, 10), np.uint8)
    labels[1:4, 2:7, 1:5] = 1
    labels[2:5, 3:8, 6:9] = 2
    images = orbitane.SharedImageSet(labels, spacing=SPACING, modality=orbitane.Modality.LABEL)
    asc = anatomy.generic_asc_from_label_map(images, {1: "Orbitane.Liver", 2: ODD_IDENTIFIER})
    extra = anatomy.GenericAnatomicalStructure("plain")
    asc.add(extra)
    plain = asc.anatomical_structure("plain")
    plain.planes["mid sagittal"] = [1.0, 0.0, 0.0, -2.5]
    plain.pointclouds["..scan"] = orbitane.PointCloud(np.eye(3))
    return asc, labels


def test_keys_become_file_names_and_back():
    for key in ("Orbitane.Segmentation", "..", ".hidden", "a/b\\c", 'x y%"?*', "Ünïcode", "CON"):
        name = file_name(key)
        assert urllib.parse.unquote(name) == key
        assert not name.startswith(".") and "/" not in name and "\\" not in name


def test_export_writes_meshes_markups_planes_and_the_table(tmp_path, collection):
    asc, labels = collection
    written = orbitane.export(asc, tmp_path, mesh_format="ply")
    odd = tmp_path / file_name(ODD_IDENTIFIER)
    expected = {tmp_path / "Orbitane.Liver" / "Orbitane.Segmentation.ply", odd / "Orbitane.Segmentation.ply",
                tmp_path / "plain" / "pointclouds" / "%2E.scan.ply", tmp_path / "landmarks.mrk.json",
                tmp_path / "planes.json", tmp_path / "structures.csv"}
    assert {os.fspath(p) for p in expected} == set(written)
    assert type(orbitane.open(odd / "Orbitane.Segmentation.ply")) is orbitane.Mesh

    markups = json.loads((tmp_path / "landmarks.mrk.json").read_text())
    assert "markups-schema" in markups["@schema"]
    assert [m["name"] for m in markups["markups"]] == asc.anatomical_structure_identifiers()
    liver = markups["markups"][0]
    assert (liver["type"], liver["coordinateSystem"], liver["coordinateUnits"]) == ("Fiducial", "LPS", "mm")
    keypoints = asc.anatomical_structure("Orbitane.Liver").keypoints2.asdict()
    assert {p["label"]: p["position"] for p in liver["controlPoints"]} == {
        k: list(v) for k, v in keypoints.items()}
    assert markups["markups"][2]["controlPoints"] == []

    planes = json.loads((tmp_path / "planes.json").read_text())
    assert planes["planes"] == [{"structure": "plain", "key": "mid sagittal", "coefficients": [1.0, 0.0, 0.0, -2.5]}]

    with open(tmp_path / "structures.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    assert [r["identifier"] for r in rows] == ["Orbitane.Liver", ODD_IDENTIFIER, "plain"]
    for row, value in zip(rows, (1, 2)):
        z, y, x = np.nonzero(labels == value)
        assert int(row["voxel_count"]) == len(x)
        assert float(row["volume_mm3"]) == pytest.approx(len(x) * np.prod(SPACING))
        centroid = [float(row[f"centroid_{a}"]) for a in "xyz"]
        assert centroid == pytest.approx(np.mean([x, y, z], axis=1) * SPACING)
        low = [float(row[f"box_min_{a}"]) for a in "xyz"]
        high = [float(row[f"box_max_{a}"]) for a in "xyz"]
        assert low == pytest.approx((np.min([x, y, z], axis=1) - 0.5) * SPACING)
        assert high == pytest.approx((np.max([x, y, z], axis=1) + 0.5) * SPACING)
    assert set(rows[2].values()) == {"plain", ""}


def test_export_refuses_unknown_mesh_formats_before_writing(tmp_path, collection):
    with pytest.raises(ValueError, match="mesh_format"):
        orbitane.export(collection[0], tmp_path / "out", mesh_format="3ds")
    assert not (tmp_path / "out").exists()
