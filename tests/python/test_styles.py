"""The styling cascade as orbitane.styles.resolve_styles gives it, per element."""

import numpy as np
import pytest

import orbitane
import orbitane.anatomy as anatomy
from orbitane.styles import resolve_styles

LIVER, SPLEEN = orbitane.keys.liver.key, orbitane.keys.spleen.key


def _rule(sheet, selector, **values):
    def declare(declaration):
        for name, value in values.items():
            declaration[name] = value
    sheet.append_or_modify(selector, declare)


@pytest.fixture
def collection():
    asc = anatomy.GenericASC()
    for identifier in (LIVER, SPLEEN):
        s = anatomy.GenericAnatomicalStructure(identifier)
        s.keypoints2["tip"] = [1.0, 2.0, 3.0]
        s.meshes["surface"] = orbitane.Mesh(np.eye(3), np.array([[0, 1, 2]]))
        asc.add(s)
    asc.components.add(anatomy.ASCDisplayOptions())
    return asc


def _sheets(asc, *names):
    options = asc.components.asc_display_options
    return [options.get_or_append_style_sheet(name, None) for name in names]


def test_enabled_sheets_apply_in_order_and_later_rules_win(collection):
    base, later, off = _sheets(collection, "base", "later", "off")
    _rule(base, None, visibility=True, alpha=0.5)
    _rule(base, "meshes", line_width=2.0)
    _rule(later, f'#"{SPLEEN}"', visibility=False)
    _rule(later, "keypoints", alpha=0.25)
    _rule(off, None, point_size=9.0)
    off.enabled = False

    styles = resolve_styles(collection)
    assert list(styles) == [(LIVER, "keypoints", "tip"), (LIVER, "meshes", "surface"),
                            (SPLEEN, "keypoints", "tip"), (SPLEEN, "meshes", "surface")]
    assert styles[(LIVER, "keypoints", "tip")] == {"visibility": True, "alpha": 0.25}
    assert styles[(LIVER, "meshes", "surface")] == {"visibility": True, "alpha": 0.5, "line_width": 2.0}
    assert styles[(SPLEEN, "meshes", "surface")] == {"visibility": False, "alpha": 0.5, "line_width": 2.0}


def test_a_collection_without_display_options_has_empty_styles():
    asc = anatomy.GenericASC()
    s = anatomy.GenericAnatomicalStructure(LIVER)
    s.planes["axial"] = [0.0, 0.0, 1.0, -2.0]
    asc.add(s)
    assert resolve_styles(asc) == {(LIVER, "planes", "axial"): {}}
