"""Random sequences of store, structure, collection and style operations, with owners deleted while
views into them are held, checked step by step against a small model of what each step must return
or raise. Nothing a script does in any order may crash, leak a dangling view or lose data."""

import gc
import math
import weakref

import numpy as np
import pytest
from hypothesis import HealthCheck, settings, strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, precondition, rule

import orbitane
import orbitane.anatomy as anatomy
from orbitane.anatomy import ASCDisplayOptions, AnatomicalStructureInvalidException, Selector, StyleSheet

STRUCTURE_GONE = "The anatomical structure is no longer valid: it was destroyed together with its owner"
OPTIONS_GONE = (
    "This ASCDisplayOptions no longer exists: it was removed from its DataComponentList, or the data "
    "object that held the list was deleted."
)
SHEET_GONE = "This StyleSheet no longer exists: it was removed from its ASCDisplayOptions, or they were deleted."
NULL_OBJECT = "Cannot set a null shared_ptr to a KeyValueStore expecting unique_ptr"

IDENTIFIERS = ["liver", "spleen", "Orbitane.Liver"]
KEYS = ["a", "ab", "B", "tip"]    # byte-wise order: B, a, ab, tip
SHEET_NAMES = ["base", "hl", "off"]
# selector text and its canonical form; text that does not parse names no selector, like None
SELECTORS = [(None, None), ("meshes", "meshes"), ("keypoints#liver", "keypoints#liver"), (".hl", ".hl"),
             ("meshes#liver, .hl", "meshes#liver, .hl"), ('#"Orbitane.Liver"', '#"Orbitane.Liver"'),
             ("meshes#", None)]
DECLARATIONS = [("alpha", 0.5), ("alpha", 1.0), ("visibility", False), ("color", "red")]

picks = st.integers(0, 7)


def vector_values(size):
    finite = st.tuples(*[st.sampled_from([0.0, 1.5, -2.0]) for _ in range(size)])
    odd = st.sampled_from([(math.nan,) + (0.0,) * (size - 1), (math.inf,) + (1.0,) * (size - 1)])
    return st.one_of(finite, odd)


def triangle(shift):
    return np.array([[0, 0, 0], [1, 0, 0], [0, 1, 0]], float) + shift


class StoreKind:
    """One store: how a model value becomes the element a script passes, and how a returned element
    is compared with the model value. Object values in the model are shifts of a fixed shape; None
    stands for Python None, which object stores refuse."""

    def __init__(self, name, values, make, content):
        self.name, self.values, self.make, self.content = name, values, make, content

    def stored(self, value):
        """What the store holds after assigning value: None means the key is removed instead."""
        if self.name == "keypoints2" and any(math.isnan(c) for c in value):
            return None
        return value

    def same(self, element, value):
        return np.array_equal(self.content(element), self.content_of(value), equal_nan=True)

    def content_of(self, value):
        return self.content(self.make(value))


STORES = {
    "keypoints2": StoreKind("keypoints2", vector_values(3), np.array, np.asarray),
    "planes": StoreKind("planes", vector_values(4), np.array, np.asarray),
    "meshes": StoreKind("meshes", st.sampled_from([0, 1, 2, None]),
                        lambda s: None if s is None else orbitane.Mesh(triangle(s), [[0, 1, 2]]),
                        lambda m: m.vertices),
    "pointclouds": StoreKind("pointclouds", st.sampled_from([0, 3, None]),
                             lambda s: None if s is None else orbitane.PointCloud(triangle(s)),
                             lambda c: c.points),
}
stores = st.sampled_from(list(STORES))
STORE_NAMES = {"keypoints2": "keypoints", "planes": "planes", "meshes": "meshes", "pointclouds": "pointclouds"}


# ---- the model ----------------------------------------------------------------------------------


class Structure:
    def __init__(self, identifier, stores=None):
        self.identifier = identifier
        self.stores = stores or {name: {} for name in STORES}
        self.alive = True

    def copy(self):
        return Structure(self.identifier, {name: dict(store) for name, store in self.stores.items()})


class Sheet:
    def __init__(self, name, enabled=True, rules=()):
        self.name, self.enabled, self.alive = name, enabled, True
        self.rules = [(selector, dict(declaration)) for selector, declaration in rules]

    def copy(self):
        return Sheet(self.name, self.enabled, self.rules)


