"""ASCDisplayOptions, the DataComponentList additions, reference semantics and what happens to
references whose target is gone."""

import copy
import gc

import pytest

import orbitane
import orbitane.anatomy as anatomy
from orbitane.anatomy import ASCDisplayOptions, StyleSheet

GONE_OPTIONS = (
    "This ASCDisplayOptions no longer exists: it was removed from its DataComponentList, or the data "
    "object that held the list was deleted."
)
GONE_SHEET = "This StyleSheet no longer exists: it was removed from its ASCDisplayOptions, or they were deleted."
ADD_DOC = "Adds a copy of the component to the component list and returns a reference to the copy."


def sheet_names(options):
    sheets = options.configuration()["styleSheets"]
    return [sheets[key]["name"] for key in sheets]


def sheet_config(options, index):
    return options.configuration()["styleSheets"][str(index)]


def raises_gone(action, message):
    with pytest.raises(ReferenceError) as info:
        action()
    assert str(info.value) == message


@pytest.fixture
def data():
    return orbitane.SharedImageSet()


@pytest.fixture
def options():
    return ASCDisplayOptions()


# --- the class ---------------------------------------------------------------------------------


def test_class_surface(options):
    assert isinstance(options, orbitane.DataComponentBase)
    assert ASCDisplayOptions.__doc__ == "DataComponent to store AnatomicalStructureCollection-specific rendering options."
    assert options.id == "ASCDisplayOptions"
    assert sheet_names(options) == []
    for name in ("add_style_sheet", "get_or_append_style_sheet", "remove_style_sheets_by_name"):
        assert getattr(ASCDisplayOptions, name).__doc__.startswith(name + "(self: orbitane.anatomy.ASCDisplayOptions, arg0:")


def test_add_style_sheet_stores_a_copy_before_the_named_sheet(options):
    mine = StyleSheet("b")
    options.add_style_sheet(mine, None)
    mine.name = "renamed"
    mine.enabled = False
    options.add_style_sheet(StyleSheet("a"), "b")
    options.add_style_sheet(StyleSheet("z"), "no such sheet")
    assert sheet_names(options) == ["a", "b", "z"]
    assert sheet_config(options, 1)["enabled"] is True


def test_wrong_arguments_raise_type_error(options):
    with pytest.raises(TypeError):
        options.add_style_sheet(StyleSheet("a"))
    with pytest.raises(TypeError):
        options.add_style_sheet("a", None)
    with pytest.raises(TypeError):
        options.add_style_sheet(StyleSheet("a"), 3)
    with pytest.raises(TypeError):
        options.get_or_append_style_sheet(3, None)
    with pytest.raises(TypeError):
        options.get_or_append_style_sheet("a")
    with pytest.raises(TypeError):
        options.remove_style_sheets_by_name(None)
    with pytest.raises(TypeError):
        options.add_style_sheet(StyleSheet("a"), before=None)
    assert sheet_names(options) == []


def test_get_or_append_returns_the_held_sheet(options):
    sheet = options.get_or_append_style_sheet("base", None)
    assert isinstance(sheet, StyleSheet)
    assert options.get_or_append_style_sheet("base", "other") is sheet
    sheet.enabled = False
    sheet.append_or_modify("meshes", lambda p: p.__setitem__("alpha", 0.5))
    assert sheet_config(options, 0)["enabled"] is False
    assert sheet_config(options, 0)["rules"]["0"]["selector"] == "meshes"
    options.get_or_append_style_sheet("first", "base")
    assert sheet_names(options) == ["first", "base"]
    assert repr(sheet) == "<StyleSheet, name='base', enabled='false', size='1'>"


def test_held_sheet_keeps_its_options_alive():
    sheet = ASCDisplayOptions().get_or_append_style_sheet("kept", None)
    gc.collect()
    sheet.name = "still here"
    assert repr(sheet) == "<StyleSheet, name='still here', enabled='true', size='0'>"


def test_a_dropped_sheet_object_is_made_anew(options):
    options.get_or_append_style_sheet("s", None).enabled = False
    gc.collect()
    assert repr(options.get_or_append_style_sheet("s", None)) == "<StyleSheet, name='s', enabled='false', size='0'>"


