"""Cohort runs on Dask: a cohort with a bad file, a run killed and run again, a worker that dies in
the middle of a case, and the shape model of a converted cohort. Every test runs its own local
cluster of two worker processes and stops it."""

import concurrent.futures
import contextlib
import csv
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

nibabel = pytest.importorskip("nibabel")
distributed = pytest.importorskip("distributed")

import orbitane  # noqa: E402
import orbitane.anatomy as anatomy  # noqa: E402
import orbitane.cohort  # noqa: E402

SUFFIXES = (".nii", ".nii.gz", ".mgh", ".mgz")
TIMEOUT = 300  # seconds for one command or run, cluster start-up included


def write_label_map(path, number, size=16):
    """Two labelled blocks whose sizes and places vary with ``number``, in the format of the suffix."""
    labels = np.zeros((size, size + 2, size + 4), np.uint8)
    a, b = 2 + number % 3, 3 + number % 4
    labels[1:1 + a + 3, 2:8, 1:1 + b + 2] = 1
    labels[size - 7:size - 1, 9:9 + a + 2, 8:8 + b + 3] = 2
    affine = np.diag([0.9, 1.1, 1.5 + 0.05 * number, 1.0])
    kind = nibabel.MGHImage if ".mg" in os.path.basename(path) else nibabel.Nifti1Image
    nibabel.save(kind(labels, affine), str(path))


def write_cohort(folder, count, size=16):
    folder.mkdir()
    for number in range(count):
        write_label_map(folder / f"case{number:02d}{SUFFIXES[number % len(SUFFIXES)]}", number, size)
    return folder


def command_line(*arguments):
    """The command and environment of ``python -m orbitane ARGUMENTS`` on this package tree."""
    package_root = os.path.dirname(os.path.dirname(os.path.abspath(orbitane.__file__)))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [package_root, os.environ.get("PYTHONPATH")])))
    return [sys.executable, "-m", "orbitane", *arguments], env


def run_to_end(*arguments, cwd):
    command, env = command_line(*arguments)
    return subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True, timeout=TIMEOUT,
                          stdin=subprocess.DEVNULL)


def group_alive(group):
    try:
        os.killpg(group, 0)
    except ProcessLookupError:
        return False
    return True


def temporaries(folder):
    return [name for name in os.listdir(folder) if ".tmp-" in name]


def opens(path):
    return isinstance(orbitane.open(path), anatomy.GenericASC)


@pytest.fixture(scope="module")
def converted(tmp_path_factory):
    """12 label maps of four formats and one corrupt file, run through the command on two workers."""
    root = tmp_path_factory.mktemp("cohort")
    write_cohort(root / "maps", 12)
    (root / "maps" / "broken.nii.gz").write_bytes(b"\x1f\x8b\x08 not a label map")
    done = run_to_end("cohort", "maps/*", "out", "--workers", "2", cwd=root)
    return root, done


def test_a_bad_file_is_listed_and_the_others_are_converted(converted):
    root, done = converted
    assert done.returncode == 1, done.stderr
    assert done.stdout.splitlines()[-1].startswith("12 converted, 0 skipped, 1 failed in ")
    outputs = sorted(name for name in os.listdir(root / "out") if name.endswith(".orb"))
    assert outputs == [f"case{n:02d}.orb" for n in range(12)]
    assert all(opens(root / "out" / name) for name in outputs)
    with open(root / "out" / "failures.csv", newline="") as file:
        [row] = list(csv.DictReader(file))
    assert row["case"] == os.path.join("maps", "broken.nii.gz")
    assert row["error_type"] == "ValueError" and "broken.nii.gz" in row["message"]


