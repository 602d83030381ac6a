"""The work of one case, run on a worker: open, convert and write it, and report in one short row.

Nothing of the case's data leaves the worker, so the client holds only rows however large the
cohort. The collection file is written last and atomically: an output that exists and opens
marks a finished case, which a later run skips.
"""

import os
from typing import NamedTuple

from .. import export, open as open_file, save
from ..label_maps import collection_from, read_label_map

CONVERTED, SKIPPED, FAILED = "converted", "skipped", "failed"


class Row(NamedTuple):
    case: str  # the input file
    outcome: str  # CONVERTED, SKIPPED or FAILED
    error_type: str = ""
    message: str = ""


def failure(case, error):
    """The row of a case that raised ``error``."""
    return Row(case.input, FAILED, type(error).__name__, " ".join(str(error).split()))


def is_done(case):
    """Whether the case's outputs are all there and its collection opens."""
    if case.export_dir is not None and not os.path.isdir(case.export_dir):
        return False
    if not os.path.isfile(case.output):
        return False
    try:
        open_file(case.output)
    except (OSError, ValueError, RuntimeError):
        return False
    return True


def convert_case(case, table=None, mesh_format="stl", since=None):
    """Converts one case unless it is done; returns its Row. Errors of the case become the row.

    ``since`` is the time (``time.time()``) the run started: an output written after it comes
    from an earlier attempt of this run, whose row was lost with its worker, and counts as converted.
    """
    if is_done(case):
        written_now = since is not None and os.stat(case.output).st_mtime >= since
        return Row(case.input, CONVERTED if written_now else SKIPPED)
    try:
        collection = collection_from(read_label_map(case.path), case.input, table)
        if case.export_dir is not None:
            export(collection, case.export_dir, mesh_format=mesh_format)
        save(collection, case.output)
    except Exception as error:  # any fault of this one case, reported in its row
        return failure(case, error)
    return Row(case.input, CONVERTED)
