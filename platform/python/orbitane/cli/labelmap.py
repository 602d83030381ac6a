"""``labelmap INPUT OUTPUT_DIR``: a label map into a collection of structures, saved and exported."""

import contextlib
import os
import sys

import numpy as np

from .. import Modality, export, formats, open as open_file, save
from ..export import MESH_FORMATS
from ..formats.requirements import require
from .label_tables import read_label_table

_STAGES = ("reading the label map", "converting labels to structures", "saving the collection",
           "exporting files")
_STYLE_SHEET = "labels"


def add_to(commands):
    command = commands.add_parser(
        "labelmap", help="turn a label map into structures: meshes, landmarks and a table of numbers",
        description="Opens a label map (.nii, .nii.gz, .mgh, .mgz), turns every label into a structure, "
                    "saves the collection as OUTPUT_DIR/<input stem>.orb and exports meshes, landmarks, "
                    "planes and structures.csv into OUTPUT_DIR.")
    command.add_argument("input", metavar="INPUT", help="the label map")
    command.add_argument("output", metavar="OUTPUT_DIR", help="the folder to write into (created if needed)")
    command.add_argument("--labels", metavar="FILE",
                         help='label names: a JSON object {"1": "Orbitane.Liver", ...} or a colour table '
                              "with lines 'value name r g b [a]'; without it, every label present gets its "
                              "default name")
    command.add_argument("--mesh-format", choices=MESH_FORMATS, default="stl", help="mesh file format (stl)")
    command.add_argument("--quiet", action="store_true", help="no progress bar and no list of files")
    command.set_defaults(run=run)


class _Stages:
    """A progress bar over the stages on a terminal; nothing at all otherwise."""

    def __init__(self, quiet):
        self._bar = None
        if not quiet and sys.stderr.isatty():
            self._bar = require("tqdm").tqdm(total=len(_STAGES), file=sys.stderr, leave=False,
                                             bar_format="{desc} {bar} {n_fmt}/{total_fmt}")

    @contextlib.contextmanager
    def stage(self, number):
        if self._bar is not None:
            self._bar.set_description(_STAGES[number])
        yield
        if self._bar is not None:
            self._bar.update(1)

    def close(self):
        if self._bar is not None:
            self._bar.close()


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


def _convert(anatomy, images, input_path, names):
    if len(images) != 1:
        raise ValueError(f'"{input_path}" holds {len(images)} volumes; a label map has one')
    collection = anatomy.generic_asc_from_label_map(images, names)
    if collection is None:
        raise ValueError(f'"{input_path}": the label map could not be turned into structures')
    return collection


def run(arguments):
    from .. import _plugin

    anatomy = _plugin("orbitane.anatomy")
    table = read_label_table(arguments.labels) if arguments.labels else None
    stages = _Stages(arguments.quiet)
    try:
        with stages.stage(0):
            images = open_file(arguments.input, modality=Modality.LABEL)
        with stages.stage(1):
            collection = _convert(anatomy, images, arguments.input, table.names if table else {})
            if table:
                _add_colours(anatomy, collection, table)
        with stages.stage(2):
            os.makedirs(arguments.output, exist_ok=True)
            saved = os.path.join(arguments.output, formats.stem(arguments.input) + ".orb")
            save(collection, saved)
        with stages.stage(3):
            written = export(collection, arguments.output, mesh_format=arguments.mesh_format)
    finally:
        stages.close()
    if not arguments.quiet:
        print(f"{len(collection)} structures from {arguments.input}")
        for path in [saved, *written]:
            print(f"wrote {path}")
    return 0
