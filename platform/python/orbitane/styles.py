"""The styling cascade of a collection, resolved for each of its elements.

The cascade is the anatomy library's own (the same one the platform's renderers use): the
enabled style sheets of the collection's display options in their order, every matching rule
writing its declaration over what came before, and, when the result says
``allow_object_attributes_override``, the element's own attributes over that.
"""

from . import _plugin


def resolve_styles(collection):
    """The effective style of every element of ``collection``.

    Returns a dict ``{(structure identifier, store, key): {property name: value}}`` in collection
    order, then store order ("keypoints", "planes", "images", "meshes", "pointclouds", "graphs"),
    then key order. Properties that no rule sets are absent; values are as rules and attributes
    hold them (bool, int, float, str, numpy arrays for vectors).
    """
    anatomy = _plugin("orbitane.anatomy")
    return {(identifier, store, key): style.asdict()
            for identifier, store, key, style in anatomy._resolve_styles(collection)}
