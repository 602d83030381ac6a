"""Cohorts: many label maps turned into collections on Dask, on one machine or a cluster.

Every case is one task that opens, converts and writes its label map on a worker and returns a
short row, so a run of any size holds little in the client. A run survives what long runs meet:
a case that fails is listed in OUTPUT_DIR/failures.csv and the others go on; a worker that dies
costs its case a retry on another one (up to the scheduler's ``allowed-failures``); an
interrupted run leaves no half-written file, and running it again converts only the rest.
"""

import collections
import operator
import os
import sys
import time
import uuid
from typing import NamedTuple

from ..export import MESH_FORMATS
from ..formats.requirements import require
from ..label_tables import LabelTable, read_label_table
from .cases import cases_of
from .cluster import distributed, local_client
from .failures import write_failures
from .task import CONVERTED, FAILED, SKIPPED, convert_case, failure

__all__ = ["Plan", "Summary", "convert", "plan", "run"]


class Plan(NamedTuple):
    """What a run does, checked before any worker starts."""
    cases: list
    output_dir: str
    table: object  # a LabelTable, or None
    mesh_format: str


class Summary(NamedTuple):
    converted: int
    skipped: int
    failed: int
    seconds: float


def _label_table(labels):
    if labels is None:
        return None
    if isinstance(labels, dict):
        return LabelTable({operator.index(value): name for value, name in labels.items()}, {})
    return read_label_table(labels)


def _row_of(future, case):
    try:
        return future.result()
    except Exception as error:  # the task never returned: its workers died, or the cluster went away
        return failure(case, error)


def _run(client, cases, table, mesh_format):
    """The rows of every case, in the order of the cases, with a bar over them on a terminal."""
    token = uuid.uuid4().hex[:8]
    keys = [f"cohort-{case.name}-{token}" for case in cases]
    futures = client.map(convert_case, cases, table=table, mesh_format=mesh_format, since=time.time(), key=keys)
    number = {key: i for i, key in enumerate(keys)}
    rows = [None] * len(cases)
    tqdm = require("tqdm").tqdm
    with tqdm(total=len(cases), unit="case", file=sys.stderr, disable=not sys.stderr.isatty()) as bar:
        for future in distributed().as_completed(futures):
            i = number[future.key]
            rows[i] = _row_of(future, cases[i])
            future.release()
            bar.update()
    return rows


def plan(inputs, output_dir, labels=None, export=False, mesh_format="stl"):
    """The Plan of ``convert`` with these arguments; ValueError or OSError for bad ones."""
    if mesh_format not in MESH_FORMATS:
        raise ValueError(f"mesh_format must be one of {', '.join(MESH_FORMATS)}, not {mesh_format!r}")
    table = _label_table(labels)
    return Plan(cases_of(inputs, output_dir, export), os.fspath(output_dir), table, mesh_format)


def run(planned, client):
    """Carries out a Plan on the cluster of ``client``; returns a Summary."""
    start = time.perf_counter()
    os.makedirs(planned.output_dir, exist_ok=True)
    rows = _run(client, planned.cases, planned.table, planned.mesh_format)
    write_failures(planned.output_dir, [row for row in rows if row.outcome == FAILED])
    counts = collections.Counter(row.outcome for row in rows)
    return Summary(counts[CONVERTED], counts[SKIPPED], counts[FAILED], time.perf_counter() - start)


def convert(inputs, output_dir, labels=None, client=None, export=False, mesh_format="stl"):
    """Converts every label map of ``inputs`` into ``output_dir/<case>.orb``; returns a Summary.

    ``inputs`` are files or glob patterns. ``labels`` names the labels: a label file as the
    command line's ``--labels`` takes, or a dict from label value to name. With ``export``, every
    case is also exported (``orbitane.export``) into ``output_dir/<case>/``. Cases whose outputs
    exist and open are skipped. The failed ones are listed in ``output_dir/failures.csv``, which
    every run rewrites. With ``client=None`` a local cluster of one worker process per core is
    started and closed; a client that is passed in is left running.
    """
    start = time.perf_counter()
    planned = plan(inputs, output_dir, labels, export, mesh_format)
    if client is not None:
        summary = run(planned, client)
    else:
        with local_client() as own:
            summary = run(planned, own)
    return summary._replace(seconds=time.perf_counter() - start)
