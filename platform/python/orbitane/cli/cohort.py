"""``cohort INPUT... OUTPUT_DIR``: many label maps into collections, on a local or an existing cluster."""

import argparse
import os
import time

from ..export import MESH_FORMATS


def add_to(commands):
    command = commands.add_parser(
        "cohort", help="turn many label maps into collections, in parallel on Dask",
        description="Turns every label map (files or glob patterns) into OUTPUT_DIR/<case>.orb, one case per "
                    "task on a local cluster of worker processes or an existing Dask cluster. Cases whose "
                    "output exists and opens are skipped, so an interrupted run is finished by running it "
                    "again; failed cases are listed in OUTPUT_DIR/failures.csv and make the exit status 1.")
    command.add_argument("inputs", nargs="+", metavar="INPUT", help="label map files or glob patterns")
    command.add_argument("output", metavar="OUTPUT_DIR", help="the folder to write into (created if needed)")
    command.add_argument("--labels", metavar="FILE",
                         help='label names, as for labelmap: a JSON object {"1": "Orbitane.Liver", ...} or a '
                              "colour table with lines 'value name r g b [a]'")
    command.add_argument("--export", action="store_true",
                         help="also export every case's files into OUTPUT_DIR/<case>/")
    command.add_argument("--mesh-format", choices=MESH_FORMATS, default="stl",
                         help="mesh file format of the export (stl)")
    where = command.add_mutually_exclusive_group()
    where.add_argument("--workers", type=_positive, metavar="N",
                       help="worker processes of the local cluster (default: one per core)")
    where.add_argument("--scheduler", metavar="ADDRESS",
                       help="run on the existing cluster of this scheduler (tcp://host:port) instead")
    command.set_defaults(run=run)


def _positive(text):
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value < 1:
        raise argparse.ArgumentTypeError(f"expected a positive whole number, not {text!r}")
    return value


def summary_line(summary, failures_file):
    line = (f"{summary.converted} converted, {summary.skipped} skipped, {summary.failed} failed "
            f"in {summary.seconds:.1f} s")
    return f"{line}; see {failures_file}" if summary.failed else line


def run(arguments):
    from .. import cohort
    from ..cohort.cluster import local_client, remote_client
    from ..cohort.failures import FILE_NAME

    start = time.perf_counter()
    planned = cohort.plan(arguments.inputs, arguments.output, labels=arguments.labels, export=arguments.export,
                          mesh_format=arguments.mesh_format)
    if arguments.scheduler:
        connection = remote_client(arguments.scheduler)
    else:
        connection = local_client(arguments.workers)
    with connection as client:
        summary = cohort.run(planned, client)
    summary = summary._replace(seconds=time.perf_counter() - start)
    print(summary_line(summary, os.path.join(arguments.output, FILE_NAME)))
    return 1 if summary.failed else 0
