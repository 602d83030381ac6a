"""Meshes and point clouds as STL (binary), PLY (binary), OBJ and legacy VTK files, through meshio.

Mesh files carry no coordinate convention; they hold world (LPS) coordinates, so a mesh's
matrix_to_world is applied on writing and a mesh read from a file has the identity.
"""

import numpy as np

from .. import _orbitane
from .access import ensure_readable, unreadable
from .atomic import replacing
from .requirements import require
from .surface_checks import check_complete

# meshio's name of each format and the options that give the widely read variant of it
_WRITERS = {
    "stl": ("stl", {"binary": True}),
    "ply": ("ply", {"binary": True}),
    "obj": ("obj", {}),
    "vtk": ("vtk42", {"binary": True}),
}
_NORMAL_NAMES = ("nx", "ny", "nz")


def _world_points(data, points):
    matrix = data.matrix_to_world
    return points @ matrix[:3, :3].T + matrix[:3, 3]


def _world_faces(data, faces):
    """A mirroring matrix turns the surface inside out, unless the winding is reversed with it."""
    if np.linalg.det(data.matrix_to_world[:3, :3]) < 0:
        return faces[:, [0, 2, 1]]
    return faces


def _world_normals(data, normals):
    inverse_transpose = np.linalg.inv(data.matrix_to_world[:3, :3]).T
    turned = normals @ inverse_transpose.T
    lengths = np.linalg.norm(turned, axis=1, keepdims=True)
    return np.divide(turned, lengths, out=np.zeros_like(turned), where=lengths > 0)


def _write(meshio, mesh, path, file_format):
    name, options = _WRITERS[file_format]
    with replacing(path) as temporary:
        meshio.write(temporary, mesh, file_format=name, **options)


def write_surface(data, path, file_format):
    """Writes a Mesh to any of the formats, or a PointCloud to PLY, in world coordinates."""
    meshio = require("meshio")
    if isinstance(data, _orbitane.Mesh):
        if data.num_faces == 0 and file_format == "stl":
            raise ValueError(f'cannot save "{path}": an STL file holds triangles, and the mesh has none')
        vertices = _world_points(data, np.asarray(data.vertices, dtype=np.float64))
        # PLY has no 64-bit indices, and meshio complains on the console when it narrows them
        faces = _world_faces(data, np.asarray(data.faces, dtype=np.int32))
        cells = [("triangle", faces)] if len(faces) else []
        _write(meshio, meshio.Mesh(vertices, cells), path, file_format)
    elif isinstance(data, _orbitane.PointCloud):
        if file_format != "ply":
            raise ValueError(f'cannot save "{path}": point clouds are written as .ply files')
        points = _world_points(data, np.asarray(data.points, dtype=np.float64))
        point_data = {}
        normals = data.normals
        if normals is not None and len(normals) == len(points) and len(points):
            point_data = dict(zip(_NORMAL_NAMES, _world_normals(data, np.asarray(normals, np.float64)).T))
        _write(meshio, meshio.Mesh(points, [], point_data=point_data), path, file_format)
    else:
        raise TypeError(f'cannot save "{path}": mesh files hold a Mesh or a PointCloud, not {type(data).__name__}')


def _triangles(mesh):
    """Every triangle of the file; quads and other polygons are split into fans."""
    pieces = []
    for block in mesh.cells:
        cells = np.asarray(block.data)
        if block.dim != 2 or cells.ndim != 2 or cells.shape[1] < 3:
            continue
        for corner in range(1, cells.shape[1] - 1):
            pieces.append(cells[:, [0, corner, corner + 1]])
    return np.concatenate(pieces).astype(np.int64) if pieces else None


def _normals(mesh):
    data = mesh.point_data
    if all(name in data for name in _NORMAL_NAMES):
        return np.column_stack([data[name] for name in _NORMAL_NAMES]).astype(np.float64)
    for name in ("normals", "Normals"):
        if name in data and np.shape(data[name]) == (len(mesh.points), 3):
            return np.asarray(data[name], dtype=np.float64)
    return None


def read_surface(path, file_format):
    """A Mesh when the file has triangles (or polygons), a PointCloud when it has points only."""
    meshio = require("meshio")
    ensure_readable(path)
    try:
        check_complete(path, file_format)
        mesh = meshio.read(path, file_format=file_format)
        points = np.asarray(mesh.points, dtype=np.float64)
        if points.ndim != 2 or points.shape[1] not in (2, 3):
            raise ValueError(f"its points have the shape {points.shape}")
        if points.shape[1] == 2:
            points = np.column_stack([points, np.zeros(len(points))])
        faces = _triangles(mesh)
        has_other_cells = any(block.dim > 0 for block in mesh.cells)
        if faces is None and (has_other_cells or len(points) == 0):
            if len(points) == 0:
                raise ValueError("it holds no points")
            raise ValueError("it holds no triangles or polygons, only cells of other kinds")
        if faces is None:
            return _orbitane.PointCloud(points, _normals(mesh))
        return _orbitane.Mesh(points, faces)
    except Exception as error:  # truncated, corrupt or foreign: whatever meshio or numpy raise
        raise unreadable(path, error) from error
