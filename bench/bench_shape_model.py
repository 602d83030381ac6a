"""The shape model's principal component step next to numpy's Gram matrix + eigh, on 200 shapes of
30000 coordinates (one structure: 3 keypoints and a mesh of 9997 vertices), plus the whole model
generation (reading 200 .orb files, alignment, PCA) for context.

The PCA step is timed from the algorithm's progress signal: everything after the last report of
the file-reading stage (progress 0.4) belongs to alignment and PCA, and the PCA's own first report
marks where it starts. Prints seconds and ratios; asserts nothing about speed.
"""

import os
import sys
import tempfile
import time

import numpy as np

import orbitane
import orbitane.anatomy as anatomy

NUM_SHAPES = 200
NUM_VERTICES = 9997    # + 3 keypoints = 10000 points = 30000 coordinates
NUM_TRUE_MODES = 12


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
    generator = anatomy.GenerateLinearShapeModel(mean)
    generator.p_inputDirectory = directory
    marks = {}

    def on_progress(fraction):
        now = time.perf_counter()
        if fraction <= 0.4:
            marks["read"] = now
        elif "pca" not in marks and fraction >= 0.7:
            marks["pca"] = now

    generator.progress.connect(on_progress)
    start = time.perf_counter()
    results = generator()
    end = time.perf_counter()
    model = results["shape_model"].anatomical_structure("Orbitane.ShapeModel")
    modes = model.pointclouds.attributes["Orbitane.ShapeModel.Mean"]["numModes"]
    return end - start, end - marks.get("pca", marks["read"]), marks["read"] - start, modes


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


def main():
    rng = np.random.default_rng(5)
    with tempfile.TemporaryDirectory() as directory:
        mean = write_training_set(directory, rng)
        total, pca, reading, modes = time_generation(mean, directory)
        shapes = np.stack([training_vertices(os.path.join(directory, f)) for f in sorted(os.listdir(directory))])
    shapes = np.concatenate([shapes, rng.normal(size=(NUM_SHAPES, 9))], axis=1)    # 30000 coordinates
    numpy_seconds, numpy_modes = numpy_gram_pca(shapes)
    print(f"{NUM_SHAPES} shapes x {shapes.shape[1]} coordinates, {os.cpu_count()} cores")
    print(f"{'step':<44}{'seconds':>9}  note")
    print(f"{'orbitane PCA step (alignment excluded)':<44}{pca:>9.3f}  {modes} modes")
    print(f"{'numpy Gram matrix + eigh':<44}{numpy_seconds:>9.3f}  {numpy_modes} modes")
    print(f"{'orbitane whole model (read, align, PCA)':<44}{total:>9.3f}  reading {reading:.3f} s")
    print(f"numpy / orbitane PCA: {numpy_seconds / pca:.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
