"""SelectorElem and Selector: parsing, canonical text, reprs, construction and the OR operators."""

import gc

import pytest

import orbitane.anatomy as anatomy
from orbitane.anatomy import Selector, SelectorElem


def elem(text):
    e = SelectorElem.parse(text)
    assert e is not None, text
    return e


# --- SelectorElem ------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "text, canonical",
    [
        ("*", "*"),
        ("meshes", "meshes"),
        ("keypoints@tip#liver", "keypoints#liver@tip"),
        ("*#liver", "#liver"),
        ("planes[side=left]", "planes[side=left]"),
        ("[tags~=landmark]", "[tags~=landmark]"),
        (".b.a", ".a.b"),
        ('#"Orbitane.Spine.Vertebra.L1"', '#"Orbitane.Spine.Vertebra.L1"'),
        ('@"plain"', "@plain"),
        ("  graphs  ", "graphs"),
    ],
)
def test_elem_parse_gives_the_canonical_text(text, canonical):
    e = SelectorElem.parse(text)
    assert isinstance(e, SelectorElem)
    assert repr(e) == f"<SelectorElem, value='{canonical}'>"
    assert str(e) == repr(e)
    assert repr(SelectorElem.parse(canonical)) == repr(e)


@pytest.mark.parametrize(
    "text", ["", "liver", "Meshes", "meshes #liver", "#a#b", "[a=b", "#\"open", "#caf\u00e9", "**"]
)
def test_rejected_texts_give_none(text):
    assert SelectorElem.parse(text) is None
    assert Selector.parse(text) is None


def test_repr_does_not_escape_quotes():
    e = elem("#\"it's \\\"x\\\"\"")
    assert repr(e) == "<SelectorElem, value='#\"it's \\\"x\\\"\"'>"


def test_elem_has_no_constructor_and_parse_takes_text_only():
    with pytest.raises(TypeError) as info:
        SelectorElem()
    assert str(info.value) == "orbitane.anatomy.SelectorElem: No constructor defined!"
    with pytest.raises(TypeError):
        SelectorElem.parse(3)
    with pytest.raises(TypeError):
        SelectorElem.parse(None)
    with pytest.raises(TypeError):
        SelectorElem.parse(text="meshes")    # the parameter has no name
    assert repr(SelectorElem.parse(b"meshes")) == "<SelectorElem, value='meshes'>"


def test_no_comparison_or_hashing_beyond_identity():
    a, b = elem("meshes"), elem("meshes")
    assert a != b
    assert a == a
    assert "__str__" not in SelectorElem.__dict__
    assert "__ror__" not in SelectorElem.__dict__ and "__ror__" not in Selector.__dict__


# --- Selector ----------------------------------------------------------------------------------


def test_selector_parse_and_repr():
    s = Selector.parse(" meshes#liver ,keypoints@tip, meshes#liver ")
    assert isinstance(s, Selector)
    assert repr(s) == "<Selector, value='meshes#liver, keypoints@tip'>"
    assert str(s) == repr(s)
    assert Selector.parse("meshes,") is None
    assert repr(Selector.parse('#"a, b", #c')) == "<Selector, value='#\"a, b\", #c'>"
    with pytest.raises(TypeError):
        Selector.parse(["meshes"])


def test_selector_from_one_element_a_list_or_a_tuple():
    a, b = elem("meshes"), elem("#liver")
    assert repr(Selector(a)) == "<Selector, value='meshes'>"
    assert repr(Selector([a])) == "<Selector, value='meshes'>"
    assert repr(Selector([a, b])) == "<Selector, value='meshes, #liver'>"
    assert repr(Selector((b, a, b))) == "<Selector, value='#liver, meshes'>"


def test_selector_refuses_everything_else():
    a = elem("meshes")
    for bad in (Selector(a), "meshes", [a, "meshes"], [Selector(a)], None, 1):
        with pytest.raises(TypeError):
            Selector(bad)
    with pytest.raises(ValueError) as info:
        Selector([])
    assert str(info.value) == "A Selector needs at least one SelectorElem."


def test_selector_keeps_copies_of_its_elements():
    a = elem("meshes")
    s = Selector([a])
    del a
    gc.collect()
    assert repr(s) == "<Selector, value='meshes'>"


# --- OR ----------------------------------------------------------------------------------------


def test_or_of_two_elements_leaves_both_unchanged():
    a, b = elem("meshes"), elem("#liver")
    s = a | b
    assert isinstance(s, Selector)
    assert repr(s) == "<Selector, value='meshes, #liver'>"
    assert repr(a) == "<SelectorElem, value='meshes'>"
    assert repr(b) == "<SelectorElem, value='#liver'>"
    assert repr(a | a) == "<Selector, value='meshes'>"


def test_element_or_selector_equals_selector_or_element():
    s = Selector.parse("meshes, #liver")
    e = elem(".hl")
    assert repr(e | s) == repr(s | e) == "<Selector, value='meshes, #liver, .hl'>"
    assert repr(s) == "<Selector, value='meshes, #liver'>"
    assert repr(s | elem("meshes")) == "<Selector, value='meshes, #liver'>"


def test_unsupported_or_operands_raise_type_error():
    s, e = Selector.parse("meshes"), elem("#liver")
    with pytest.raises(TypeError) as info:
        s | s
    assert str(info.value) == (
        "unsupported operand type(s) for |: 'orbitane.anatomy.Selector' and 'orbitane.anatomy.Selector'"
    )
    with pytest.raises(TypeError) as info:
        e | "meshes"
    assert str(info.value) == "unsupported operand type(s) for |: 'orbitane.anatomy.SelectorElem' and 'str'"
    with pytest.raises(TypeError):
        "meshes" | e
    assert e.__or__(3) is NotImplemented
    assert s.__or__(s) is NotImplemented


def test_canonical_text_round_trips_through_python():
    for text in ["keypoints#\"x, y\"@\"\", [a=b], *", "images.c[n~=w][k=\"v 1\"]", "pointclouds@\"a\\\\b\""]:
        s = Selector.parse(text)
        assert s is not None, text
        canonical = repr(s)[len("<Selector, value='"):-2]
        assert repr(Selector.parse(canonical)) == repr(s)


def test_classes_live_in_the_module():
    assert SelectorElem.__module__ == "orbitane.anatomy"
    assert SelectorElem.__doc__ == "SelectorElem is a class for querying objects."
    assert Selector.__doc__ == "Selector is a class combining with logical OR multiple SelectorElem objects."
    assert anatomy.Selector is Selector
