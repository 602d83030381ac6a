"""Label-map conversion against the usual tools, on one deterministic 400 x 512 x 512 volume with
100 labels: whole conversion (statistics, masks and watertight meshes of every label) next to
scikit-image marching cubes per label on bounding-box crops (meshes kept, and dropped), VTK's
surface nets (with and without smoothing) and discrete flying edges over all labels, and
scipy.ndimage's per-label statistics.

Every method runs in a forked child so that its peak memory is its own, and runs there three times:
the first call pays for every fresh page of memory it writes (on virtual machines a page fault can
cost ten microseconds, so a method that writes 50 MB of meshes pays more for that than for its
arithmetic), the best of the three shows the method itself. Both are printed, with their ratios,
triangle counts and peak memory; nothing about speed is asserted.
"""

import multiprocessing
import os
import resource
import sys
import time

import numpy as np

SHAPE = (400, 512, 512)    # z, y, x
NUM_LABELS = 100
REPEATS = 3


def make_volume(seed=20261209):
    rng = np.random.default_rng(seed)
    labels = np.zeros(SHAPE, dtype=np.uint8)
    for value in range(1, NUM_LABELS + 1):
        axes = rng.uniform(8, 40, 3)
        centre = [rng.uniform(a, n - a) for a, n in zip(axes, SHAPE)]
        lo = [max(int(c - a) - 1, 0) for c, a in zip(centre, axes)]
        hi = [min(int(c + a) + 2, n) for c, a, n in zip(centre, axes, SHAPE)]
        z, y, x = np.ogrid[lo[0]:hi[0], lo[1]:hi[1], lo[2]:hi[2]]
        inside = ((z - centre[0]) / axes[0]) ** 2 + ((y - centre[1]) / axes[1]) ** 2 + ((x - centre[2]) / axes[2]) ** 2 <= 1
        labels[lo[0]:hi[0], lo[1]:hi[1], lo[2]:hi[2]][inside] = value
    return labels


def rss_mb():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


def ours(labels):
    import orbitane
    import orbitane.anatomy as anatomy
    image = orbitane.SharedImageSet(labels, modality=orbitane.Modality.LABEL)
    start = time.perf_counter()
    asc = anatomy.generic_asc_from_label_map(image, {})
    seconds = time.perf_counter() - start
    triangles = sum(asc.anatomical_structure(i).meshes["Orbitane.Segmentation"].num_faces for i in range(len(asc)))
    return seconds, triangles, f"{len(asc)} structures"


def watertight_share(labels):
    """Share of our meshes in which every edge has exactly two triangles (outside the timing)."""
    import orbitane
    import orbitane.anatomy as anatomy
    asc = anatomy.generic_asc_from_label_map(orbitane.SharedImageSet(labels, modality=orbitane.Modality.LABEL), {})
    closed = 0
    for i in range(len(asc)):
        faces = asc.anatomical_structure(i).meshes["Orbitane.Segmentation"].faces
        edges = np.sort(np.concatenate([faces[:, [0, 1]], faces[:, [1, 2]], faces[:, [2, 0]]]), axis=1)
        _, counts = np.unique(edges, axis=0, return_counts=True)
        closed += bool(np.all(counts == 2))
    return 0.0, 0, f"{closed} of {len(asc)} meshes watertight"


def skimage_marching_cubes(labels, keep):
    """Per label on its bounding-box crop. A caller who wants the meshes keeps each one (as our
    conversion and the VTK filters do); dropping each right away lets the next label reuse its memory."""
    from scipy import ndimage
    from skimage import measure
    start = time.perf_counter()
    triangles = 0
    meshes = []
    for value, box in enumerate(ndimage.find_objects(labels), start=1):
        if box is None:
            continue
        crop = np.pad(labels[box] == value, 1).astype(np.uint8)
        vertices, faces, _, _ = measure.marching_cubes(crop, 0.5)
        triangles += len(faces)
        if keep:
            meshes.append((vertices, faces))
    seconds = time.perf_counter() - start
    return seconds, triangles, "per label, bounding-box crops, " + ("meshes kept" if keep else "each mesh dropped")


def vtk_image(labels):
    from vtkmodules.util import numpy_support
    from vtkmodules.vtkCommonDataModel import vtkImageData
    image = vtkImageData()
    image.SetDimensions(SHAPE[2], SHAPE[1], SHAPE[0])
    image.GetPointData().SetScalars(numpy_support.numpy_to_vtk(labels.ravel(), deep=False))
    return image


