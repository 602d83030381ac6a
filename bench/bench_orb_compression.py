"""Size, save and open times of .orb files of version 1 (arrays as they are) next to version 2 with
its arrays compressed by zstd and by zlib (deflate) at several levels, on collections converted
from three label maps: a head segmentation of 181 x 217 x 181 voxels with 6 nested tissues, 30
ellipsoids in 160^3 voxels (the cohort benchmark's cases) and 4 interleaved classes of a smooth
random field in 128^3 voxels (surfaces everywhere).

    cmake --build build --target anatomy _orbitane bench_orb_codec
    ORBITANE_BUILD_DIR=build python3 bench/bench_orb_compression.py

Each encoding is saved and opened three times: the first call, which pays for fresh memory, and
the best of the three are printed, with ratios against version 1. Saving is OrbFile::save, the call
behind orbitane.save, given the encoding (bench/native/bench_orb_codec.cpp); opening is
orbitane.open. Figures, not a test: nothing fails when a goal is missed (the format aims at a
quarter of version 1's size, saving and opening within 1.5x of its times).
"""

import os
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

REPO = Path(__file__).resolve().parents[1]
BUILD = Path(os.environ.get("ORBITANE_BUILD_DIR", "build"))
BUILD = BUILD if BUILD.is_absolute() else REPO / BUILD
sys.path[:0] = [str(BUILD / "python"), str(BUILD / "bench")]

import orbitane  # noqa: E402
import orbitane.anatomy as anatomy  # noqa: E402

try:
    import bench_orb_codec  # noqa: E402
except ImportError:
    sys.exit(f"bench_orb_codec not found in {BUILD / 'bench'}: build the target bench_orb_codec first")

REPEATS = 3
# (label, major version, codec, level); the first is the anchor of the ratios
ENCODINGS = [
    ("version 1", 1, "stored", 0),
    ("zstd 1", 2, "zstd", 1),
    ("zstd 3", 2, "zstd", 3),
    ("zstd 9", 2, "zstd", 9),
    ("zlib 1", 2, "zlib", 1),
    ("zlib 6", 2, "zlib", 6),
]


def head_volume():
    """Scalp, skull, CSF, grey matter with folds, white matter and ventricles, nested."""
    z, y, x = np.ogrid[0:181, 0:217, 0:181]
    x, y, z = (a.astype(np.float32) for a in (x, y, z))
    rho = np.sqrt(((x - 90) / 72) ** 2 + ((y - 108) / 96) ** 2 + ((z - 92) / 80) ** 2)
    bumps = 0.02 * np.sin(0.11 * x + 0.07 * y) * np.cos(0.09 * z)
    folds = 0.12 * np.sin(1.1 * x) * np.sin(1.0 * y) * np.sin(1.045 * z)
    labels = np.zeros((181, 217, 181), dtype=np.uint8)
    labels[rho + bumps < 1.0] = 1
    labels[rho + bumps < 0.93] = 2
    labels[rho + bumps < 0.86] = 3
    labels[rho + folds < 0.82] = 4
    labels[rho + 1.3 * folds < 0.66] = 5
    ventricles = np.minimum(np.sqrt(((x - 80) / 8) ** 2 + ((y - 108) / 25) ** 2 + ((z - 95) / 12) ** 2),
                            np.sqrt(((x - 100) / 8) ** 2 + ((y - 108) / 25) ** 2 + ((z - 95) / 12) ** 2))
    labels[ventricles < 1.0] = 6
    return labels


def ellipsoids_volume(size=160, count=30, seed=20261211):
    rng = np.random.default_rng(seed)
    labels = np.zeros((size,) * 3, dtype=np.uint8)
    z, y, x = np.ogrid[0:size, 0:size, 0:size]
    for value in range(1, count + 1):
        axes = rng.uniform(6, 24, 3)
        centre = [rng.uniform(a, size - a) for a in axes]
        inside = ((z - centre[0]) / axes[0]) ** 2 + ((y - centre[1]) / axes[1]) ** 2 + ((x - centre[2]) / axes[2]) ** 2 <= 1
        labels[inside] = value
    return labels


def field_volume(size=128, seed=7):
    rng = np.random.default_rng(seed)
    z, y, x = (a.astype(np.float32) for a in np.ogrid[0:size, 0:size, 0:size])
    field = np.zeros((size,) * 3, dtype=np.float32)
    for _ in range(12):
        k = rng.normal(0, 0.12, 3).astype(np.float32)
        field += np.sin(k[0] * x + k[1] * y + k[2] * z + np.float32(rng.uniform(0, 6.3)))
    return np.digitize(field, np.quantile(field, [0.25, 0.5, 0.75])).astype(np.uint8) + 1


def convert(labels):
    image = orbitane.SharedImageSet(labels, modality=orbitane.Modality.LABEL)
    asc = anatomy.generic_asc_from_label_map(image, {})
    triangles = sum(asc.anatomical_structure(i).meshes["Orbitane.Segmentation"].num_faces for i in range(len(asc)))
    return asc, triangles


def timed_open(path):
    start = time.perf_counter()
    orbitane.open(str(path))
    return time.perf_counter() - start


def measure(saver, folder, major, codec, level):
    path = folder / f"{codec}-{major}-{level}.orb"
    saves = [saver.save(str(path), major, codec, level) for _ in range(REPEATS)]
    opens = [timed_open(path) for _ in range(REPEATS)]
    size = path.stat().st_size
    path.unlink()
    return size, saves, opens


def report(name, labels):
    asc, triangles = convert(labels)
    with tempfile.TemporaryDirectory(dir=BUILD) as folder:
        folder = Path(folder)
        source = folder / "source.orb"
        orbitane.save(asc, str(source))
        del asc
        saver = bench_orb_codec.Saver(str(source))
        rows = [(label, *measure(saver, folder, major, codec, level)) for label, major, codec, level in ENCODINGS]
    shape = " x ".join(str(n) for n in reversed(labels.shape))
    print(f"\n{name}: {shape} voxels, {int(labels.max())} labels, {triangles} triangles")
    print(f"{'encoding':<11}{'MB':>8}{'of v1':>7}{'save first':>12}{'best':>7}{'x v1':>6}"
          f"{'open first':>12}{'best':>7}{'x v1':>6}{'first x v1':>11}")
    anchor_size, anchor_saves, anchor_opens = rows[0][1:]
    for label, size, saves, opens in rows:
        print(f"{label:<11}{size / 1e6:>8.1f}{size / anchor_size:>7.3f}"
              f"{saves[0]:>12.3f}{min(saves):>7.3f}{min(saves) / min(anchor_saves):>6.2f}"
              f"{opens[0]:>12.3f}{min(opens):>7.3f}{min(opens) / min(anchor_opens):>6.2f}"
              f"{saves[0] / anchor_saves[0]:>5.2f}/{opens[0] / anchor_opens[0]:<5.2f}")


def main():
    print(f"seconds of the first call and the best of {REPEATS}; 'x v1' divides by version 1's; "
          f"'first x v1' gives save/open first-call ratios; {os.cpu_count()} cores")
    report("head segmentation", head_volume())
    report("30 ellipsoids", ellipsoids_volume())
    report("4-class random field", field_volume())
    return 0


if __name__ == "__main__":
    sys.exit(main())
