"""A collection as the page's scene: a JSON description and one binary block of vertex data.

Coordinates are world coordinates relative to the scene's centre (``origin``), stored as
float32, which keeps sub-micrometre precision however far the data lies from the world origin;
mesh normals are int8. Faces and edges are uint16 where the element's vertices allow it, uint32
otherwise. Each array
is referenced from the description as [byte offset, element count] into the block.
"""

import colorsys

import numpy as np

from .. import styles
from .appearance import STORES, Report, StyleReader


class _Block:
    """The binary block: arrays appended at 4-byte aligned offsets, as typed arrays need."""

    def __init__(self):
        self._parts = []
        self._size = 0

    def add(self, array):
        data = np.ascontiguousarray(array).tobytes()
        reference = [self._size, int(np.asarray(array).size)]
        padding = -len(data) % 4
        self._parts += [data, b"\0" * padding]
        self._size += len(data) + padding
        return reference

    def bytes(self):
        return b"".join(self._parts)


def _default_colour(index):
    """Well-separated hues for structures that no rule colours (golden-angle steps)."""
    return colorsys.hsv_to_rgb((index * 0.381966) % 1.0, 0.55, 0.9)


def _vertex_normals(points, faces):
    """Area-weighted vertex normals as int8 (x127): a quarter of float32's bytes, and the browser
    is spared computing them for millions of triangles at start."""
    p0, p1, p2 = (points[faces[:, i]] for i in range(3))
    u, v = (p1 - p0).T, (p2 - p0).T
    face_normals = (u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0])
    corners = faces.T.ravel()
    normals = np.stack([np.bincount(corners, np.tile(n, 3), minlength=len(points)) for n in face_normals], axis=1)
    length = np.linalg.norm(normals, axis=1, keepdims=True)
    normals = np.divide(normals, length, out=np.zeros_like(normals), where=length > 0)
    return np.round(normals * 127).astype(np.int8)


def _indices(array, vertex_count):
    return array.astype(np.uint16 if vertex_count <= 0xFFFF else np.uint32)


