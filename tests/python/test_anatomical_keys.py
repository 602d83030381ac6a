"""The tree of anatomical identifier modules under orbitane.keys."""

import importlib
import sys
import types

import pytest

import orbitane
import orbitane.anatomy  # noqa: F401  (its initialisation builds the tree)

# Attributes every module object has from its creation; the key modules carry nothing else but
# `key` and their children.
STANDARD_ATTRIBUTES = {"__name__", "__doc__", "__package__", "__loader__", "__spec__"}


@pytest.fixture(scope="module")
def key_modules():
    """Every module below orbitane.keys by its name in sys.modules."""
    return {name: m for name, m in sys.modules.items() if name.startswith("orbitane.keys.")}


def children_of(name, key_modules):
    depth = name.count(".") + 1
    return {n.rsplit(".", 1)[1] for n in key_modules if n.startswith(name + ".") and n.count(".") == depth}


class TestTree:
    def test_keys_is_a_submodule_of_the_package(self):
        keys = sys.modules["orbitane.keys"]
        assert isinstance(keys, types.ModuleType)
        assert orbitane.keys is keys
        assert keys.__name__ == "orbitane.keys"
        assert not hasattr(keys, "key")

    def test_one_module_per_identifier(self, key_modules):
        assert len(key_modules) == 155
        identifiers = [m.key for m in key_modules.values()]
        assert len(set(identifiers)) == 155
        assert all(type(k) is str and k.startswith("Orbitane.") for k in identifiers)
        assert max(name.count(".") for name in key_modules) - 1 == 4

    def test_each_module_sits_below_its_parent_identifier(self, key_modules):
        for name, m in key_modules.items():
            assert m.__name__ == name
            parent_name, attribute = name.rsplit(".", 1)
            assert getattr(sys.modules[parent_name], attribute) is m
            if parent_name != "orbitane.keys":
                assert m.key.rsplit(".", 1)[0] == key_modules[parent_name].key
            else:
                assert m.key.count(".") == 1

    def test_modules_carry_only_key_and_children(self, key_modules):
        for name, m in key_modules.items():
            assert set(vars(m)) - STANDARD_ATTRIBUTES == {"key"} | children_of(name, key_modules), name
            assert m.__doc__ is None

    @pytest.mark.parametrize("path, key", [
        ("position", "Orbitane.Position"),
        ("registration_descriptor", "Orbitane.RegistrationDescriptor"),
        ("bounding_box.lower_right_back", "Orbitane.BoundingBox.LowerRightBack"),
        ("spine", "Orbitane.Spine"),
        ("spine.vertebra.left_pedicle", "Orbitane.Spine.Vertebra.LeftPedicle"),
        ("spine.vertebra.left_superior_articular_process", "Orbitane.Spine.Vertebra.LeftSuperiorArticularProcess"),
        ("spine.cervical_vertrebrae", "Orbitane.Spine.CervicalVertrebrae"),
        ("spine.sacrum.right_foramen4", "Orbitane.Spine.Sacrum.RightForamen4"),
        ("ribs.left_rib1", "Orbitane.Ribs.LeftRib1"),
        ("ribs.right_rib12", "Orbitane.Ribs.RightRib12"),
        ("left_leg.femur.head.center", "Orbitane.LeftLeg.Femur.Head.Center"),
        ("heart.pulmonary_valve.center", "Orbitane.Heart.PulmonaryValve.Center"),
        ("inferior_vena_cava.lumen", "Orbitane.InferiorVenaCava.Lumen"),
        ("lungs.right_lung.middle_lobe", "Orbitane.Lungs.RightLung.MiddleLobe"),
    ])
    def test_key_by_attribute_path(self, path, key):
        m = orbitane.keys
        for attribute in path.split("."):
            m = getattr(m, attribute)
        assert m.key == key
        assert sys.modules["orbitane.keys." + path] is m

    def test_numbers_stay_with_their_word(self, key_modules):
        numbered = {name.rsplit(".", 1)[1] for name in key_modules if name[-1].isdigit()}
        expected = {f"{side}_rib{i}" for side in ("left", "right") for i in range(1, 13)}
        expected |= {f"{side}_foramen{i}" for side in ("left", "right") for i in range(1, 5)}
        assert numbered == expected

    def test_top_level_names(self):
        assert set(vars(orbitane.keys)) - STANDARD_ATTRIBUTES == {
            "position", "prediction", "segmentation", "crop", "registration_descriptor", "weight_image",
            "skeleton", "lesion", "bounding_box", "spine", "costal_cartilage", "ribs", "sternum",
            "left_clavicula", "right_clavicula", "pelvis", "ilium", "left_leg", "right_leg", "liver",
            "gallbladder", "bowel", "stomach", "left_kidney", "right_kidney", "prostate", "spleen", "heart",
            "aorta", "pulmonary_artery", "superior_vena_cava", "inferior_vena_cava", "lungs"}

    def test_import_statement_finds_a_key_module(self):
        import orbitane.keys.heart.left_atrium as atrium
        assert atrium.key == "Orbitane.Heart.LeftAtrium"
        assert importlib.import_module("orbitane.keys.spine.sacrum.end_plate.center").key == \
            "Orbitane.Spine.Sacrum.EndPlate.Center"


