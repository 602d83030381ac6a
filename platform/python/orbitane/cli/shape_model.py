"""``shape-model DIRECTORY --mean MEAN.orb --output MODEL.orb``: a linear shape model of a folder of collections."""

import os
import sys

from .. import open as open_file, save
from ..formats.requirements import require


def add_to(commands):
    command = commands.add_parser(
        "shape-model", help="build a linear shape model from a folder of .orb collections",
        description="Runs GenerateLinearShapeModel over the .orb files of DIRECTORY (a cohort's OUTPUT_DIR, "
                    "say), with the structures of MEAN.orb as the mean shape, and saves the model as "
                    "MODEL.orb.")
    command.add_argument("directory", metavar="DIRECTORY", help="the folder of .orb collections")
    command.add_argument("--mean", metavar="MEAN.orb", required=True,
                         help="the mean shape: the structures, keypoints and meshes that the model covers")
    command.add_argument("--output", metavar="MODEL.orb", required=True, help="the model file to write")
    command.add_argument("--update-mean", action="store_true",
                         help="re-estimate the mean shape first, and save it as MODEL.mean.orb")
    command.set_defaults(run=run)


def mean_path(model_path):
    """MODEL.mean.orb beside MODEL.orb."""
    return os.path.splitext(model_path)[0] + ".mean.orb"


class _Progress:
    """A bar fed by the algorithm's progress signal (fractions done) on a terminal; nothing otherwise."""

    def __init__(self, algorithm):
        self._bar = None
        if sys.stderr.isatty():
            self._bar = require("tqdm").tqdm(total=1.0, file=sys.stderr, leave=False, desc="shape model",
                                             bar_format="{desc} {percentage:3.0f}%|{bar}| [{elapsed}<{remaining}]")
            algorithm.progress.connect(self._show)

    def _show(self, fraction):
        self._bar.update(fraction - self._bar.n)

    def close(self):
        if self._bar is not None:
            self._bar.close()


def _mean_shape(anatomy, path):
    mean = open_file(path)
    if not isinstance(mean, anatomy.AnatomicalStructureCollection):
        raise ValueError(f'"{path}" holds no collection of structures')
    return mean


def run(arguments):
    from .. import _plugin

    anatomy = _plugin("orbitane.anatomy")
    if not os.path.isdir(arguments.directory):
        raise NotADirectoryError(f'"{arguments.directory}" is not a folder')
    mean = _mean_shape(anatomy, arguments.mean)
    generator = anatomy.GenerateLinearShapeModel(mean)
    generator.p_inputDirectory = arguments.directory
    generator.p_updateMeanShape = arguments.update_mean
    progress = _Progress(generator)
    try:
        results = generator()
    finally:
        progress.close()
    written = [(results["shape_model"], arguments.output)]
    if arguments.update_mean:
        written.append((results["mean"], mean_path(arguments.output)))
    for collection, path in written:
        save(collection, path)
        print(f"wrote {path}")
    return 0
