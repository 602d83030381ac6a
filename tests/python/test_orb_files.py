"""Collections in .orb files through orbitane.open / orbitane.save."""

import errno
import fcntl
import math
import os
import random
import signal
import struct
import subprocess
import sys
import textwrap
import time
from pathlib import Path

import numpy as np
import pytest

import orbitane
from orbitane import anatomy
from orbitane.graph import Graph

from orb_checksums import with_checksums_repaired

NAN_WITH_PAYLOAD = struct.unpack("<d", struct.pack("<Q", 0x7FF80000DEADBEEF))[0]


def bits(values):
    return np.asarray(values, dtype=np.float64).tobytes()


def rigid(angle, translation):
    c, s = math.cos(angle), math.sin(angle)
    m = np.eye(4)
    m[:2, :2] = [[c, -s], [s, c]]
    m[:3, 3] = translation
    return m


def make_liver():
    liver = anatomy.GenericAnatomicalStructure("liver")
    liver.matrix_to_world = rigid(0.4, (5.0, -3.0, 12.0))
    liver.keypoints2["tip"] = [1 / 3, -0.0, math.inf]
    liver.keypoints2["B"] = [4.0, 5.0, 6.0]
    liver.keypoints2["a"] = [7.0, 8.0, 9.0]
    liver.keypoints2.attributes["pending"]    # an entry that exists without a value
    liver.planes["nan"] = [NAN_WITH_PAYLOAD] * 4
    liver.planes["axial"] = [0.0, 0.0, 1.0, -5.0]

    images = orbitane.SharedImageSet(
        np.arange(-12, 12, dtype=np.int16).reshape(2, 3, 4),
        spacing=(0.5, 0.7, 2.0),
        matrix_to_world=rigid(-0.2, (10.0, 0.0, -4.0)),
        modality=orbitane.Modality.CT,
    )
    images.add(np.array([[NAN_WITH_PAYLOAD, -0.0], [1e-310, 2.5]]), spacing=(0.25, 0.25, 1.0))
    images.name = "scan"
    liver.images["scan"] = images

    mesh = orbitane.Mesh(np.array([[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1]], float), np.array([[0, 1, 2], [0, 1, 3]]))
    mesh.name = "surface"
    liver.meshes["surface"] = mesh
    liver.pointclouds["samples"] = orbitane.PointCloud(np.array([[1.0, 2, 3], [4, 5, 6]]), normals=np.eye(3)[:2])
    vessels = Graph(np.array([[0.0, 0, 0], [1, 0, 0], [1, 1, 0]]), np.array([[0, 1], [1, 2]]))
    vessels.set_node_feature("radius", [1.5, NAN_WITH_PAYLOAD, 0.25])
    vessels.set_edge_feature("length", [1.0, 1.0])
    liver.graphs["vessels"] = vessels
    return liver


@pytest.fixture
def collection():
    asc = anatomy.GenericASC()
    asc.name = "patient 17"
    asc.matrix_to_world = rigid(0.1, (0.0, 0.0, 100.0))
    asc.add(make_liver())
    asc.add(anatomy.GenericAnatomicalStructure("empty"))
    labels = orbitane.LabelDataComponent()
    labels.set_label(1, "liver", color=(1.0, 0.0, 0.0))
    labels.set_label(2, "spleen", visible=False)
    asc.components.add(labels)
    return asc


@pytest.fixture
def saved(collection, tmp_path):
    path = tmp_path / "case.orb"
    orbitane.save(collection, path)
    return path