class TestExistingKeysModule:
    def test_reuses_keys_module_and_children_that_carry_key(self, run_isolated):
        seen = run_isolated("""
            import json, sys, types
            keys = types.ModuleType("orbitane.keys")
            keys.custom = 7
            spine = types.ModuleType("preset_spine")
            spine.key = "preset"
            keys.spine = spine
            sys.modules["orbitane.keys"] = keys
            import orbitane, orbitane.anatomy
            print(json.dumps({
                "same_keys": orbitane.keys is keys and sys.modules["orbitane.keys"] is keys,
                "custom": keys.custom,
                "same_spine": keys.spine is spine,
                "spine_key": spine.key,
                "vertebra": [spine.vertebra.__name__, spine.vertebra.key],
                "pedicle": spine.vertebra.left_pedicle.key,
                "liver": [keys.liver.__name__, keys.liver.key],
                "count": sum(n.startswith(("orbitane.keys.", "preset_spine.")) for n in sys.modules),
            }))
        """)
        assert seen == {
            "same_keys": True,
            "custom": 7,
            "same_spine": True,
            "spine_key": "preset",
            "vertebra": ["preset_spine.vertebra", "Orbitane.Spine.Vertebra"],
            "pedicle": "Orbitane.Spine.Vertebra.LeftPedicle",
            "liver": ["orbitane.keys.liver", "Orbitane.Liver"],
            "count": 154,
        }

    def test_non_module_under_a_generated_name_fails_the_import(self, run_isolated):
        seen = run_isolated("""
            import json, sys, types
            keys = types.ModuleType("orbitane.keys")
            keys.liver = 5
            sys.modules["orbitane.keys"] = keys
            try:
                import orbitane.anatomy
                print(json.dumps({"imported": True}))
            except ImportError as e:
                print(json.dumps({
                    "type": type(e).__name__,
                    "message": str(e),
                    "left_behind": "orbitane.anatomy" in sys.modules,
                    "made_before": keys.position.key,
                    "liver": keys.liver,
                    "made_after": "orbitane.keys.spleen" in sys.modules,
                }))
        """)
        assert seen == {
            "type": "ImportError",
            "message": "Object of type 'int' is not an instance of 'module_'",
            "left_behind": False,
            "made_before": "Orbitane.Position",
            "liver": 5,
            "made_after": False,
        }

    def test_module_without_key_under_a_generated_name_fails_the_import(self, run_isolated):
        seen = run_isolated("""
            import json, sys, types
            keys = types.ModuleType("orbitane.keys")
            keys.heart = types.ModuleType("bare")
            sys.modules["orbitane.keys"] = keys
            try:
                import orbitane.anatomy
                print(json.dumps({"imported": True}))
            except ImportError as e:
                print(json.dumps({
                    "type": type(e).__name__,
                    "message": str(e),
                    "cause": type(e.__cause__).__name__,
                    "context_is_cause": e.__context__ is e.__cause__,
                    "left_behind": "orbitane.anatomy" in sys.modules,
                }))
        """)
        assert seen == {
            "type": "ImportError",
            "message": "initialization failed",
            "cause": "AttributeError",
            "context_is_cause": True,
            "left_behind": False,
        }
