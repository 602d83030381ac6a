"""python -m orbitane labelmap: a label map file in, a collection and its exported files out,
with exit status 0, 1 (a bad file) and 2 (bad arguments)."""

import os
import subprocess
import sys

import numpy as np
import pytest

nibabel = pytest.importorskip("nibabel")

import orbitane  # noqa: E402
import orbitane.anatomy  # noqa: E402,F401

COLOUR_TABLE = """# value name r g b [a]
1 Orbitane.Liver 200 90 80
2 Orbitane.Spleen 140 80 170 128
9 Orbitane.Absent 1 2 3
"""


def run_cli(*arguments, cwd):
    package_root = os.path.dirname(os.path.dirname(os.path.abspath(orbitane.__file__)))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [package_root, os.environ.get("PYTHONPATH")])))
    return subprocess.run([sys.executable, "-m", "orbitane", *arguments], cwd=cwd, env=env, capture_output=True,
                          text=True, timeout=300, stdin=subprocess.DEVNULL)


@pytest.fixture
def label_map(tmp_path):
    labels = np.zeros((12, 10, 8), np.uint8)
    labels[2:6, 2:7, 1:5] = 1
    labels[7:11, 3:8, 3:7] = 2
    labels[0, 0, 0] = 4
    affine = np.diag([-0.8, 0.9, 1.5, 1.0])
    affine[:3, 3] = [20.0, -10.0, 5.0]
    nibabel.save(nibabel.Nifti1Image(labels, affine), str(tmp_path / "seg.nii.gz"))
    (tmp_path / "colours.txt").write_text(COLOUR_TABLE)
    return tmp_path


def test_labelmap_writes_the_collection_and_its_files(label_map):
    done = run_cli("labelmap", "seg.nii.gz", "out", "--labels", "colours.txt", "--mesh-format", "obj",
                   cwd=label_map)
    assert done.returncode == 0, done.stderr
    assert done.stderr == ""  # not a terminal: no progress bar
    out = label_map / "out"
    for name in ("seg.orb", "structures.csv", "landmarks.mrk.json", "planes.json",
                 "Orbitane.Liver/Orbitane.Segmentation.obj", "Orbitane.Spleen/Orbitane.Segmentation.obj"):
        assert (out / name).is_file(), name
        assert f"wrote {os.path.join('out', name)}" in done.stdout
    asc = orbitane.open(out / "seg.orb")
    # the unnamed label 4 becomes a structure under its default name
    assert len(asc) == 3 and asc.anatomical_structure_identifiers()[:2] == ["Orbitane.Liver", "Orbitane.Spleen"]
    sheet = asc.components.asc_display_options.get_or_append_style_sheet("labels", None)
    assert "size='2'" in repr(sheet)

    quiet = run_cli("labelmap", "seg.nii.gz", "again", "--quiet", cwd=label_map)
    assert (quiet.returncode, quiet.stdout, quiet.stderr) == (0, "", "")
    assert orbitane.open(label_map / "again" / "seg.orb").components.asc_display_options is None


def test_bad_files_exit_with_one_line_and_bad_arguments_with_two(label_map):
    (label_map / "broken.nii.gz").write_bytes(b"\x1f\x8b not really")
    (label_map / "bad-labels.txt").write_text("1 Orbitane.Liver 300 0 0\n")
    for arguments in (("broken.nii.gz", "out"), ("absent.nii", "out"), ("seg.nii.gz", "out", "--labels",
                                                                        "bad-labels.txt")):
        done = run_cli("labelmap", *arguments, cwd=label_map)
        assert done.returncode == 1, done.stderr
        [line] = done.stderr.splitlines()
        assert line.startswith("python -m orbitane labelmap: error:")
        assert arguments[0] in line or arguments[-1] in line
    assert not (label_map / "out").exists()

    for arguments in (("labelmap", "seg.nii.gz"), ("labelmap", "seg.nii.gz", "out", "--mesh-format", "3ds"),
                      ("nosuchcommand",)):
        assert run_cli(*arguments, cwd=label_map).returncode == 2
    listing = run_cli("--help", cwd=label_map)
    assert listing.returncode == 0 and "labelmap" in listing.stdout
