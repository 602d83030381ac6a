"""The StyleProperty string enumeration: its 49 members in order, their values and docstrings."""

import enum
import pickle

import pytest

import orbitane.anatomy as anatomy

StyleProperty = anatomy.StyleProperty

# member name, value, member docstring, in the enumeration's order
TABLE = [
    ("VISIBILITY", "visibility",
     "Visibility of the object, default for the more specific visibility properties and can be overwritten by them. (supported by: Graphs, Images, Keypoints, Meshes, Planes, PointClouds, Splines)"),
    ("COLOR", "color",
     "Color of the object, default for the more specific color properties and can be overwritten by them. (supported by: Graphs, Keypoints, Meshes, Planes, PointClouds, Splines)"),
    ("ALPHA", "alpha",
     "Alpha value of the object, default for the more specific alpha properties and can be overwritten by them. (supported by: Graphs, Keypoints, Meshes, Planes, PointClouds, Splines)"),
    ("SHOW_LABEL_TEXT", "show_label_text",
     "Flag if a text label shall be shown (supported by: Keypoints, Planes, PointClouds, Splines)"),
    ("SHOW_LABEL_TEXT_DEBUG", "show_label_text_debug",
     "Flag if a text label with debug info shall be shown (supported by: Keypoints, Planes, PointClouds, Splines)"),
    ("SHOW_ONLY_PLANE_NORMALS", "show_only_plane_normals",
     "Flag if the plane normals shall be shown (supported by: Planes)"),
    ("PLANE_NORMAL_LENGTH", "plane_normal_length",
     "The length of a rendered normal (supported by: Planes)"),
    ("SMOOTH_SPLINE", "smooth_spline",
     "Flag if the spline shall be smoothed (supported by: Splines)"),
    ("TUBE_THICKNESS", "tube_thickness",
     "Double defining the thickness of the rendered tube. If 0.0 no tube is rendered but a line. (supported by: Splines)"),
    ("TUBE_END_T", "tube_end_t",
     "Double defining the end of the fraction of the rendered tube [0.0, 1.0]. (supported by: Splines)"),
    ("LINE_WIDTH", "line_width",
     "Width of a line (supported by: Graphs, Meshes, Splines)"),
    ("AS_CROSSHAIR", "as_crosshair",
     "Flag to show a point as a crosshair (supported by: Keypoints)"),
    ("POINT_SIZE", "point_size",
     "Size of a point (supported by: Keypoints, Graphs, PointClouds, Splines)"),
    ("LABEL_PIXEL_OFFSET", "label_pixel_offset",
     "vec2 defining the offset of the label in pixels to the object (supported by: Keypoints)"),
    ("VISIBILITY_OUTLINE", "visibility_outline",
     "Outline visibility of objects (supported by: Meshes)"),
    ("COLOR_OUTLINE", "color_outline",
     "Outline color of objects (supported by: Meshes)"),
    ("ALPHA_OUTLINE", "alpha_outline",
     "Outline alpha of objects (supported by: Meshes)"),
    ("OUTLINE_WIDTH", "outline_width",
     "Outline width of objects (supported by: Meshes)"),
    ("VISIBILITY_SURFACE", "visibility_surface",
     "Flag to show the surface of objects (supported by: Meshes)"),
    ("COLOR_SURFACE", "color_surface",
     "Surface color of objects (supported by: Meshes)"),
    ("ALPHA_SURFACE", "alpha_surface",
     "Surface alpha of objects (supported by: Meshes)"),
    ("MATERIAL_MODE", "material_mode",
     "Material mode (of the surface) of objects (supported by: Meshes, Pointclouds)"),
    ("AMBIENT_SURFACE", "ambient_surface",
     "Optional ambient RGB for mesh surface in uniform material mode; if unset, `color_surface` RGB is used (supported by: Meshes)"),
    ("DIFFUSE_SURFACE", "diffuse_surface",
     "Optional diffuse RGB for mesh surface in uniform material mode; if unset, `color_surface` RGB is used (supported by: Meshes)"),
    ("SPECULAR_SURFACE", "specular_surface",
     "Specular RGB for mesh surface in uniform material mode (supported by: Meshes)"),
    ("SHININESS_SURFACE", "shininess_surface",
     "Phong shininess for mesh surface in uniform material mode (supported by: Meshes)"),
    ("VISIBILITY_CROSS_SECTION", "visibility_cross_section",
     "Flag to show the cross-section of objects (supported by: Meshes)"),
    ("COLOR_CROSS_SECTION", "color_cross_section",
     "Cross-section color of objects (supported by: Meshes)"),
    ("ALPHA_CROSS_SECTION", "alpha_cross_section",
     "Cross-section alpha of objects (supported by: Meshes)"),
    ("VISIBILITY_WIREFRAME", "visibility_wireframe",
     "Flag to show the wireframe of objects (supported by: Meshes)"),
    ("ALPHA_WIREFRAME", "alpha_wireframe",
     "Wireframe alpha of objects (supported by: Meshes)"),
    ("COLOR_WIREFRAME", "color_wireframe",
     "Wireframe color of objects (supported by: Meshes)"),
    ("VISIBILITY_LINE", "visibility_line",
     "Flag to show the lines of objects (supported by: Graphs, Meshes)"),
    ("COLOR_LINE", "color_line",
     "Line color of objects (supported by: Graphs, Meshes)"),
    ("ALPHA_LINE", "alpha_line",
     "Line alpha of objects (supported by: Graphs, Meshes)"),
    ("VISIBILITY_POINT", "visibility_point",
     "Flag to show the points of objects (supported by: Graphs)"),
    ("COLOR_POINT", "color_point",
     "Point color of objects (supported by: Graphs)"),
    ("ALPHA_POINT", "alpha_point",
     "Point alpha of objects (supported by: Graphs)"),
    ("VISIBILITY_CIRCLE_VISUALIZATION", "visibility_circle_visualization",
     "Flag to show circle visualization of objects (supported by: Graphs)"),
    ("COLOR_CIRCLE_VISUALIZATION", "color_circle_visualization",
     "Circle visualization color of objects (supported by: Graphs)"),
    ("ALPHA_CIRCLE_VISUALIZATION", "alpha_circle_visualization",
     "Circle visualization alpha of objects (supported by: Graphs)"),
    ("CIRCLE_VISUALIZATION_FEATURE_NAME", "circle_visualization_feature_name",
     "Edge feature used as the diameter of circular loops drawn around edges. (supported by: Graphs)"),
    ("LINE_BLENDING_EDGE_FEATURE_NAME", "line_blending_edge_feature_name",
     "Edge feature used as the color channel of lines. The values from this edge feature are mapped to a color with a given colormap and shown on the graph. (supported by: Graphs)"),
    ("LINE_BLENDING_NODE_FEATURE_NAME", "line_blending_node_feature_name",
     "Node feature used as the alpha channel of lines. The values from this node feature are mapped to a color with a given colormap and shown on the graph. (supported by: Graphs)"),
    ("ONLY_DRAW_NONTRIVIAL_NODES", "only_draw_nontrivial_nodes",
     "Only draw nodes that don't have degree 2. This is useful for skipping intermediate nodes. For directed graphs we consider the out-degree (supported by: Graphs)"),
    ("DRAW_DIRECTION_ON_LINES", "draw_direction_on_lines",
     "For directed graphs, draw arrows to indicate direction of lines. (supported by: Graphs)"),
    ("SHOW_NODE_LABELS", "show_node_labels",
     "Flag to show the node labels for the graph. (supported by: Graphs)"),
    ("COLORMAP", "colormap",
     "Colormap to use for the graph. (supported by: Graphs)"),
    ("ALLOW_OBJECT_ATTRIBUTES_OVERRIDE", "allow_object_attributes_override",
     "Whether to allow values directly specified in the object attributes to override those coming from the style sheets, for selected attributes such as the 'color' attribute."),
]


