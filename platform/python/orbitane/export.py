"""A collection of anatomical structures as files that other tools read.

The collection is taken as it behaves (identifiers, structures and their stores), so that this
module needs nothing of the anatomy extension to be imported.
"""

import csv
import io
import json
import os
import urllib.parse

import numpy as np

from .formats import surfaces
from .formats.atomic import replacing

MESH_FORMATS = ("stl", "ply", "obj", "vtk")
MARKUPS_FILE = "landmarks.mrk.json"
PLANES_FILE = "planes.json"
TABLE_FILE = "structures.csv"
# the schema that viewers reading markups files check for
_MARKUPS_SCHEMA = ("https://raw.githubusercontent.com/slicer/slicer/master/Modules/Loadable/Markups/"
                   "Resources/Schema/markups-schema-v1.0.3.json#")

# what the label-map conversion records about each structure
_SEGMENTATION = "Orbitane.Segmentation"
_CENTROID = "Orbitane.Position"
_BOX_CORNER_PREFIX = "Orbitane.BoundingBox."
TABLE_COLUMNS = ("identifier", "voxel_count", "volume_mm3", "centroid_x", "centroid_y", "centroid_z",
                 "box_min_x", "box_min_y", "box_min_z", "box_max_x", "box_max_y", "box_max_z")


def file_name(key):
    """A file name for a key or identifier that ``urllib.parse.unquote`` turns back into it.

    Everything but letters, digits and "_.-~" is percent-encoded, and so is a leading dot, so that
    no name is hidden, "." or "..", or holds a separator.
    """
    name = urllib.parse.quote(key, safe="")
    return "%2E" + name[1:] if name.startswith(".") else name


def _write_text(path, text):
    with replacing(path) as temporary, open(temporary, "w", encoding="utf-8", newline="") as file:
        file.write(text)


def _markup(identifier, keypoints):
    points = [{"id": str(n), "label": key, "position": [float(c) for c in position], "positionStatus": "defined"}
              for n, (key, position) in enumerate(keypoints.items(), start=1)]
    return {"type": "Fiducial", "name": identifier, "coordinateSystem": "LPS", "coordinateUnits": "mm",
            "controlPoints": points}


def _planes(identifier, planes):
    return [{"structure": identifier, "key": key, "coefficients": [float(c) for c in plane]}
            for key, plane in planes.items()]


def _segmentation_attributes(structure):
    if _SEGMENTATION not in structure.images:
        return {}
    attributes = structure.images.attributes[_SEGMENTATION]
    return {name: attributes[name] for name in ("voxelCount", "volume") if name in attributes}


def _table_row(identifier, structure, keypoints):
    attributes = _segmentation_attributes(structure)
    count = attributes.get("voxelCount", "")
    # counts past the range of an int attribute are stored as whole floats
    row = [identifier, int(count) if isinstance(count, float) else count, attributes.get("volume", "")]
    centroid = keypoints.get(_CENTROID)
    row += [float(c) for c in centroid] if centroid is not None else [""] * 3
    corners = [p for key, p in keypoints.items() if key.startswith(_BOX_CORNER_PREFIX)]
    if corners:
        corners = np.array(corners, dtype=np.float64)
        row += [float(c) for c in corners.min(axis=0)] + [float(c) for c in corners.max(axis=0)]
    else:
        row += [""] * 6
    return row


def _table_text(rows):
    text = io.StringIO()
    writer = csv.writer(text, lineterminator="\n")
    writer.writerow(TABLE_COLUMNS)
    writer.writerows(rows)
    return text.getvalue()


def _export_elements(structure, folder, mesh_format, written):
    meshes, clouds = structure.meshes.asdict(), structure.pointclouds.asdict()
    if meshes or clouds:
        os.makedirs(folder, exist_ok=True)
    for key, mesh in meshes.items():
        path = os.path.join(folder, f"{file_name(key)}.{mesh_format}")
        surfaces.write_surface(mesh, path, mesh_format)
        written.append(path)
    if clouds:
        # a folder of their own, so that a point cloud never takes a mesh's PLY file name
        os.makedirs(os.path.join(folder, "pointclouds"), exist_ok=True)
    for key, cloud in clouds.items():
        path = os.path.join(folder, "pointclouds", f"{file_name(key)}.ply")
        surfaces.write_surface(cloud, path, "ply")
        written.append(path)


def export(collection, directory, mesh_format="stl"):
    """Writes the collection's structures as files other tools read; returns the paths written.

    For every structure its meshes go to ``<identifier>/<key>.<mesh_format>`` and its point clouds
    to ``<identifier>/pointclouds/<key>.ply`` (identifiers and keys through ``file_name``), all in
    world (LPS) coordinates; all keypoints go to one markups file ``landmarks.mrk.json`` (one
    "Fiducial" markup per structure, control points labelled by key), all planes to
    ``planes.json`` (coefficients (a, b, c, d) of a*x + b*y + c*z + d = 0), and a
    ``structures.csv`` has one row per structure: identifier, voxel count, volume in mm3, centroid
    and bounding box, empty where a structure has none. Every file is replaced atomically.
    """
    mesh_format = str(mesh_format).lower().lstrip(".")
    if mesh_format not in MESH_FORMATS:
        raise ValueError(f"mesh_format must be one of {', '.join(MESH_FORMATS)}, not {mesh_format!r}")
    directory = os.fspath(directory)
    os.makedirs(directory, exist_ok=True)
    written, markups, planes, rows = [], [], [], []
    for identifier in collection.anatomical_structure_identifiers():
        structure = collection.anatomical_structure(identifier)
        keypoints = structure.keypoints2.asdict()
        _export_elements(structure, os.path.join(directory, file_name(identifier)), mesh_format, written)
        markups.append(_markup(identifier, keypoints))
        planes += _planes(identifier, structure.planes.asdict())
        rows.append(_table_row(identifier, structure, keypoints))
    documents = {
        MARKUPS_FILE: json.dumps({"@schema": _MARKUPS_SCHEMA, "markups": markups}, indent=2) + "\n",
        PLANES_FILE: json.dumps({"coordinateSystem": "LPS", "coordinateUnits": "mm",
                                 "equation": "a*x + b*y + c*z + d = 0", "planes": planes}, indent=2) + "\n",
        TABLE_FILE: _table_text(rows),
    }
    for name, text in documents.items():
        path = os.path.join(directory, name)
        _write_text(path, text)
        written.append(path)
    return written