class Options:
    def __init__(self, sheets=()):
        self.sheets = [sheet.copy() for sheet in sheets]
        self.alive = True

    def end(self):
        self.alive = False
        self.end_sheets(self.sheets)
        self.sheets = []

    @staticmethod
    def end_sheets(sheets):
        for sheet in sheets:
            sheet.alive = False

    def insert(self, sheet, before):
        names = [s.name for s in self.sheets]
        self.sheets.insert(names.index(before) if before in names else len(names), sheet)


class Collection:
    def __init__(self, structures=()):
        self.structures = list(structures)
        self.options = None

    def end(self):
        for structure in self.structures:
            structure.alive = False
        if self.options:
            self.options.end()

    def identifiers(self):
        return [s.identifier for s in self.structures]


class Held:
    """A Python object the script holds, with the model object it refers to."""

    def __init__(self, py, model, **extra):
        self.py, self.model = py, model
        self.__dict__.update(extra)


def expect(error, message, action):
    """Runs action; with an error type, it must raise exactly that error with that message."""
    if error is None:
        return action()
    with pytest.raises(error) as info:
        action()
    text = info.value.args[0] if error is KeyError else str(info.value)
    assert text == message
    return None


def pick(items, index):
    return items[index % len(items)]


def listed(items, index):
    """Removes and returns a held object: the script lets go of it."""
    return items.pop(index % len(items))