class TestRoundTrip:
    def test_open_gives_the_most_derived_class(self, saved):
        loaded = orbitane.open(saved)
        assert type(loaded) is anatomy.GenericASC
        assert loaded.anatomical_structure_identifiers() == ["liver", "empty"]

    def test_collection_keeps_name_frame_and_components(self, collection, saved):
        loaded = orbitane.open(str(saved))
        assert loaded.name == "patient 17"
        assert bits(loaded.matrix_to_world) == bits(collection.matrix_to_world)
        labels = [c for c in loaded.components if isinstance(c, orbitane.LabelDataComponent)]
        assert len(labels) == 1
        assert labels[0].labels() == {1: "liver", 2: "spleen"}
        assert labels[0].label_config(2)["visible"] is False

    def test_stores_keep_keys_in_order_and_values_bit_for_bit(self, saved):
        loaded = orbitane.open(saved)  # structures borrow from their collection: keep it alive
        liver = loaded.anatomical_structure("liver")
        original = make_liver()
        assert liver.keypoints2.keys() == ["B", "a", "pending", "tip"]
        assert bits(liver.keypoints2["tip"]) == bits([1 / 3, -0.0, math.inf])
        assert bits(liver.planes["nan"]) == bits([NAN_WITH_PAYLOAD] * 4)
        assert bits(liver.matrix_to_world) == bits(original.matrix_to_world)
        assert bits(liver.matrix_from_world) == bits(original.matrix_from_world)

    def test_entries_without_value_survive(self, saved):
        loaded = orbitane.open(saved)  # structures borrow from their collection: keep it alive
        liver = loaded.anatomical_structure("liver")
        assert "pending" in liver.keypoints2
        assert len(liver.keypoints2) == 4

    def test_data_objects_come_back_exactly(self, saved):
        loaded = orbitane.open(saved)  # structures borrow from their collection: keep it alive
        liver = loaded.anatomical_structure("liver")
        original = make_liver()
        images, expected = liver.images["scan"], original.images["scan"]
        assert images.name == "scan" and len(images) == 2
        for i in range(2):
            assert images.array(i).dtype == expected.array(i).dtype
            assert images.array(i).tobytes() == expected.array(i).tobytes()
        assert images.modality == orbitane.Modality.CT
        assert bits(images.spacing) == bits(expected.spacing)
        assert bits(images.matrix_to_world) == bits(expected.matrix_to_world)

        mesh = liver.meshes["surface"]
        assert mesh.name == "surface"
        assert np.array_equal(mesh.faces, original.meshes["surface"].faces)
        assert bits(liver.pointclouds["samples"].normals) == bits(np.eye(3)[:2])

        vessels = liver.graphs["vessels"]
        assert np.array_equal(vessels.edges, [[0, 1], [1, 2]])
        assert bits(vessels.node_features["radius"]) == bits([1.5, NAN_WITH_PAYLOAD, 0.25])
        assert list(vessels.edge_features) == ["length"]

    def test_empty_structures_and_collections(self, tmp_path):
        path = tmp_path / "empty.orb"
        asc = anatomy.GenericASC()
        asc.add(anatomy.GenericAnatomicalStructure("bare"))
        orbitane.save(asc, path)
        loaded = orbitane.open(path)
        bare = loaded.anatomical_structure(0)
        assert bare.identifier == "bare"
        assert [len(s) for s in (bare.keypoints2, bare.planes, bare.images, bare.meshes, bare.pointclouds, bare.graphs)] == [0] * 6

        orbitane.save(anatomy.GenericASC(), path)
        assert len(orbitane.open(path)) == 0

    def test_a_store_holds_as_many_entries_in_a_file_as_in_memory(self, tmp_path):
        path = tmp_path / "many.orb"
        asc = anatomy.GenericASC()
        asc.add(anatomy.GenericAnatomicalStructure("many"))
        points = {f"k{i:05}": [i, 0.0, 0.0] for i in range(20000)}
        asc.anatomical_structure(0).keypoints2.update(points)
        orbitane.save(asc, path)
        reopened = orbitane.open(path)    # kept: its structures borrow from it
        loaded = reopened.anatomical_structure(0).keypoints2
        assert loaded.keys() == sorted(points)
        np.testing.assert_array_equal(loaded["k19999"], [19999, 0, 0])

    def test_saving_the_loaded_collection_reproduces_the_file(self, saved, tmp_path):
        again = tmp_path / "again.orb"
        orbitane.save(orbitane.open(saved), again)
        assert again.read_bytes() == saved.read_bytes()


