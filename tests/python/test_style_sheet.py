"""StyleSheet: construction, its two properties, repr, and append_or_modify with its callback."""

import gc

import pytest

import orbitane
from orbitane.anatomy import Selector, SelectorElem, StyleProperty, StyleSheet

DISOWNED = "Missing value for wrapped C++ type `Orbitane::Properties`: Python instance was disowned."


def setter(**values):
    def edit(p):
        for k, v in values.items():
            p[k] = v

    return edit


def declaration(sheet, selector):
    """A copy of the declaration of the rule for selector (appending one if there is none)."""
    out = []
    sheet.append_or_modify(selector, lambda p: out.append(orbitane.Properties(p)))
    return out[0]


@pytest.fixture
def sheet():
    return StyleSheet("base")


# --- construction and properties ---------------------------------------------------------------


def test_new_sheet_is_enabled_and_empty(sheet):
    assert repr(sheet) == "<StyleSheet, name='base', enabled='true', size='0'>"
    assert str(sheet) == repr(sheet)
    assert repr(StyleSheet(name="kw")) == "<StyleSheet, name='kw', enabled='true', size='0'>"
    assert StyleSheet.__doc__ == "Class for managing a logically grouped set of style rules."


def test_properties_read_and_write(sheet):
    sheet.enabled = False
    sheet.name = "renamed"
    assert sheet.enabled is False
    assert sheet.name == "renamed"
    assert repr(sheet) == "<StyleSheet, name='renamed', enabled='false', size='0'>"
    sheet.enabled = True
    assert repr(sheet) == "<StyleSheet, name='renamed', enabled='true', size='0'>"


def test_docstrings():
    assert StyleSheet.enabled.__doc__ == "True if the style sheet is enabled in the styling cascade."
    assert StyleSheet.name.__doc__ == "The name identifying the style sheet."
    assert StyleSheet.__init__.__doc__ == (
        "__init__(self: orbitane.anatomy.StyleSheet, name: str) -> None\n\n"
        "Constructor that creates a single (empty) Style sheet.\n"
    )
    assert StyleSheet.append_or_modify.__doc__.endswith(
        "\n\nThe declaration of a style rule identified by the selector is appended (if non-existent) or "
        "modified using the given callback.\n"
    )


def test_wrong_types_are_refused(sheet):
    for bad in (1, None, object()):
        with pytest.raises(TypeError):
            StyleSheet(bad)
    with pytest.raises(TypeError):
        sheet.name = 3
    with pytest.raises(TypeError):
        sheet.enabled = "yes"
    assert sheet.name == "base" and sheet.enabled is True


# --- append_or_modify --------------------------------------------------------------------------


def test_returns_true_when_appending_and_false_when_modifying(sheet):
    assert sheet.append_or_modify(Selector.parse("meshes"), setter(alpha=0.5)) is True
    assert repr(sheet) == "<StyleSheet, name='base', enabled='true', size='1'>"
    assert sheet.append_or_modify(Selector.parse("meshes"), setter(color="red")) is False
    assert repr(sheet) == "<StyleSheet, name='base', enabled='true', size='1'>"
    assert dict(declaration(sheet, Selector.parse("meshes")).asdict()) == {"alpha": 0.5, "color": "red"}


def test_string_selectors_parse_like_selector_parse(sheet):
    assert sheet.append_or_modify("keypoints@tip ,#liver", setter(point_size=3.0)) is True
    assert sheet.append_or_modify(Selector.parse("keypoints@tip, #liver"), setter(alpha=1.0)) is False
    assert declaration(sheet, "keypoints@tip, #liver").asdict() == {"point_size": 3.0, "alpha": 1.0}


def test_unparsable_string_is_the_same_as_no_selector(sheet):
    assert sheet.append_or_modify(None, setter(visibility=True)) is True
    assert sheet.append_or_modify("not a selector", setter(alpha=0.25)) is False
    assert sheet.append_or_modify("", setter(color="blue")) is False
    assert repr(sheet) == "<StyleSheet, name='base', enabled='true', size='1'>"
    assert declaration(sheet, None).asdict() == {"visibility": True, "alpha": 0.25, "color": "blue"}


def test_callback_edits_the_declaration_in_place(sheet):
    seen = []

    def first(p):
        assert isinstance(p, orbitane.Properties)
        assert len(p) == 0
        p[StyleProperty.COLOR] = "red"
        p["line_width"] = 2
        return False    # ignored

    def second(p):
        seen.append(p.asdict())
        del p["line_width"]

    assert sheet.append_or_modify("meshes", first) is True
    assert sheet.append_or_modify("meshes", second) is False
    assert seen == [{"color": "red", "line_width": 2}]
    assert declaration(sheet, "meshes").asdict() == {"color": "red"}


def test_callback_exception_passes_unchanged_and_keeps_the_new_rule(sheet):
    error = KeyError("mine")

    def failing(p):
        p["alpha"] = 0.1
        raise error

    with pytest.raises(KeyError) as info:
        sheet.append_or_modify("planes", failing)
    assert info.value is error
    assert info.traceback[-1].name == "failing"
    assert repr(sheet) == "<StyleSheet, name='base', enabled='true', size='1'>"
    assert declaration(sheet, "planes").asdict() == {"alpha": 0.1}


def test_arguments_are_positional_and_typed(sheet):
    with pytest.raises(TypeError):
        sheet.append_or_modify(SelectorElem.parse("meshes"), setter())
    with pytest.raises(TypeError):
        sheet.append_or_modify("meshes", "not callable")
    with pytest.raises(TypeError):
        sheet.append_or_modify(selector=None, callback=setter())
    with pytest.raises(TypeError):
        sheet.append_or_modify(3, setter())
    assert repr(sheet) == "<StyleSheet, name='base', enabled='true', size='0'>"


# --- the lent declaration ----------------------------------------------------------------------


def test_a_kept_declaration_raises_after_the_call(sheet):
    kept = []
    sheet.append_or_modify("meshes", kept.append)
    p = kept[0]
    for use in (lambda: p["alpha"], lambda: p.__setitem__("alpha", 1.0), lambda: len(p), lambda: repr(p)):
        with pytest.raises(ValueError) as info:
            use()
        assert str(info.value) == DISOWNED
    # the rule itself is untouched and a new call lends a new, working object
    fresh = []
    sheet.append_or_modify("meshes", fresh.append)
    assert fresh[0] is not p
    del kept, p
    gc.collect()
    assert declaration(sheet, "meshes").asdict() == {}


def test_nested_calls_keep_the_outer_declaration_usable(sheet):
    def outer(p):
        # a nested call on the same rule lends the same object and must not take it away
        def inner(q):
            assert q is p
            q["alpha"] = 0.5

        assert sheet.append_or_modify("meshes", inner) is False
        # appending many rules must not move the declaration the outer callback holds
        for i in range(64):
            sheet.append_or_modify(f"#s{i}", setter(alpha=i))
        p["color"] = "red"

    sheet.append_or_modify("meshes", outer)
    assert declaration(sheet, "meshes").asdict() == {"alpha": 0.5, "color": "red"}
    assert repr(sheet) == "<StyleSheet, name='base', enabled='true', size='65'>"