class OperationSequences(RuleBasedStateMachine):
    """Holds collections, structures, store wrappers, display options and style sheets; every rule is
    one script step on them, every invariant compares all held objects with the model."""

    LIMIT = 6

    def __init__(self):
        super().__init__()
        self.collections, self.structures, self.wrappers, self.options, self.sheets = [], [], [], [], []

    # ---- collections and structures -------------------------------------------------------------

    @precondition(lambda self: len(self.collections) < 4)
    @rule()
    def new_collection(self):
        self.collections.append(Held(anatomy.GenericASC(), Collection()))

    @precondition(lambda self: len(self.structures) < self.LIMIT)
    @rule(identifier=st.sampled_from(IDENTIFIERS))
    def new_structure(self, identifier):
        self.structures.append(Held(anatomy.GenericAnatomicalStructure(identifier), Structure(identifier),
                                    owns=True, renamable=True))

    @precondition(lambda self: self.collections and self.structures)
    @rule(c=picks, s=picks)
    def add(self, c, s):
        collection, structure = pick(self.collections, c), pick(self.structures, s)
        model = structure.model
        if not model.alive:
            error, message = ValueError, "Invalid anatomical structure"
        elif model.identifier in collection.model.identifiers():
            error, message = ValueError, f"Anatomical structure '{model.identifier}' is not supported by this collection"
        else:
            error, message = None, None
            collection.model.structures.append(model.copy())
        expect(error, message, lambda: collection.py.add(structure.py))

    @precondition(lambda self: self.collections and len(self.structures) < self.LIMIT)
    @rule(c=picks, by_name=st.booleans(), index=st.integers(-1, 3), identifier=st.sampled_from(IDENTIFIERS))
    def look_up(self, c, by_name, index, identifier):
        collection = pick(self.collections, c)
        identifiers = collection.model.identifiers()
        if by_name:
            found = identifiers.index(identifier) if identifier in identifiers else None
            argument, error = identifier, KeyError
            message = f"Anatomical structure with identifier '{identifier}' not found"
        else:
            found = index if 0 <= index < len(identifiers) else None
            argument, error = index, IndexError
            message = f"Index out of range: {index} not in [0, {len(identifiers)})"
        if found is None:
            expect(error, message, lambda: collection.py.anatomical_structure(argument))
            return
        py = collection.py.anatomical_structure(argument)
        self.structures.append(Held(py, collection.model.structures[found], owns=False, renamable=False))

    @precondition(lambda self: self.collections and len(self.structures) < self.LIMIT)
    @rule(c=picks, by_name=st.booleans(), index=st.integers(-1, 3), identifier=st.sampled_from(IDENTIFIERS))
    def pop(self, c, by_name, index, identifier):
        collection = pick(self.collections, c)
        identifiers = collection.model.identifiers()
        if by_name:
            found = identifiers.index(identifier) if identifier in identifiers else None
            argument, error = identifier, KeyError
            message = f"Anatomical structure with identifier '{identifier}' not found"
        else:
            found = index if 0 <= index < len(identifiers) else None
            argument, error, message = index, IndexError, "Index out of range"
        if found is None:
            expect(error, message, lambda: collection.py.pop(argument))
            return
        py = collection.py.pop(argument)
        self.structures.append(Held(py, collection.model.structures.pop(found), owns=True, renamable=False))

    @precondition(lambda self: 0 < len(self.collections) < 4)
    @rule(c=picks)
    def clone(self, c):
        source = pick(self.collections, c).model
        copy = Collection(s.copy() for s in source.structures)
        if source.options:
            copy.options = Options(source.options.sheets)
        self.collections.append(Held(pick(self.collections, c).py.clone(), copy))

    @precondition(lambda self: any(s.renamable for s in self.structures))
    @rule(s=picks, identifier=st.sampled_from(IDENTIFIERS))
    def rename(self, s, identifier):
        structure = pick([s for s in self.structures if s.renamable], s)
        structure.py.identifier = identifier
        structure.model.identifier = identifier

    # ---- stores ---------------------------------------------------------------------------------

    def store_view(self, w, through_held, name):
        """A store wrapper with its model structure and store name: a held one, or a new one for the
        named store from a held structure (which must then be alive to hand one out)."""
        if self.wrappers and (through_held or not self.structures):
            wrapper = pick(self.wrappers, w)
            return wrapper.py, wrapper.model, wrapper.store
        structure = pick(self.structures, w)
        if not structure.model.alive:
            expect(AnatomicalStructureInvalidException, STRUCTURE_GONE, lambda: getattr(structure.py, name))
            return None, None, None
        return getattr(structure.py, name), structure.model, name

    @staticmethod
    def missing_key(model_store, key):
        return f"Key '{key}' not found. Available keys: " + ", ".join(sorted(model_store))

    @precondition(lambda self: self.structures or self.wrappers)
    @rule(w=picks, through_held=st.booleans(), store=stores, key=st.sampled_from(KEYS), data=st.data())
    def set_element(self, w, through_held, store, key, data):
        py, model, name = self.store_view(w, through_held, store)
        if py is None:
            return
        kind = STORES[name]
        value = data.draw(kind.values)
        element = kind.make(value)
        if not model.alive:
            expect(AnatomicalStructureInvalidException, self.gone_store(name), lambda: py.__setitem__(key, element))
        elif value is None:
            expect(ValueError, NULL_OBJECT, lambda: py.__setitem__(key, element))
        else:
            py[key] = element
            stored = kind.stored(value)
            if stored is None:
                model.stores[name].pop(key, None)
            else:
                model.stores[name][key] = stored

    @precondition(lambda self: self.structures or self.wrappers)
    @rule(w=picks, through_held=st.booleans(), store=stores, key=st.sampled_from(KEYS), delete=st.booleans())
    def read_or_delete_element(self, w, through_held, store, key, delete):
        py, model, name = self.store_view(w, through_held, store)
        if py is None:
            return
        action = (lambda: py.__delitem__(key)) if delete else (lambda: py[key])
        if not model.alive:
            expect(AnatomicalStructureInvalidException, self.gone_store(name), action)
        elif key not in model.stores[name]:
            expect(KeyError, self.missing_key(model.stores[name], key), action)
        elif delete:
            action()
            del model.stores[name][key]
        else:
            assert STORES[name].same(action(), model.stores[name][key])

    @precondition(lambda self: self.structures or self.wrappers)
    @rule(w=picks, through_held=st.booleans(), store=stores, clear=st.booleans(), data=st.data())
    def assign_from_dict(self, w, through_held, store, clear, data):
        py, model, name = self.store_view(w, through_held, store)
        if py is None:
            return
        kind = STORES[name]
        given = data.draw(st.dictionaries(st.sampled_from(KEYS), kind.values, max_size=3))
        elements = {key: kind.make(value) for key, value in given.items()}
        if not model.alive:
            expect(AnatomicalStructureInvalidException, self.gone_store(name), lambda: py.from_dict(elements, clear))
            return
        store = model.stores[name]
        if clear:
            store.clear()
        # applied in key order, up to the first refused (None) object
        for key in sorted(given):
            if given[key] is None:
                expect(ValueError, NULL_OBJECT, lambda: py.from_dict(elements, clear))
                break
            stored = kind.stored(given[key])
            if stored is None:
                store.pop(key, None)
            else:
                store[key] = stored
        else:
            py.from_dict(elements, clear)

    @precondition(lambda self: self.structures and len(self.wrappers) < self.LIMIT)
    @rule(s=picks, store=stores)
    def hold_store(self, s, store):
        structure = pick(self.structures, s)
        if not structure.model.alive:
            expect(AnatomicalStructureInvalidException, STRUCTURE_GONE, lambda: getattr(structure.py, store))
            return
        self.wrappers.append(Held(getattr(structure.py, store), structure.model, store=store))

    @staticmethod
    def gone_store(name):
        return f"AnatomicalStructure holding {STORE_NAMES[name]} key value store is no longer valid"

    # ---- letting go of owners and views ---------------------------------------------------------

    @precondition(lambda self: self.collections)
    @rule(c=picks)
    def delete_collection(self, c):
        collection = listed(self.collections, c)
        self.drop(collection)
        collection.model.end()

    @precondition(lambda self: self.structures)
    @rule(s=picks)
    def delete_structure(self, s):
        structure = listed(self.structures, s)
        if structure.owns:
            self.drop(structure)
            structure.model.alive = False

    @precondition(lambda self: self.wrappers or self.options or self.sheets)
    @rule(v=picks)
    def let_go_of_a_view(self, v):
        views = [items for items in (self.wrappers, self.options, self.sheets) if items]
        listed(pick(views, v), v // len(views))
        gc.collect()

    @staticmethod
    def drop(held):
        """Deletes the script's only reference to an owner: the owner must be gone afterwards."""
        ref = weakref.ref(held.py)
        held.py = None
        gc.collect()
        assert ref() is None, "nothing else may keep an owner alive"

    # ---- display options and style sheets -------------------------------------------------------

    @precondition(lambda self: len(self.options) < self.LIMIT)
    @rule()
    def new_options(self):
        self.options.append(Held(ASCDisplayOptions(), Options()))

    @precondition(lambda self: self.options and self.collections and len(self.options) < self.LIMIT)
    @rule(o=picks, c=picks)
    def add_options_to_collection(self, o, c):
        options, collection = pick(self.options, o), pick(self.collections, c)
        if not options.model.alive:
            expect(ReferenceError, OPTIONS_GONE, lambda: collection.py.components.add(options.py))
            return
        added = collection.py.components.add(options.py)
        if collection.model.options is None:
            collection.model.options = Options(options.model.sheets)
        else:
            held = collection.model.options
            ended, held.sheets = held.sheets, [sheet.copy() for sheet in options.model.sheets]
            Options.end_sheets(ended)
        self.options.append(Held(added, collection.model.options))

    @precondition(lambda self: self.collections and len(self.options) < self.LIMIT)
    @rule(c=picks, remove=st.booleans())
    def find_options(self, c, remove):
        collection = pick(self.collections, c)
        found = collection.py.components.asc_display_options
        if collection.model.options is None:
            assert found is None
            return
        assert isinstance(found, ASCDisplayOptions)
        model = collection.model.options
        if remove:
            collection.py.components.remove(found)
            model.end()
            collection.model.options = None
        self.options.append(Held(found, model))

    @precondition(lambda self: self.options and len(self.sheets) < self.LIMIT)
    @rule(o=picks, name=st.sampled_from(SHEET_NAMES), before=st.sampled_from([None] + SHEET_NAMES))
    def get_or_append_sheet(self, o, name, before):
        options = pick(self.options, o)
        model = options.model
        if not model.alive:
            expect(ReferenceError, OPTIONS_GONE, lambda: options.py.get_or_append_style_sheet(name, before))
            return
        sheet = next((s for s in model.sheets if s.name == name), None)
        if sheet is None:
            sheet = Sheet(name)
            model.insert(sheet, before)
        self.sheets.append(Held(options.py.get_or_append_style_sheet(name, before), sheet))

    @precondition(lambda self: len(self.sheets) < self.LIMIT)
    @rule(name=st.sampled_from(SHEET_NAMES))
    def new_sheet(self, name):
        self.sheets.append(Held(StyleSheet(name), Sheet(name)))

    @precondition(lambda self: self.options and self.sheets)
    @rule(o=picks, s=picks, before=st.sampled_from([None] + SHEET_NAMES))
    def add_sheet(self, o, s, before):
        options, sheet = pick(self.options, o), pick(self.sheets, s)
        action = lambda: options.py.add_style_sheet(sheet.py, before)
        if not (options.model.alive and sheet.model.alive):
            with pytest.raises(ReferenceError) as gone:
                action()
            assert str(gone.value) in ({OPTIONS_GONE} if sheet.model.alive else {SHEET_GONE}) | (
                set() if options.model.alive else {OPTIONS_GONE})
        else:
            action()
            options.model.insert(sheet.model.copy(), before)

    @precondition(lambda self: self.options)
    @rule(o=picks, name=st.sampled_from(SHEET_NAMES))
    def remove_sheets(self, o, name):
        options = pick(self.options, o)
        model = options.model
        action = lambda: options.py.remove_style_sheets_by_name(name)
        if not model.alive:
            expect(ReferenceError, OPTIONS_GONE, action)
            return
        action()
        Options.end_sheets(s for s in model.sheets if s.name == name)
        model.sheets = [s for s in model.sheets if s.name != name]

    @precondition(lambda self: self.sheets)
    @rule(s=picks, enabled=st.booleans(), name=st.sampled_from([None] + SHEET_NAMES))
    def change_sheet(self, s, enabled, name):
        sheet = pick(self.sheets, s)
        if not sheet.model.alive:
            expect(ReferenceError, SHEET_GONE, lambda: setattr(sheet.py, "enabled", enabled))
            return
        sheet.py.enabled = enabled
        sheet.model.enabled = enabled
        if name is not None:
            sheet.py.name = name
            sheet.model.name = name

    @precondition(lambda self: self.sheets)
    @rule(s=picks, selector=st.sampled_from(SELECTORS), parsed=st.booleans(),
          declaration=st.sampled_from(DECLARATIONS))
    def append_or_modify(self, s, selector, parsed, declaration):
        sheet = pick(self.sheets, s)
        text, canonical = selector
        argument = Selector.parse(text) if parsed and text is not None else text
        edit = lambda p: p.__setitem__(*declaration)
        if not sheet.model.alive:
            expect(ReferenceError, SHEET_GONE, lambda: sheet.py.append_or_modify(argument, edit))
            return
        rules = sheet.model.rules
        existing = next((r for r in rules if r[0] == canonical), None)
        appended = existing is None
        if appended:
            existing = (canonical, {})
            rules.append(existing)
        existing[1][declaration[0]] = declaration[1]
        assert sheet.py.append_or_modify(argument, edit) is appended

    # ---- what every held object must show -------------------------------------------------------

    @invariant()
    def collections_match(self):
        for collection in self.collections:
            identifiers = collection.model.identifiers()
            assert collection.py.anatomical_structure_identifiers() == identifiers
            assert len(collection.py) == len(identifiers)
            assert repr(collection.py) == "<GenericASC, AnatomicalStructures: [" + ",".join(identifiers) + "] >"

    @invariant()
    def structures_match(self):
        for structure in self.structures:
            model = structure.model
            assert structure.py.valid is model.alive
            if not model.alive:
                expect(AnatomicalStructureInvalidException, STRUCTURE_GONE, lambda: structure.py.identifier)
                continue
            assert structure.py.identifier == model.identifier
            for name in STORES:
                self.store_matches(getattr(structure.py, name), model, name)

    @invariant()
    def wrappers_match(self):
        for wrapper in self.wrappers:
            assert wrapper.py.valid is wrapper.model.alive
            if wrapper.model.alive:
                self.store_matches(wrapper.py, wrapper.model, wrapper.store)
            else:
                expect(AnatomicalStructureInvalidException, self.gone_store(wrapper.store), lambda: len(wrapper.py))

    @staticmethod
    def store_matches(py, model, name):
        store = model.stores[name]
        assert py.keys() == sorted(store)
        for key, element in py.asdict().items():
            assert STORES[name].same(element, store[key]), (name, key)

    @invariant()
    def options_match(self):
        for options in self.options:
            if not options.model.alive:
                expect(ReferenceError, OPTIONS_GONE, lambda: options.py.configuration())
                continue
            sheets = options.py.configuration()["styleSheets"]
            assert [self.sheet_state(sheets[key]) for key in sheets] == [self.model_state(s) for s in options.model.sheets]

    @invariant()
    def sheets_match(self):
        for sheet in self.sheets:
            model = sheet.model
            if not model.alive:
                expect(ReferenceError, SHEET_GONE, lambda: repr(sheet.py))
                continue
            enabled = "true" if model.enabled else "false"
            assert repr(sheet.py) == f"<StyleSheet, name='{model.name}', enabled='{enabled}', size='{len(model.rules)}'>"

    @staticmethod
    def sheet_state(config):
        rules = config["rules"]
        return (config["name"], config["enabled"],
                [(rules[key].get("selector"), dict(rules[key]["declaration"])) for key in rules])

    @staticmethod
    def model_state(sheet):
        return sheet.name, sheet.enabled, [(selector, declaration) for selector, declaration in sheet.rules]

    def teardown(self):
        for items in (self.sheets, self.options, self.wrappers, self.structures, self.collections):
            items.clear()
        gc.collect()


OperationSequences.TestCase.settings = settings(
    max_examples=25, stateful_step_count=20, derandomize=True, database=None, deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.filter_too_much],
)
TestOperationSequences = OperationSequences.TestCase
