"""What the page draws for one element, from the element's resolved style.

The cascade (orbitane.styles) gives each element the raw values of its rules; this module reads
them the way the platform's renderers do: a general property ("visibility", "color", "alpha") is
the default of its specific forms ("visibility_surface", "color_wireframe", ...), which win where
they are set. A value of the wrong type is ignored for that element and reported; properties
that the element's kind supports but a browser page cannot draw are collected as "not shown".
"""

import math
import re

import numpy as np

# the stores, named as the style property documentation names the kinds (in lower case)
STORES = ("keypoints", "planes", "images", "meshes", "pointclouds", "graphs")

# the properties this page draws, by store
DRAWN = {
    "keypoints": {"visibility", "color", "alpha", "point_size", "as_crosshair", "show_label_text",
                  "show_label_text_debug", "label_pixel_offset"},
    "planes": {"visibility", "color", "alpha", "show_label_text", "show_label_text_debug",
               "show_only_plane_normals", "plane_normal_length"},
    "images": set(),
    "meshes": {"visibility", "color", "alpha", "visibility_surface", "color_surface", "alpha_surface",
               "diffuse_surface", "specular_surface", "shininess_surface", "visibility_wireframe",
               "color_wireframe", "alpha_wireframe", "visibility_outline", "color_outline", "alpha_outline"},
    "pointclouds": {"visibility", "color", "alpha", "point_size", "show_label_text", "show_label_text_debug"},
    "graphs": {"visibility", "color", "alpha", "point_size", "visibility_point", "color_point", "alpha_point",
               "visibility_line", "color_line", "alpha_line", "only_draw_nontrivial_nodes", "show_node_labels"},
}

_FLAGS = {"as_crosshair", "only_draw_nontrivial_nodes", "show_node_labels", "show_only_plane_normals",
          "show_label_text", "show_label_text_debug"}
_POSITIVE = {"point_size", "plane_normal_length", "shininess_surface"}
_RGB_ONLY = {"diffuse_surface", "specular_surface"}


def supported_kinds(style_property_class):
    """{property name: set of store names} from the "(supported by: ...)" of each member's documentation."""
    kinds = {}
    for member in style_property_class:
        found = re.search(r"\(supported by: ([^)]*)\)", member.__doc__ or "")
        words = {w.strip().lower() for w in found.group(1).split(",")} if found else set()
        kinds[str(member)] = {store for store in STORES if store in words}
    return kinds


class StyleReader:
    """Reads one element's resolved style; records what it ignored and what it could not draw."""

    def __init__(self, style, store, where, report):
        self._style = style
        self._where = where
        self._report = report
        self._reported = set()
        report.note_not_shown(store, style)

    def _ignore(self, name, value, expected):
        # several parts may fall back on the same general property: one line per element and name
        if name not in self._reported:
            self._reported.add(name)
            self._report.ignored.append(f"{self._where}: {name} = {_short(value)} ignored ({expected})")

    def flag(self, name, default):
        if name not in self._style:
            return default
        value = self._style[name]
        if isinstance(value, (bool, np.bool_)):
            return bool(value)
        self._ignore(name, value, "expected true or false")
        return default

    def number(self, name, default):
        if name not in self._style:
            return default
        value = self._style[name]
        if isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value):
            if name not in _POSITIVE or value > 0:
                return float(value)
            self._ignore(name, value, "expected a number above 0")
            return default
        self._ignore(name, value, "expected a number")
        return default

    def vector(self, name, sizes):
        """The value as a tuple of floats of one of the given lengths, or None."""
        if name not in self._style:
            return None
        value = self._style[name]
        array = np.asarray(value) if isinstance(value, (np.ndarray, list, tuple)) else None
        if (array is not None and array.ndim == 1 and len(array) in sizes and array.dtype.kind in "iuf"
                and np.isfinite(array).all()):
            return tuple(float(v) for v in array)
        self._ignore(name, value, f"expected {' or '.join(map(str, sizes))} numbers")
        return None

    def visible(self, specific=None, default=True):
        """The specific flag where set, else the general "visibility" (for parts shown by default)."""
        general = self.flag("visibility", True)
        if specific is None:
            return general
        return self.flag(specific, general if default else False)

    def colour(self, specific=None, fallback=(0.8, 0.8, 0.8)):
        """(r, g, b) in 0..1 and the alpha that a fourth component gives, if any."""
        for name in ([specific] if specific else []) + ["color"]:
            rgba = self.vector(name, (3, 4))
            if rgba is not None:
                clipped = tuple(min(max(c, 0.0), 1.0) for c in rgba)
                return clipped[:3], (clipped[3] if len(clipped) == 4 else None)
        return tuple(fallback), None

    def alpha(self, specific=None, from_colour=None, default=1.0):
        for name in ([specific] if specific else []) + ["alpha"]:
            value = self.number(name, None)
            if value is not None:
                return min(max(value, 0.0), 1.0)
        return default if from_colour is None else from_colour

    def rgb(self, name):
        rgb = self.vector(name, (3,))
        return None if rgb is None else tuple(min(max(c, 0.0), 1.0) for c in rgb)

    def part(self, visibility, colour, alpha, fallback, shown_by_default=True, default_alpha=1.0):
        """The look of one drawn part: visible, color, alpha."""
        rgb, colour_alpha = self.colour(colour, fallback)
        return {"visible": self.visible(visibility, shown_by_default),
                "color": rgb, "alpha": self.alpha(alpha, colour_alpha, default_alpha)}

    def label(self, text, position=None):
        """The label text the flags ask for, or None."""
        if self.flag("show_label_text_debug", False) and position is not None:
            return f"{text} ({', '.join(f'{c:.1f}' for c in position)})"
        return text if self.flag("show_label_text", False) else None


def _short(value):
    text = repr(value.tolist() if isinstance(value, np.ndarray) else value)
    return text if len(text) <= 40 else text[:37] + "..."


class Report:
    """What the side panel lists besides the structures."""

    def __init__(self, supported):
        self._supported = supported
        self.left_out = []
        self.ignored = []
        self._not_shown = {}

    def note_not_shown(self, store, style):
        for name in style:
            if store in self._supported.get(name, ()) and name not in DRAWN[store]:
                self._not_shown.setdefault(name, None)

    @property
    def not_shown(self):
        return list(self._not_shown)