def vtk_surface_nets(labels, smoothing):
    from vtkmodules.vtkFiltersCore import vtkSurfaceNets3D
    image = vtk_image(labels)
    start = time.perf_counter()
    nets = vtkSurfaceNets3D()
    nets.SetInputData(image)
    nets.GenerateLabels(NUM_LABELS, 1, NUM_LABELS)
    if not smoothing:
        nets.SmoothingOff()
    nets.Update()
    seconds = time.perf_counter() - start
    return seconds, nets.GetOutput().GetNumberOfPolys(), "quads, all labels"


def vtk_flying_edges(labels):
    from vtkmodules.vtkFiltersGeneral import vtkDiscreteFlyingEdges3D
    image = vtk_image(labels)
    start = time.perf_counter()
    edges = vtkDiscreteFlyingEdges3D()
    edges.SetInputData(image)
    edges.GenerateValues(NUM_LABELS, 1, NUM_LABELS)
    edges.Update()
    return time.perf_counter() - start, edges.GetOutput().GetNumberOfPolys(), "all labels"


def scipy_statistics(labels):
    from scipy import ndimage
    start = time.perf_counter()
    index = np.arange(1, NUM_LABELS + 1)
    ndimage.find_objects(labels)
    ndimage.center_of_mass(labels > 0, labels, index)
    ndimage.sum_labels(np.ones_like(labels), labels, index)
    return time.perf_counter() - start, 0, "find_objects, center_of_mass, sum_labels"


def run_in_child(name, function, labels, repeats, queue):
    before = rss_mb()
    try:
        seconds = []
        for _ in range(repeats):
            elapsed, triangles, note = function(labels)
            seconds.append(elapsed)
        peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024 - before
        queue.put((name, seconds[0], min(seconds), triangles, note, max(peak, 0.0), None))
    except Exception as error:    # a missing anchor library must not hide the other figures
        queue.put((name, 0.0, 0.0, 0, "", 0.0, f"{type(error).__name__}: {error}"))


def measure(name, function, labels, repeats=REPEATS):
    queue = multiprocessing.get_context("fork").Queue()
    child = multiprocessing.get_context("fork").Process(target=run_in_child,
                                                        args=(name, function, labels, repeats, queue))
    child.start()
    result = queue.get()
    child.join()
    return result


def main():
    print(f"volume {SHAPE[2]} x {SHAPE[1]} x {SHAPE[0]} (x, y, z), {NUM_LABELS} labels, {os.cpu_count()} cores")
    labels = make_volume()
    runs = [
        ("orbitane conversion", ours),
        ("skimage marching_cubes", lambda v: skimage_marching_cubes(v, True)),
        ("skimage, meshes dropped", lambda v: skimage_marching_cubes(v, False)),
        ("VTK surface nets, no smoothing", lambda v: vtk_surface_nets(v, False)),
        ("VTK surface nets, smoothing", lambda v: vtk_surface_nets(v, True)),
        ("VTK discrete flying edges", vtk_flying_edges),
        ("scipy.ndimage statistics", scipy_statistics),
    ]
    results = [measure(name, function, labels) for name, function in runs]
    ours_first, ours_best = results[0][1], results[0][2]
    print(f"\nseconds of the first call and the best of {REPEATS}; 'faster by' compares each with ours")
    print(f"{'method':<32}{'first':>8}{'best':>8}{'faster by':>11}{'(best)':>8}{'triangles':>11}{'peak MB':>9}  note")
    for name, first, best, triangles, note, peak, error in results:
        if error:
            print(f"{name:<32}{'-':>8}{'-':>8}{'-':>11}{'-':>8}{'-':>11}{'-':>9}  unavailable: {error}")
            continue
        ratio_first = first / ours_first if ours_first > 0 else float("nan")
        ratio_best = best / ours_best if ours_best > 0 else float("nan")
        print(f"{name:<32}{first:>8.3f}{best:>8.3f}{ratio_first:>10.2f}x{ratio_best:>7.2f}x{triangles:>11}{peak:>9.0f}  {note}")
    print(f"\n{measure('watertight', watertight_share, labels, repeats=1)[4]}")
    print("The statistics row of scipy compares with the whole conversion above (statistics, masks and meshes).")
    return 0


if __name__ == "__main__":
    sys.exit(main())
