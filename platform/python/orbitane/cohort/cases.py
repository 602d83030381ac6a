"""The cases of a cohort run: which input files, and where each one's outputs go."""

import glob
import os
from typing import NamedTuple, Optional

from .. import formats


class Case(NamedTuple):
    name: str
    input: str  # the label map, as the user named it
    # absolute paths, which workers started in other folders read and write alike
    path: str
    output: str  # <output_dir>/<name>.orb
    export_dir: Optional[str]  # <output_dir>/<name>/ when exporting, else None


def _expand(pattern):
    """The files that a glob pattern matches, sorted; a plain path stands for itself."""
    if not glob.has_magic(pattern):
        return [pattern]
    found = sorted(p for p in glob.glob(pattern, recursive=True) if os.path.isfile(p))
    if not found:
        raise ValueError(f'no file matches "{pattern}"')
    return found


def cases_of(inputs, output_dir, export):
    """One case per distinct input file, in the order given.

    A file named twice (by overlapping patterns, say) is one case. Two files with the same name
    stem would write the same outputs, which is refused before anything runs.
    """
    if isinstance(inputs, (str, os.PathLike)):
        inputs = [inputs]
    output_dir = os.path.abspath(output_dir)
    cases, seen, by_name = [], set(), {}
    for pattern in inputs:
        for path in _expand(os.fsdecode(pattern)):
            real = os.path.realpath(path)
            if real in seen:
                continue
            seen.add(real)
            name = formats.stem(path)
            if name in by_name:
                raise ValueError(f'"{by_name[name]}" and "{path}" would both be written to '
                                 f'"{os.path.join(output_dir, name)}.orb"')
            by_name[name] = path
            cases.append(Case(name, path, os.path.abspath(path), os.path.join(output_dir, name + ".orb"),
                              os.path.join(output_dir, name) if export else None))
    if not cases:
        raise ValueError("no input files")
    return cases