def test_a_killed_run_is_finished_by_running_it_again(tmp_path):
    write_cohort(tmp_path / "maps", 24, size=40)
    outputs = tmp_path / "out"
    command, env = command_line("cohort", "maps/*", "out", "--workers", "2")
    first = subprocess.Popen(command, cwd=tmp_path, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        deadline = time.monotonic() + TIMEOUT
        while not (outputs.is_dir() and any(n.endswith(".orb") for n in os.listdir(outputs))):
            assert first.poll() is None and time.monotonic() < deadline
            time.sleep(0.01)
        first.send_signal(signal.SIGKILL)
        first.wait()
        while group_alive(first.pid):  # its workers go with it, and write nothing more
            assert time.monotonic() < deadline
            time.sleep(0.05)
    finally:
        with contextlib.suppress(ProcessLookupError):
            os.killpg(first.pid, signal.SIGKILL)
    written_before = sum(n.endswith(".orb") for n in os.listdir(outputs))
    assert 0 < written_before < 24

    again = run_to_end("cohort", "maps/*", "out", "--workers", "2", cwd=tmp_path)
    assert again.returncode == 0, again.stderr
    summary = again.stdout.splitlines()[-1]
    assert summary.startswith(f"{24 - written_before} converted, {written_before} skipped, 0 failed")
    names = os.listdir(outputs)
    assert sorted(n for n in names if n.endswith(".orb")) == [f"case{n:02d}.orb" for n in range(24)]
    assert all(opens(outputs / n) for n in names if n.endswith(".orb"))
    assert temporaries(outputs) == []


class KillsItsWorkerOnce(distributed.WorkerPlugin):
    """Makes the first reading of one case's label map, on any worker, kill that worker's process."""

    def __init__(self, case, marker):
        self.case, self.marker = case, marker

    def setup(self, worker):
        from orbitane.cohort import task

        read = task.read_label_map

        def read_or_die(path):
            if os.path.basename(path).startswith(self.case):
                try:
                    os.close(os.open(self.marker, os.O_CREAT | os.O_EXCL | os.O_WRONLY))
                except FileExistsError:
                    return read(path)
                os.kill(os.getpid(), signal.SIGKILL)
            return read(path)

        task.read_label_map = read_or_die


def test_a_case_whose_worker_dies_is_retried_on_another(tmp_path):
    maps = write_cohort(tmp_path / "maps", 6)
    marker = tmp_path / "killed"
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        client.register_plugin(KillsItsWorkerOnce("case03", str(marker)))
        with concurrent.futures.ThreadPoolExecutor(1) as pool:
            summary = pool.submit(orbitane.cohort.convert, [str(maps / "*")], tmp_path / "out",
                                  client=client).result(timeout=TIMEOUT)
        assert client.status == "running"  # a client passed in is left running
    assert marker.exists()
    assert (summary.converted, summary.skipped, summary.failed) == (6, 0, 0)
    assert all(opens(tmp_path / "out" / f"case{n:02d}.orb") for n in range(6))


def test_the_command_runs_on_an_existing_cluster_and_leaves_it_up(tmp_path):
    write_cohort(tmp_path / "maps", 4)
    with distributed.LocalCluster(n_workers=1, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        done = run_to_end("cohort", "maps/*", "out", "--scheduler", cluster.scheduler_address, cwd=tmp_path)
        assert done.returncode == 0, done.stderr
        assert done.stdout.splitlines()[-1].startswith("4 converted, 0 skipped, 0 failed")
        assert client.run_on_scheduler(lambda dask_scheduler: dask_scheduler.transition_counter) > 0
        assert len(client.scheduler_info()["workers"]) == 1
    assert all(opens(tmp_path / "out" / f"case{n:02d}.orb") for n in range(4))


def test_the_shape_model_command_matches_the_algorithm(converted, tmp_path):
    root, _ = converted
    mean = orbitane.open(root / "out" / "case00.orb")
    for i in range(len(mean)):  # keypoints alone: the cases' meshes differ in their vertex counts
        structure = mean.anatomical_structure(i)
        for key in list(structure.meshes.keys()):
            del structure.meshes[key]
    orbitane.save(mean, tmp_path / "mean.orb")
    done = run_to_end("shape-model", str(root / "out"), "--mean", "mean.orb", "--output", "model.orb",
                      "--update-mean", cwd=tmp_path)
    assert done.returncode == 0, done.stderr

    direct = anatomy.GenerateLinearShapeModel(mean)
    direct.p_inputDirectory = str(root / "out")
    direct.p_updateMeanShape = True
    expected = direct()
    for key, path in (("shape_model", "model.orb"), ("mean", "model.mean.orb")):
        saved = orbitane.open(tmp_path / path)
        assert saved.anatomical_structure_identifiers() == expected[key].anatomical_structure_identifiers()
        for i in range(len(saved)):
            ours, theirs = saved.anatomical_structure(i), expected[key].anatomical_structure(i)
            assert ours.keypoints2.asdict().keys() == theirs.keypoints2.asdict().keys()
            for name, point in theirs.keypoints2.asdict().items():
                np.testing.assert_allclose(ours.keypoints2[name], point, atol=1e-9)
            for name in theirs.pointclouds.keys():
                np.testing.assert_allclose(ours.pointclouds[name].points, theirs.pointclouds[name].points, atol=1e-9)
    assert expected["shape_model"].anatomical_structure("Orbitane.ShapeModel").pointclouds.attributes[
        "Orbitane.ShapeModel.Mean"]["numShapes"] == 12