class TestDamagedFiles:
    def test_truncated_file_names_file_chunk_and_offset(self, saved):
        data = saved.read_bytes()
        saved.write_bytes(data[: len(data) - 50])
        with pytest.raises(RuntimeError, match=r"^Cannot read '.*case\.orb': truncated chunk '(STRC|END )' at offset \d+"):
            orbitane.open(saved)

    def test_every_cut_and_random_damage_is_refused(self, saved, tmp_path):
        data = saved.read_bytes()
        damaged = tmp_path / "damaged.orb"
        rng = random.Random(7)
        variants = [data[:n] for n in rng.sample(range(len(data)), 60)]
        for _ in range(60):
            copy = bytearray(data)
            copy[rng.randrange(len(copy))] ^= 1 << rng.randrange(8)
            variants.append(bytes(copy))
        for variant in variants:
            damaged.write_bytes(variant)
            with pytest.raises(RuntimeError, match="^Cannot read '"):
                orbitane.open(damaged)

    def test_names_that_are_not_utf8_are_refused_and_quoted_readably(self, tmp_path):
        c = anatomy.GenericASC()
        c.add(anatomy.GenericAnatomicalStructure("ident-x"))
        c.anatomical_structure("ident-x").keypoints2["key-x"] = [1, 2, 3]
        path = tmp_path / "names.orb"
        orbitane.save(c, path)
        data = path.read_bytes()
        for original, damaged, problem in (
                (b"ident-x", b"ident-\xff", "structure identifier 'ident-\ufffd' is not valid UTF-8"),
                (b"key-x", b"key-\xff", "keypoint key 'key-\ufffd' is not valid UTF-8"),
                (b"Anatomical", b"Anatomic\xff\xff", "unknown class 'GenericAnatomic\ufffd\ufffdStructure'")):
            path.write_bytes(with_checksums_repaired(data.replace(original, damaged)))
            with pytest.raises(RuntimeError) as error:
                orbitane.open(path)
            assert problem + " at offset " in str(error.value)

    def test_other_files_are_not_taken_for_collections(self, tmp_path):
        text = tmp_path / "notes.orb"
        text.write_text("not a collection")
        with pytest.raises(RuntimeError, match=r"not an \.orb file \(wrong magic number\)"):
            orbitane.open(text)
        with pytest.raises(RuntimeError, match="cannot open the file"):
            orbitane.open(tmp_path / "missing.orb")


class TestSaving:
    def test_only_collections_can_be_saved(self, tmp_path):
        mesh = orbitane.Mesh(np.zeros((3, 3)), np.array([[0, 1, 2]]))
        with pytest.raises(RuntimeError, match="only anatomical structure collections"):
            orbitane.save(mesh, tmp_path / "mesh.orb")
        assert list(tmp_path.iterdir()) == []

    def test_failed_rename_leaves_no_temporary_file(self, collection, tmp_path):
        # a non-empty directory in the way: everything but the final rename succeeds
        target = tmp_path / "case.orb"
        target.mkdir()
        (target / "keep").write_text("x")
        with pytest.raises(RuntimeError, match=r"^Cannot write '.*case\.orb': cannot rename the temporary file"):
            orbitane.save(collection, target)
        assert [p.name for p in tmp_path.iterdir()] == ["case.orb"]
        assert [p.name for p in target.iterdir()] == ["keep"]

    def test_save_replaces_the_file(self, saved, tmp_path):
        replacement = anatomy.GenericASC()
        replacement.add(anatomy.GenericAnatomicalStructure("spleen"))
        orbitane.save(replacement, saved)
        assert orbitane.open(saved).anatomical_structure_identifiers() == ["spleen"]
        assert [p.name for p in tmp_path.iterdir()] == ["case.orb"]

    def test_save_writes_through_a_symlink_and_keeps_read_only_files(self, saved, tmp_path):
        link = tmp_path / "link.orb"
        link.symlink_to("case.orb")
        replacement = anatomy.GenericASC()
        replacement.add(anatomy.GenericAnatomicalStructure("spleen"))
        orbitane.save(replacement, link)
        assert link.is_symlink() and os.readlink(link) == "case.orb"
        assert orbitane.open(saved).anatomical_structure_identifiers() == ["spleen"]
        assert sorted(p.name for p in tmp_path.iterdir()) == ["case.orb", "link.orb"]

        saved.chmod(0o444)
        before = saved.read_bytes()
        with pytest.raises(PermissionError, match=r"^Cannot write '.*link\.orb': the file is read-only$"):
            orbitane.save(anatomy.GenericASC(), link)
        assert saved.read_bytes() == before
        assert sorted(p.name for p in tmp_path.iterdir()) == ["case.orb", "link.orb"]


class TestPaths:
    def test_null_bytes_are_refused_not_cut(self, collection, tmp_path):
        path = str(tmp_path / "victim\0.orb")
        with pytest.raises(ValueError, match="embedded null byte"):
            orbitane.save(collection, path)
        assert list(tmp_path.iterdir()) == []
        (tmp_path / "victim").write_bytes(b"")
        with pytest.raises(ValueError, match="embedded null byte"):
            orbitane.open(path)

    def test_missing_files_are_file_not_found_errors(self, tmp_path):
        with pytest.raises(FileNotFoundError, match=r"^Cannot read '.*missing\.orb': cannot open the file$") as error:
            orbitane.open(tmp_path / "missing.orb")
        assert isinstance(error.value, RuntimeError)    # as it was
        assert error.value.errno == errno.ENOENT

    def test_fifos_and_directories_are_refused_at_once(self, tmp_path):
        fifo = tmp_path / "pipe.orb"
        os.mkfifo(fifo)
        previous = signal.signal(signal.SIGALRM, lambda *_: None)
        signal.alarm(5)    # interrupts an open() that would wait for a writer
        try:
            with pytest.raises(OSError, match=r"^Cannot read '.*pipe\.orb': it is not a regular file$"):
                orbitane.open(fifo)
        finally:
            signal.alarm(0)
            signal.signal(signal.SIGALRM, previous)
        (tmp_path / "folder.orb").mkdir()
        with pytest.raises(IsADirectoryError, match="it is a directory"):
            orbitane.open(tmp_path / "folder.orb")


