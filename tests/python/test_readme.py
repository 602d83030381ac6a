"""The README's examples of use from Python run as they stand, one after the other, on a label map
written here with nibabel."""

import re
from pathlib import Path

import numpy as np
import pytest

import orbitane

_README = Path(__file__).resolve().parents[2] / "README.md"


def _examples():
    text = _README.read_text(encoding="utf-8")
    section = text.split("\n## Using it from Python\n", 1)[1].split("\n## ", 1)[0]
    return re.findall(r"^```python\n(.*?)^```$", section, re.S | re.M)


def _write_label_map(path):
    """Two labelled blocks in a NIfTI file with anisotropic voxels and the label intent."""
    import nibabel

    labels = np.zeros((28, 24, 20), dtype=np.uint8)  # nibabel's axis order: i, j, k
    labels[4:14, 5:17, 3:15] = 1
    labels[17:25, 6:14, 5:12] = 2
    image = nibabel.Nifti1Image(labels, np.diag([0.8, 0.9, 1.5, 1.0]))
    image.header.set_intent("label")
    nibabel.save(image, path)


def test_readme_examples_run_in_order(tmp_path, monkeypatch):
    if not hasattr(orbitane, "export"):
        pytest.skip("this build has no orbitane.export, nor the NIfTI reader that comes with it")
    monkeypatch.chdir(tmp_path)
    _write_label_map(tmp_path / "seg.nii.gz")
    examples = _examples()
    assert len(examples) == 5
    names = {}
    for number, code in enumerate(examples, 1):
        exec(compile(code, f"README.md, example {number} of 'Using it from Python'", "exec"), names)

    assert names["asc"].anatomical_structure_identifiers() == [orbitane.keys.liver.key, orbitane.keys.spleen.key]
    assert names["statistics"]["voxelCount"] == 10 * 12 * 12
    assert len(names["box"]) == 8
    assert names["registration"].status == 0
    np.testing.assert_allclose(names["registration"].p_transformation[:3, 3], (-5.0, 3.0, -2.0), atol=1e-6)
    assert list(names["results"]) == ["mean", "shape_model"]
    assert (tmp_path / "seg-export" / "structures.csv").is_file()
