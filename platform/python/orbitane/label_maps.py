"""A label map file turned into a collection of structures, named and coloured by a label table.

Shared by the command ``labelmap`` and the cohort runs, so that one case converts the same way
on its own and in a cohort.
"""

import numpy as np

from . import Modality, _plugin, open as open_file

_STYLE_SHEET = "labels"


def read_label_map(path):
    """The label map's image set; the errors of ``orbitane.open`` for files that are none."""
    return open_file(path, modality=Modality.LABEL)


def collection_from(images, path, table=None):
    """The collection of one structure per label of ``images`` (read from ``path``).

    ``table`` (a LabelTable, or None for the default names) names the labels; its colours become
    a style sheet "labels" in the collection's display options.
    """
    anatomy = _plugin("orbitane.anatomy")
    if len(images) != 1:
        raise ValueError(f'"{path}" holds {len(images)} volumes; a label map has one')
    collection = anatomy.generic_asc_from_label_map(images, table.names if table else {})
    if collection is None:
        raise ValueError(f'"{path}": the label map could not be turned into structures')
    if table:
        _add_colours(anatomy, collection, table)
    return collection


def _selector_text(identifier):
    escaped = identifier.replace("\\", "\\\\").replace('"', '\\"')
    return f'#"{escaped}"'


def _add_colours(anatomy, collection, table):
    """One rule per coloured label that became a structure, in a style sheet the collection carries."""
    present = set(collection.anatomical_structure_identifiers())
    rules = [(table.names[v], colour) for v, colour in sorted(table.colours.items()) if table.names[v] in present]
    if not rules:
        return
    options = collection.components.asc_display_options
    if options is None:
        options = collection.components.add(anatomy.ASCDisplayOptions())
    sheet = options.get_or_append_style_sheet(_STYLE_SHEET, None)
    for identifier, colour in rules:
        selector = anatomy.Selector.parse(_selector_text(identifier))

        def declare(declaration, colour=colour):
            declaration[anatomy.StyleProperty.COLOR] = np.array(colour)

        sheet.append_or_modify(selector, declare)