def test_removed_sheets_raise_reference_error(options):
    sheet = options.get_or_append_style_sheet("x", None)
    other = options.get_or_append_style_sheet("y", None)
    options.add_style_sheet(StyleSheet("x"), None)
    options.remove_style_sheets_by_name("x")
    options.remove_style_sheets_by_name("nothing")
    assert sheet_names(options) == ["y"]
    raises_gone(lambda: sheet.enabled, GONE_SHEET)
    raises_gone(lambda: setattr(sheet, "name", "z"), GONE_SHEET)
    raises_gone(lambda: repr(sheet), GONE_SHEET)
    raises_gone(lambda: sheet.append_or_modify(None, print), GONE_SHEET)
    raises_gone(lambda: options.add_style_sheet(sheet, None), GONE_SHEET)
    assert other.name == "y"
    # a new sheet of the old name is a new object, not the gone one
    assert options.get_or_append_style_sheet("x", None) is not sheet


def test_callback_may_remove_its_own_sheet(options):
    sheet = options.get_or_append_style_sheet("s", None)
    assert sheet.append_or_modify(None, lambda p: options.remove_style_sheets_by_name("s")) is True
    raises_gone(lambda: sheet.name, GONE_SHEET)


DISOWNED = "Missing value for wrapped C++ type `Orbitane::Properties`: Python instance was disowned."


@pytest.mark.parametrize(
    "end_sheet",
    [
        lambda options, sheet: options.remove_style_sheets_by_name("s"),
        lambda options, sheet: options.configure(orbitane.Properties({"styleSheets": {}})),
        # a nested call that ends the sheet must disown the object the outer callback still holds
        lambda options, sheet: sheet.append_or_modify(None, lambda q: options.remove_style_sheets_by_name("s")),
    ],
    ids=["removed", "configured away", "nested call"],
)
def test_a_declaration_whose_sheet_ended_in_the_callback_raises(options, end_sheet):
    sheet = options.get_or_append_style_sheet("s", None)
    errors = []

    def edit(p):
        p["alpha"] = 0.5
        end_sheet(options, sheet)
        gc.collect()
        for use in (lambda: p.__setitem__("color", "red"), lambda: p["alpha"], lambda: len(p)):
            with pytest.raises(ValueError) as info:
                use()
            errors.append(str(info.value))

    assert sheet.append_or_modify(None, edit) is True
    assert errors == [DISOWNED] * 3
    raises_gone(lambda: sheet.name, GONE_SHEET)
    assert sheet_names(options) == []


# --- DataComponentList additions ---------------------------------------------------------------


def test_accessor_finds_nothing_and_creates_nothing(data):
    components = data.components
    assert components.asc_display_options is None
    assert components.asc_display_options is None
    assert len(components) == 0
    assert isinstance(orbitane.DataComponentList.asc_display_options, property)
    assert "asc_display_options" not in dir(anatomy) and not hasattr(anatomy, "DataComponentList")


def test_first_add_appends_and_signals_once_second_add_assigns_silently(data, options):
    components = data.components
    signals = []
    components.changed.connect(lambda: signals.append(len(components)))
    options.get_or_append_style_sheet("first", None)

    added = components.add(options)
    assert isinstance(added, ASCDisplayOptions)
    assert added is not options
    assert signals == [1]
    assert components.asc_display_options is added
    assert sheet_names(added) == ["first"]

    # the argument is not stored
    options.get_or_append_style_sheet("later", None)
    assert sheet_names(added) == ["first"]

    replacement = ASCDisplayOptions()
    replacement.get_or_append_style_sheet("second", None)
    again = components.add(replacement)
    assert again is added
    assert signals == [1]
    assert len(components) == 1
    assert sheet_names(added) == ["second"]


