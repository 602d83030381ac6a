"""The shape model's principal component step next to numpy's Gram matrix + eigh, on 200 shapes of
30000 coordinates (one structure: 3 keypoints and a mesh of 9997 vertices), plus the whole model
generation (reading 200 .orb files, alignment, PCA).

numpy runs on whichever BLAS it loads (printed; users' numpy runs on OpenBLAS), once limited to one
BLAS thread and once to two. The three take turns for five rounds: the first round is the first
call, the best of the five shows the method itself.

The PCA step is timed from the algorithm's progress signal: the PCA stage spans progress 0.7 (its
first report) to 1.0 (its last, before the model's collection is built); the file-reading stage
ends at 0.4. Prints seconds and ratios; asserts nothing about speed.
"""

import os
import sys
import tempfile
import time

import numpy as np
from threadpoolctl import threadpool_info, threadpool_limits

import orbitane
import orbitane.anatomy as anatomy

NUM_SHAPES = 200
NUM_VERTICES = 9997    # + 3 keypoints = 10000 points = 30000 coordinates
NUM_TRUE_MODES = 12
ROUNDS = 5


def ellipsoid_points(n, rng):
    directions = rng.normal(size=(n, 3))
    directions /= np.linalg.norm(directions, axis=1, keepdims=True)
    return directions * np.array([40.0, 25.0, 18.0])


def shape_collection(vertices, keypoints):
    asc = anatomy.GenericASC()
    s = anatomy.GenericAnatomicalStructure(orbitane.keys.liver.key)
    faces = np.array([[0, i, i + 1] for i in range(1, len(vertices) - 1)])
    s.meshes["Orbitane.Segmentation"] = orbitane.Mesh(vertices, faces)
    s.keypoints2 = {f"landmark{i}": p for i, p in enumerate(keypoints)}
    asc.add(s)
    return asc


def write_training_set(directory, rng):
    base = ellipsoid_points(NUM_VERTICES + 3, rng)
    modes = rng.normal(size=(NUM_TRUE_MODES, base.size)) / np.sqrt(base.size)
    for i in range(NUM_SHAPES):
        weights = rng.normal(size=NUM_TRUE_MODES) * np.linspace(30, 3, NUM_TRUE_MODES)
        points = base + (weights @ modes).reshape(-1, 3) + rng.normal(0, 0.05, base.shape)
        orbitane.save(shape_collection(points[3:], points[:3]), os.path.join(directory, f"shape_{i:03d}.orb"))
    return shape_collection(base[3:], base[:3])


def time_generation(mean, directory):
    """Seconds of the whole model, of its PCA stage and of its reading stage, and the mode count."""
    generator = anatomy.GenerateLinearShapeModel(mean)
    generator.p_inputDirectory = directory
    marks = {}

    def on_progress(fraction):
        now = time.perf_counter()
        if fraction <= 0.4:
            marks["read"] = now
        elif fraction >= 0.7:
            marks.setdefault("pca", now)
            marks["pca_end"] = now

    generator.progress.connect(on_progress)
    start = time.perf_counter()
    results = generator()
    end = time.perf_counter()
    model = results["shape_model"].anatomical_structure("Orbitane.ShapeModel")
    modes = model.pointclouds.attributes["Orbitane.ShapeModel.Mean"]["numModes"]
    return end - start, marks["pca_end"] - marks["pca"], marks["read"] - start, modes


def training_vertices(path):
    collection = orbitane.open(path)    # its structures are borrowed: keep it alive while reading them
    return collection.anatomical_structure(0).meshes["Orbitane.Segmentation"].vertices.ravel()


def numpy_gram_pca(shapes):
    start = time.perf_counter()
    centred = shapes - shapes.mean(axis=0)
    gram = centred @ centred.T
    values, vectors = np.linalg.eigh(gram)
    order = np.argsort(values)[::-1]
    keep = values[order] > values.max() * 1e-12
    modes = centred.T @ (vectors[:, order][:, keep] / np.sqrt(values[order][keep]))
    return time.perf_counter() - start, modes.shape[1]


def blas_description():
    libraries = [f"{i['internal_api']} {i.get('version') or ''} ({i.get('architecture') or '?'}, "
                 f"{i['num_threads']} threads, {os.path.basename(i['filepath'])})"
                 for i in threadpool_info() if i["user_api"] == "blas"]
    return "; ".join(libraries) or "none found"


def numpy_with_threads(shapes, threads):
    with threadpool_limits(limits=threads, user_api="blas"):
        return numpy_gram_pca(shapes)


def summary(name, runs, note=""):
    return f"{name:<44}{runs[0]:>9.3f}{min(runs):>9.3f}  {note}"


def main():
    rng = np.random.default_rng(5)
    whole, pca, reading = [], [], []
    numpy_runs = {1: [], 2: []}
    with tempfile.TemporaryDirectory() as directory:
        mean = write_training_set(directory, rng)
        shapes = np.stack([training_vertices(os.path.join(directory, f)) for f in sorted(os.listdir(directory))])
        shapes = np.concatenate([shapes, rng.normal(size=(NUM_SHAPES, 9))], axis=1)    # 30000 coordinates
        for _ in range(ROUNDS):
            total, step, read, modes = time_generation(mean, directory)
            whole.append(total)
            pca.append(step)
            reading.append(read)
            for threads, runs in numpy_runs.items():
                seconds, numpy_modes = numpy_with_threads(shapes, threads)
                runs.append(seconds)
    print(f"{NUM_SHAPES} shapes x {shapes.shape[1]} coordinates, {os.cpu_count()} cores; numpy {np.__version__} on "
          f"{blas_description()}")
    print(f"{'step':<44}{'first':>9}{'best':>9}  (seconds, {ROUNDS} alternating rounds)")
    print(summary("orbitane PCA step (alignment excluded)", pca, f"{modes} modes"))
    for threads, runs in numpy_runs.items():
        print(summary(f"numpy Gram matrix + eigh, {threads} BLAS thread{'s' * (threads > 1)}", runs,
                      f"{numpy_modes} modes"))
    print(summary("orbitane whole model (read, align, PCA)", whole,
                  f"reading {reading[0]:.3f} / {min(reading):.3f} s"))
    fastest_numpy = {kind: min(min(r) if kind == "best" else r[0] for r in numpy_runs.values())
                     for kind in ("first", "best")}
    for kind, pick in (("first", lambda runs: runs[0]), ("best", min)):
        print(f"{kind}: numpy (faster thread count) / orbitane PCA step {fastest_numpy[kind] / pick(pca):.2f}x; "
              f"orbitane whole model / numpy PCA {pick(whole) / fastest_numpy[kind]:.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
