"""Deformable mesh registration (ASCRegistration, DeformableMeshRegistration) in vertices per second,
on surfaces from the label-map conversion registered onto a smoothly deformed copy of themselves:
one bumpy ball each of about 10^4, 10^5 and 10^6 vertices, and a head-like volume of 181 x 217 x 181
voxels with six nested bumpy tissue shells, all six meshes in one registration.

For each case: the first call and the best of the runs, the mean surface distance of the moving
vertices before and after (VTK's vtkDistancePolyDataFilter, exact point-to-triangle distances), the
share of triangles that turned over, and how often the progress signal fired. The anchor is one
closest-point pass of VTK over the same vertices, which the registration's 40 iterations are set
against. Prints figures; asserts nothing about speed.
"""

import sys
import time

import numpy as np
import vtk
from vtk.util.numpy_support import numpy_to_vtk, numpy_to_vtkIdTypeArray, vtk_to_numpy

import orbitane
import orbitane.anatomy as anatomy

SEGMENTATION = "Orbitane.Segmentation"
HEAD_SHAPE = (181, 217, 181)    # z, y, x
TISSUES = ["skin", "skull", "csf", "grey_matter", "white_matter", "ventricles"]


def bumpy_radius(z, y, x, centre, radius, seed, bumps=6, amplitude=0.025, frequency=(3, 9)):
    """Distance from the centre, scaled by a bumpy radius (below 1: inside)."""
    rng = np.random.default_rng(seed)
    d = [(z - centre[0]) / radius[0], (y - centre[1]) / radius[1], (x - centre[2]) / radius[2]]
    r = np.sqrt(d[0] ** 2 + d[1] ** 2 + d[2] ** 2) + 1e-9
    wobble = np.zeros_like(r)
    for _ in range(bumps):
        k = rng.normal(size=3)
        k *= rng.uniform(*frequency) / np.linalg.norm(k)
        wobble += amplitude * np.sin((k[0] * d[0] + k[1] * d[1] + k[2] * d[2]) / r * 3 + rng.uniform(0, 6.3))
    return r * (1 + wobble)


def ball_volume(vertices):
    """A bumpy ball whose surface has about this many vertices."""
    radius = np.sqrt(vertices / 4.6 / np.pi)
    n = int(2 * radius * 1.2) + 4
    z, y, x = np.ogrid[:n, :n, :n]
    c = (n - 1) / 2
    return (bumpy_radius(z, y, x, (c, c, c), (radius, radius, radius), 1) <= 1).astype(np.uint8), {1: "ball"}


def head_volume():
    z, y, x = np.ogrid[:HEAD_SHAPE[0], :HEAD_SHAPE[1], :HEAD_SHAPE[2]]
    centre = [(s - 1) / 2 for s in HEAD_SHAPE]
    labels = np.zeros(HEAD_SHAPE, dtype=np.uint8)
    outer = np.array([86.0, 104.0, 86.0])
    for value, scale in enumerate([1.0, 0.93, 0.86, 0.81, 0.66, 0.22], start=1):
        # the brain's two surfaces are folded finely, as a cortex is
        folds = dict(bumps=30, amplitude=0.021, frequency=(20, 45)) if value in (4, 5) else {}
        inside = bumpy_radius(z, y, x, centre, outer * scale, value, **folds) <= 1
        labels[inside] = value
    return labels, {value: name for value, name in enumerate(TISSUES, start=1)}


def smooth_warp(points, extent):
    """A smooth displacement of a few percent of the extent, with a wavelength of about half of it."""
    k = 2 * np.pi / (0.5 * extent)
    amplitude = 0.015 * extent
    p = points - points.mean(0)
    return points + amplitude * np.stack([np.sin(k * p[:, 1] + 0.3), np.sin(k * p[:, 2] + 1.1),
                                          np.sin(k * p[:, 0] + 2.0)], axis=1)


def polydata(vertices, faces):
    points = vtk.vtkPoints()
    points.SetData(numpy_to_vtk(np.ascontiguousarray(vertices, dtype=np.float64), deep=True))
    cells = vtk.vtkCellArray()
    connectivity = numpy_to_vtkIdTypeArray(np.ascontiguousarray(faces, dtype=np.int64).ravel(), deep=True)
    cells.SetData(3, connectivity)
    mesh = vtk.vtkPolyData()
    mesh.SetPoints(points)
    mesh.SetPolys(cells)
    return mesh