def test_add_chains_after_the_packages_own_overloads(data):
    doc = orbitane.DataComponentList.add.__doc__
    # third, after the package's own two; the test support module may add more after it
    assert (
        "\n3. add(self: orbitane.DataComponentList, arg0: orbitane.anatomy.ASCDisplayOptions) -> "
        "orbitane.DataComponentBase\n\n" + ADD_DOC + "\n"
    ) in doc
    assert doc.count("\n1. add(") == 1 and doc.count("ASCDisplayOptions) ->") == 1
    labels = data.components.add(orbitane.LabelDataComponent())
    assert isinstance(labels, orbitane.LabelDataComponent)
    with pytest.raises(TypeError):
        data.components.add("options")
    assert len(data.components) == 1


def test_sheets_of_a_listed_component_are_live_views(data, options):
    added = data.components.add(options)
    sheet = data.components.asc_display_options.get_or_append_style_sheet("s", None)
    sheet.enabled = False
    assert sheet_config(added, 0)["enabled"] is False
    # assigning another state replaces the held sheets: views on the old ones let go
    data.components.add(ASCDisplayOptions())
    raises_gone(lambda: sheet.enabled, GONE_SHEET)


def test_removed_component_raises_reference_error(data, options):
    components = data.components
    added = components.add(options)
    by_index = components[0]
    sheet = added.get_or_append_style_sheet("s", None)
    components.remove(added)
    assert components.asc_display_options is None
    for view in (added, by_index):
        raises_gone(lambda: view.get_or_append_style_sheet("s", None), GONE_OPTIONS)
        raises_gone(lambda: view.add_style_sheet(StyleSheet("t"), None), GONE_OPTIONS)
        raises_gone(lambda: view.remove_style_sheets_by_name("s"), GONE_OPTIONS)
        raises_gone(lambda: view.id, GONE_OPTIONS)
        raises_gone(lambda: view.configuration(), GONE_OPTIONS)
        raises_gone(lambda: components.add(view), GONE_OPTIONS)
    raises_gone(lambda: sheet.name, GONE_SHEET)
    with pytest.raises(ValueError):
        components.remove(added)
    assert len(components) == 0


def test_deleting_the_data_object_leaves_views_that_raise():
    data = orbitane.SharedImageSet()
    added = data.components.add(ASCDisplayOptions())
    sheet = added.get_or_append_style_sheet("s", None)
    del data
    gc.collect()
    raises_gone(lambda: added.remove_style_sheets_by_name("s"), GONE_OPTIONS)
    raises_gone(lambda: sheet.enabled, GONE_SHEET)


def test_a_view_kept_past_its_data_object_raises_through_members_of_both_modules():
    data = orbitane.SharedImageSet()
    added = data.components.add(ASCDisplayOptions())
    del data
    gc.collect()
    for use in (
        lambda: added.configure(orbitane.Properties()),
        lambda: copy.deepcopy(added),
        lambda: added.add_style_sheet(StyleSheet("t"), None),
    ):
        raises_gone(use, GONE_OPTIONS)


def test_a_slot_that_removes_the_new_component_makes_add_raise(data):
    components = data.components
    components.changed.connect(lambda: len(components) and components.remove(components[0]))
    with pytest.raises(ReferenceError) as info:
        components.add(ASCDisplayOptions())
    assert str(info.value) == (
        "The added ASCDisplayOptions no longer exists: it was removed while the list's change signal ran."
    )


def test_display_options_travel_with_their_collection_through_orb_files(tmp_path):
    asc = anatomy.GenericASC()
    options = asc.components.add(ASCDisplayOptions())
    base = options.get_or_append_style_sheet("base", None)
    base.append_or_modify('meshes#"Orbitane.Liver", .hl', lambda p: p.__setitem__("alpha", 0.5))
    base.append_or_modify(None, lambda p: p.__setitem__("visibility", True))
    options.get_or_append_style_sheet("off", "base").enabled = False
    path = str(tmp_path / "styled.orb")
    orbitane.save(asc, path)

    # the view does not keep the loaded collection alive, so the collection needs a name here
    loaded = orbitane.open(path)
    restored = loaded.components.asc_display_options
    assert isinstance(restored, ASCDisplayOptions)
    assert restored.configuration() == options.configuration()
    assert sheet_names(restored) == ["off", "base"]
    assert sheet_config(restored, 1)["rules"]["0"]["selector"] == 'meshes#"Orbitane.Liver", .hl'