CORPUS = Path(__file__).resolve().parents[1] / "fuzz" / "corpus"


def read_everything(loaded):
    """Reads what a script could read from a decoded collection."""
    repr(loaded), anatomy.AnatomicalStructureCollection.__repr__(loaded)
    for i in range(len(loaded)):
        s = loaded.anatomical_structure(i)
        s.identifier, s.matrix_from_world
        for store in (s.keypoints2, s.planes, s.images, s.meshes, s.pointclouds, s.graphs):
            store.asdict()
    options = loaded.components.asc_display_options
    if options is not None:
        options.configuration()


def test_fuzz_corpus_inputs_open_or_are_refused_and_what_opens_saves_again(tmp_path):
    """The minimised corpus of the reader's fuzz runs: each input, as it is and with its checksums
    repaired, either decodes into a collection that reads and saves without loss, or is refused
    with the reader's error."""
    inputs = sorted(CORPUS.iterdir())
    assert len(inputs) > 100
    path, again = tmp_path / "input.orb", tmp_path / "again.orb"
    opened = 0
    for source in inputs:
        data = source.read_bytes()
        for variant in {data, with_checksums_repaired(data)}:
            path.write_bytes(variant)
            try:
                loaded = orbitane.open(path)
            except RuntimeError as error:
                assert str(error).startswith("Cannot read '"), source.name
                continue
            assert isinstance(loaded, anatomy.AnatomicalStructureCollection), source.name
            read_everything(loaded)
            orbitane.save(loaded, again)
            saved = again.read_bytes()
            orbitane.save(orbitane.open(again), again)
            assert again.read_bytes() == saved, source.name
            opened += 1
    assert opened > 0


# Saves one large collection over and over, so that a save is nearly always in progress.
ENDLESS_WRITER = """
    import sys
    import numpy as np
    import orbitane
    from orbitane import anatomy
    asc = anatomy.GenericASC()
    big = anatomy.GenericAnatomicalStructure("big")
    big.images["voxels"] = orbitane.SharedImageSet(np.ones((64, 512, 512), np.int16))
    asc.add(big)
    while True:
        orbitane.save(asc, sys.argv[1])
"""


def temporaries(directory):
    return sorted(p.name for p in directory.iterdir() if p.name != "case.orb")


def locked_by_its_writer(path):
    """Whether a writer holds the lock of a temporary file (it takes it just after creating it)."""
    try:
        with open(path, "rb") as f:
            fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
            fcntl.flock(f, fcntl.LOCK_UN)
            return False
    except BlockingIOError:
        return True
    except FileNotFoundError:
        return False


def writer_stopped_mid_save(path):
    package_root = os.path.dirname(os.path.dirname(os.path.abspath(orbitane.__file__)))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [package_root, os.environ.get("PYTHONPATH")])))
    writer = subprocess.Popen([sys.executable, "-c", textwrap.dedent(ENDLESS_WRITER), str(path)], env=env)
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and writer.poll() is None:
        if temporaries(path.parent):
            writer.send_signal(signal.SIGSTOP)
            names = temporaries(path.parent)
            if names and all(locked_by_its_writer(path.parent / name) for name in names):
                return writer
            writer.send_signal(signal.SIGCONT)
    writer.kill()
    pytest.fail("the writer never started a save")


def test_saves_remove_what_killed_writers_left_and_keep_what_live_ones_hold(collection, tmp_path):
    path = tmp_path / "case.orb"
    writer = writer_stopped_mid_save(path)
    try:
        [held] = temporaries(tmp_path)
        assert held.startswith(".case.orb.tmp-") and not held.endswith(".orb")
        orbitane.save(collection, path)
        assert temporaries(tmp_path) == [held]
    finally:
        writer.kill()
        writer.wait()
    assert temporaries(tmp_path) == [held]    # a killed writer cannot clean up
    orbitane.save(collection, path)
    assert temporaries(tmp_path) == []
    assert orbitane.open(path).anatomical_structure_identifiers() == ["liver", "empty"]
