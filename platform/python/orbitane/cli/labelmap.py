"""``labelmap INPUT OUTPUT_DIR``: a label map into a collection of structures, saved and exported."""

import contextlib
import os
import sys

from .. import export, formats, save
from ..export import MESH_FORMATS
from ..formats.requirements import require
from ..label_maps import collection_from, read_label_map
from ..label_tables import read_label_table

_STAGES = ("reading the label map", "converting labels to structures", "saving the collection",
           "exporting files")


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


def run(arguments):
    table = read_label_table(arguments.labels) if arguments.labels else None
    stages = _Stages(arguments.quiet)
    try:
        with stages.stage(0):
            images = read_label_map(arguments.input)
        with stages.stage(1):
            collection = collection_from(images, arguments.input, table)
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
