"""Label-map conversion against the usual tools, on one deterministic 400 x 512 x 512 volume with
100 labels: whole conversion (statistics, masks and watertight meshes of every label) next to
scikit-image marching cubes per label on bounding-box crops, VTK's surface nets (with and without
smoothing) and discrete flying edges over all labels, and scipy.ndimage's per-label statistics.

Every method runs in a forked child so that its peak memory is its own. Prints seconds, ratios,
triangle counts and peak memory; asserts nothing about speed.
"""

import multiprocessing
import os
import resource
import sys
import time

import numpy as np

SHAPE = (400, 512, 512)    # z, y, x
NUM_LABELS = 100


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


def skimage_marching_cubes(labels):
    from scipy import ndimage
    from skimage import measure
    start = time.perf_counter()
    triangles = 0
    for value, box in enumerate(ndimage.find_objects(labels), start=1):
        if box is None:
            continue
        crop = np.pad(labels[box] == value, 1).astype(np.uint8)
        _, faces, _, _ = measure.marching_cubes(crop, 0.5)
        triangles += len(faces)
    return time.perf_counter() - start, triangles, "per label, bounding-box crops"


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


def run_in_child(name, function, labels, queue):
    before = rss_mb()
    try:
        seconds, triangles, note = function(labels)
        peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024 - before
        queue.put((name, seconds, triangles, note, max(peak, 0.0), None))
    except Exception as error:    # a missing anchor library must not hide the other figures
        queue.put((name, 0.0, 0, "", 0.0, f"{type(error).__name__}: {error}"))


def measure(name, function, labels):
    queue = multiprocessing.get_context("fork").Queue()
    child = multiprocessing.get_context("fork").Process(target=run_in_child, args=(name, function, labels, queue))
    child.start()
    result = queue.get()
    child.join()
    return result


def main():
    print(f"volume {SHAPE[2]} x {SHAPE[1]} x {SHAPE[0]} (x, y, z), {NUM_LABELS} labels, {os.cpu_count()} cores")
    labels = make_volume()
    runs = [
        ("orbitane conversion", ours),
        ("skimage marching_cubes", skimage_marching_cubes),
        ("VTK surface nets, no smoothing", lambda v: vtk_surface_nets(v, False)),
        ("VTK surface nets, smoothing", lambda v: vtk_surface_nets(v, True)),
        ("VTK discrete flying edges", vtk_flying_edges),
        ("scipy.ndimage statistics", scipy_statistics),
    ]
    results = [measure(name, function, labels) for name, function in runs]
    ours_seconds = results[0][1]
    print(f"\n{'method':<34}{'seconds':>9}{'ours faster by':>16}{'triangles':>12}{'peak MB':>10}  note")
    for name, seconds, triangles, note, peak, error in results:
        if error:
            print(f"{name:<34}{'-':>9}{'-':>16}{'-':>12}{'-':>10}  unavailable: {error}")
            continue
        ratio = seconds / ours_seconds if ours_seconds > 0 else float("nan")
        print(f"{name:<34}{seconds:>9.3f}{ratio:>15.2f}x{triangles:>12}{peak:>10.0f}  {note}")
    print(f"\n{measure('watertight', watertight_share, labels)[3]}")
    print("The statistics row of scipy compares with the whole conversion above (statistics, masks and meshes).")
    return 0


if __name__ == "__main__":
    sys.exit(main())