def test_is_a_str_enum_with_its_class_docstring():
    assert issubclass(StyleProperty, enum.StrEnum)
    assert issubclass(StyleProperty, str)
    assert StyleProperty.__doc__ == 'Known style "property-names"'
    assert len(StyleProperty.__doc__) == 28
    assert StyleProperty.__name__ == "StyleProperty"
    assert anatomy.StyleProperty is StyleProperty
    assert StyleProperty.__module__ == "orbitane.anatomy"
    assert pickle.loads(pickle.dumps(StyleProperty.COLOR)) is StyleProperty.COLOR


def test_members_values_and_docstrings_in_table_order():
    assert [(m.name, m.value, m.__doc__) for m in StyleProperty] == TABLE
    assert len(StyleProperty) == 49
    assert list(StyleProperty.__members__) == [name for name, _, _ in TABLE]


@pytest.mark.parametrize("name, value, doc", TABLE, ids=[row[0] for row in TABLE])
def test_each_member_is_its_value_string(name, value, doc):
    member = StyleProperty[name]
    assert member == value
    assert isinstance(member, str)
    assert str(member) == value
    assert StyleProperty(value) is member
    assert getattr(StyleProperty, name) is member
    assert member.__doc__ == doc
    assert member.__doc__ != StyleProperty.__doc__
    assert name.lower() == value


def test_order_and_conversion_edge_cases():
    names = list(StyleProperty.__members__)
    assert names.index("ALPHA_WIREFRAME") < names.index("COLOR_WIREFRAME")
    assert names[-1] == "ALLOW_OBJECT_ATTRIBUTES_OVERRIDE"
    assert names[0] == "VISIBILITY"
    # an underscore also before a capital that follows another capital
    assert StyleProperty("tube_end_t") is StyleProperty.TUBE_END_T
    assert StyleProperty.COLORMAP == "colormap"
    assert StyleProperty.MATERIAL_MODE.__doc__.endswith("(supported by: Meshes, Pointclouds)")


def test_unknown_names_and_values_are_refused():
    with pytest.raises(ValueError):
        StyleProperty("Visibility")
    with pytest.raises(KeyError):
        StyleProperty["visibility"]


def test_members_serve_as_declaration_keys():
    sheet = anatomy.StyleSheet("s")
    seen = []

    def edit(p):
        p[StyleProperty.LINE_WIDTH] = 2.5
        seen.append(p["line_width"])
        seen.append(StyleProperty.LINE_WIDTH in p)

    sheet.append_or_modify(None, edit)
    assert seen == [2.5, True]