class _SceneBuilder:
    def __init__(self, collection, supported):
        self.report = Report(supported)
        self.block = _Block()
        self._styles = styles.resolve_styles(collection)
        self._collection = collection
        self.origin, self.size = self._bounds()

    def _geometry(self, store, value):
        """The element's world points, as (N, 3) float64."""
        if store == "keypoints":
            return np.asarray(value, dtype=float).reshape(1, 3)
        if store == "planes":
            return np.asarray(value, dtype=float).reshape(1, 4)
        if store == "meshes":
            return np.asarray(value.vertices, dtype=float).reshape(-1, 3)
        if store == "pointclouds":
            return np.asarray(value.points, dtype=float).reshape(-1, 3)
        return np.asarray(value.nodes, dtype=float).reshape(-1, 3)

    def _elements(self, structure):
        for store in STORES:
            if store == "images":
                continue
            wrapper = getattr(structure, "keypoints2" if store == "keypoints" else store)
            for key, value in wrapper.asdict().items():
                yield store, key, value

    def _bounds(self):
        """Centre and diagonal of every drawable point, to frame everything and size markers."""
        low, high = np.full(3, np.inf), np.full(3, -np.inf)
        for structure in self._structures():
            for store, _, value in self._elements(structure):
                points = self._geometry(store, value)
                if store == "planes":
                    point = _plane_point(points[0]) if np.isfinite(points).all() else None
                    points = np.zeros((0, 3)) if point is None else point.reshape(1, 3)
                if not len(points) or not np.isfinite(points).all():
                    continue
                low, high = np.minimum(low, points.min(axis=0)), np.maximum(high, points.max(axis=0))
        if not np.isfinite(low).all():
            return np.zeros(3), 1.0
        return (low + high) / 2, max(float(np.linalg.norm(high - low)), 1.0)

    def _structures(self):
        return [self._collection.anatomical_structure(i) for i in range(len(self._collection))]

    def build(self):
        self.images = 0
        structures = [self._structure(index, s) for index, s in enumerate(self._structures())]
        if self.images:  # one line, not one per structure: label maps give every structure its mask
            self.report.left_out.append(f"{self.images} image set(s): the page does not draw images")
        return structures

    def _structure(self, index, structure):
        identifier = structure.identifier
        fallback = _default_colour(index)
        elements = []
        for store, key, value in self._elements(structure):
            where = f"{identifier} · {store} · {key}"
            points = self._geometry(store, value)
            if not np.isfinite(points).all():
                self.report.left_out.append(f"{where}: non-finite coordinates")
                continue
            reader = StyleReader(self._styles.get((identifier, store, key), {}), store, where, self.report)
            element = getattr(self, "_" + store)(reader, key, value, points, fallback)
            if element is None:
                self.report.left_out.append(f"{where}: a plane without a normal")
                continue
            elements.append({"store": store, "key": key, **element})
        self.images += len(structure.images)
        return {"identifier": identifier, "color": _swatch(elements, fallback), "elements": elements}

    def _relative(self, points):
        return (points - self.origin).astype(np.float32)

    def _keypoints(self, reader, key, value, points, fallback):
        return {"kind": "keypoint", "position": self._relative(points)[0].tolist(),
                **reader.part(None, None, None, fallback),
                "size": reader.number("point_size", self.size * 0.012),
                "crosshair": reader.flag("as_crosshair", False), "label": reader.label(key, points[0]),
                "labelOffset": reader.vector("label_pixel_offset", (2,)) or (0.0, 0.0)}

    def _planes(self, reader, key, value, points, fallback):
        point = _plane_point(points[0])
        if point is None:
            return None
        normal = points[0][:3] / np.linalg.norm(points[0][:3])
        return {"kind": "plane", "point": self._relative(point.reshape(1, 3))[0].tolist(),
                "normal": normal.tolist(), **reader.part(None, None, None, fallback, default_alpha=0.5),
                "patchSize": self.size * 0.3, "normalOnly": reader.flag("show_only_plane_normals", False),
                "normalLength": reader.number("plane_normal_length", self.size * 0.1),
                "label": reader.label(key, point)}

    def _meshes(self, reader, key, mesh, points, fallback):
        surface = reader.part("visibility_surface", "color_surface", "alpha_surface", fallback)
        surface["color"] = reader.rgb("diffuse_surface") or surface["color"]
        surface["specular"] = reader.rgb("specular_surface") or (0.0, 0.0, 0.0)
        surface["shininess"] = reader.number("shininess_surface", 30.0)
        faces = np.asarray(mesh.faces).reshape(-1, 3)
        return {"kind": "mesh", "positions": self.block.add(self._relative(points)),
                "normals": self.block.add(_vertex_normals(points, faces)),
                "faces": self.block.add(_indices(faces, len(points))),
                "indexType": "uint16" if len(points) <= 0xFFFF else "uint32",
                "surface": surface,
                "wireframe": reader.part("visibility_wireframe", "color_wireframe", "alpha_wireframe", fallback,
                                         shown_by_default=False),
                "outline": reader.part("visibility_outline", "color_outline", "alpha_outline", fallback,
                                       shown_by_default=False)}

    def _pointclouds(self, reader, key, cloud, points, fallback):
        return {"kind": "pointcloud", "positions": self.block.add(self._relative(points)),
                **reader.part(None, None, None, fallback),
                "size": reader.number("point_size", self.size * 0.006),
                "label": reader.label(key, points.mean(axis=0) if len(points) else None),
                "labelAt": self._relative(points.mean(axis=0, keepdims=True))[0].tolist() if len(points) else None}

    def _graphs(self, reader, key, graph, points, fallback):
        edges = np.asarray(graph.edges).reshape(-1, 2)
        shown = np.arange(len(points))
        if reader.flag("only_draw_nontrivial_nodes", False):
            degree = np.bincount(edges.ravel(), minlength=len(points))
            shown = np.flatnonzero(degree != 2)
        return {"kind": "graph", "positions": self.block.add(self._relative(points)),
                "nodesShown": self.block.add(_indices(shown, len(points))),
                "edges": self.block.add(_indices(edges, len(points))),
                "indexType": "uint16" if len(points) <= 0xFFFF else "uint32",
                "nodes": {**reader.part("visibility_point", "color_point", "alpha_point", fallback),
                          "size": reader.number("point_size", self.size * 0.006)},
                "lines": reader.part("visibility_line", "color_line", "alpha_line", fallback),
                "nodeLabels": reader.flag("show_node_labels", False)}


def _plane_point(coefficients):
    """The point of a*x + b*y + c*z + d = 0 nearest the world origin; None without a normal."""
    normal, d = coefficients[:3], coefficients[3]
    length = float(np.dot(normal, normal))
    return None if length == 0.0 else -d * normal / length


def _swatch(elements, fallback):
    """The structure's colour in the side panel: its first mesh surface, else its first element."""
    for element in sorted(elements, key=lambda e: e["kind"] != "mesh"):
        part = element.get("surface") or element.get("nodes") or element
        return part["color"]
    return tuple(fallback)


def build(collection, supported):
    """(description dict, binary block) of the collection's scene."""
    builder = _SceneBuilder(collection, supported)
    structures = builder.build()
    description = {"origin": builder.origin.tolist(), "size": builder.size, "structures": structures,
                   "leftOut": builder.report.left_out, "ignored": builder.report.ignored,
                   "notShown": builder.report.not_shown}
    return description, builder.block.bytes()
