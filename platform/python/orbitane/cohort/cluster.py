"""The Dask clients of cohort runs: a local cluster of worker processes, or an existing scheduler."""

import contextlib
import os

from ..formats.requirements import require


def distributed():
    """The module ``distributed``, or an error that names the packages to install."""
    return require("distributed")


@contextlib.contextmanager
def local_client(workers=None):
    """A client of a new local cluster of ``workers`` processes (default: one per core), closed after.

    One thread each: a conversion holds the interpreter lock, and runs native threads of its own.
    The cluster listens on the loopback interface only and starts no dashboard.
    """
    dask = distributed()
    workers = workers or os.process_cpu_count() or 1
    # Dask starts workers with MALLOC_TRIM_THRESHOLD_ set low, which hands every case's memory
    # back to the system and faults it in again for the next: measured, it halved the rate.
    with require("dask").config.set({"distributed.nanny.pre-spawn-environ": {}}):
        cluster = dask.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                    host="127.0.0.1", dashboard_address=None)
    try:
        with dask.Client(cluster) as client:
            yield client
    finally:
        cluster.close()


@contextlib.contextmanager
def remote_client(address):
    """A client of the running scheduler at ``address`` (tcp://host:port); the cluster stays up."""
    with distributed().Client(address) as client:
        yield client