def surface_distances(points, surface):
    """VTK's exact distances of `points` to the triangles of `surface`, and its time."""
    cloud = vtk.vtkPolyData()
    cloud.DeepCopy(polydata(points, np.zeros((0, 3), dtype=np.int64)))
    vertices = vtk.vtkCellArray()
    vertices.SetData(1, numpy_to_vtkIdTypeArray(np.arange(len(points), dtype=np.int64), deep=True))
    cloud.SetVerts(vertices)
    f = vtk.vtkDistancePolyDataFilter()
    f.SetInputData(0, cloud)
    f.SetInputData(1, surface)
    f.SignedDistanceOff()
    f.ComputeSecondDistanceOff()
    f.ComputeCellCenterDistanceOff()
    start = time.perf_counter()
    f.Update()
    seconds = time.perf_counter() - start
    return vtk_to_numpy(f.GetOutput().GetPointData().GetScalars()), seconds


def face_normals(vertices, faces):
    a, b, c = (vertices[faces[:, k]] for k in range(3))
    return np.cross(b - a, c - a)


def make_case(labels, names):
    image = orbitane.SharedImageSet(labels, modality=orbitane.Modality.LABEL)
    fixed = anatomy.generic_asc_from_label_map(image, names)
    meshes = []
    for i in range(len(fixed)):
        m = fixed.anatomical_structure(i).meshes[SEGMENTATION]
        meshes.append((fixed.anatomical_structure(i).identifier, m.vertices, m.faces))
    return fixed, meshes


def run_once(fixed, meshes, extent):
    moving = fixed.clone()
    warped = {}
    for name, vertices, faces in meshes:
        warped[name] = smooth_warp(vertices, extent)
        moving.anatomical_structure(name).meshes[SEGMENTATION] = orbitane.Mesh(warped[name], faces)
    r = anatomy.ASCRegistration(fixed, moving)
    r.registration_method = anatomy.ASCRegistration.RegistrationMethod.DeformableMeshRegistration
    progress = []
    r.progress.connect(progress.append)
    start = time.perf_counter()
    r.compute()
    seconds = time.perf_counter() - start
    if r.status != 0:
        raise RuntimeError(f"registration failed with status {r.status}")
    fitted = {name: moving.anatomical_structure(name).meshes[SEGMENTATION].vertices for name, _, _ in meshes}
    return seconds, warped, fitted, progress


def measure(label, labels, names, repeats):
    fixed, meshes = make_case(labels, names)
    extent = float(max(labels.shape))
    n = sum(len(v) for _, v, _ in meshes)
    runs = []
    for _ in range(repeats):
        seconds, warped, fitted, progress = run_once(fixed, meshes, extent)
        runs.append(seconds)
    before = after = flipped = vtk_seconds = 0.0
    for name, vertices, faces in meshes:
        surface = polydata(vertices, faces)
        d0, s0 = surface_distances(warped[name], surface)
        d1, _ = surface_distances(fitted[name], surface)
        before += d0.sum()
        after += d1.sum()
        vtk_seconds += s0
        dots = (face_normals(fitted[name], faces) * face_normals(warped[name], faces)).sum(1)
        flipped += (dots <= 0).sum()
    faces_total = sum(len(f) for _, _, f in meshes)
    steady = all(a <= b for a, b in zip(progress, progress[1:]))
    print(f"{label:<22}{n:>9}{len(meshes):>4}{runs[0]:>9.2f}{min(runs):>9.2f}{n / min(runs):>11.0f}"
          f"{vtk_seconds:>9.2f}{min(runs) / vtk_seconds:>8.1f}x{before / n:>9.3f}{after / n:>9.3f}"
          f"{100 * (1 - after / before):>8.1f}%{100 * flipped / faces_total:>8.3f}%"
          f"{len(progress):>6} {'rising' if steady else 'NOT rising'}, last {progress[-1]:.3f}", flush=True)


def main():
    print("Deformable registration onto a smoothly deformed copy (times in seconds; distance: mean surface "
          "distance of the moving vertices, world units; VTK: one closest-point pass, the anchor)")
    print(f"{'case':<22}{'vertices':>9}{'msh':>4}{'first':>9}{'best':>9}{'vertices/s':>11}{'VTK':>9}"
          f"{'/VTK':>9}{'before':>9}{'after':>9}{'down':>9}{'flipped':>9}{'progress reports':>23}")
    for target in (10 ** 4, 10 ** 5, 10 ** 6):
        labels, names = ball_volume(target)
        measure(f"bumpy ball ~1e{len(str(target)) - 1}", labels, names, 2)
    labels, names = head_volume()
    measure("head, 6 tissues", labels, names, 2)
    return 0


if __name__ == "__main__":
    sys.exit(main())
