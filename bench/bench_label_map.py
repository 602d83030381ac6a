"""Label-map conversion against the usual tools, on deterministic volumes made here.

The first volume, 400 x 512 x 512 with 100 separate ellipsoids on background, compares the whole
conversion (statistics, masks and watertight meshes of every label) with scikit-image marching
cubes per label on bounding-box crops (meshes kept, and dropped), VTK's surface nets (with and
without smoothing) and discrete flying edges over all labels, and scipy.ndimage's per-label
statistics. The others look like the segmentations users have, and compare ours with VTK surface
nets without smoothing and scikit-image per label: a parcellation of touching cells in a ball,
nested tissues that each span most of a head-sized volume, a whole-body-sized volume with labels
of very different sizes, many of them touching, and thin vessels. `python3 bench_label_map.py NAME
...` runs only the named volumes.

Every method runs in a forked child so that its peak memory is its own, and runs there three times:
the first call pays for every fresh page of memory it writes (on virtual machines a page fault can
cost ten microseconds, so a method that writes 50 MB of meshes pays more for that than for its
arithmetic), the best of the three shows the method itself. Both are printed, with their ratios,
triangle counts, the bytes of the method's output and its peak memory growth; nothing about speed
is asserted. VTK runs on two threads, the machines these figures come from having two cores.
"""

import multiprocessing
import os
import resource
import sys
import time

import numpy as np

REPEATS = 3
VTK_THREADS = 2


def paint_ellipsoid(labels, centre, axes, value):
    """Sets the voxels of an axis-aligned ellipsoid (z, y, x order) to value, over what was there."""
    shape = labels.shape
    lo = [min(max(int(c - a) - 1, 0), n) for c, a, n in zip(centre, axes, shape)]
    hi = [max(min(int(c + a) + 2, n), 0) for c, a, n in zip(centre, axes, shape)]
    if any(h <= l for l, h in zip(lo, hi)):
        return
    z, y, x = np.ogrid[lo[0]:hi[0], lo[1]:hi[1], lo[2]:hi[2]]
    inside = ((z - centre[0]) / axes[0]) ** 2 + ((y - centre[1]) / axes[1]) ** 2 + ((x - centre[2]) / axes[2]) ** 2 <= 1
    labels[lo[0]:hi[0], lo[1]:hi[1], lo[2]:hi[2]][inside] = value


def separate_ellipsoids(seed=20261209):
    """100 ellipsoids on background in 400 x 512 x 512 (z, y, x); overlaps are rare."""
    rng = np.random.default_rng(seed)
    labels = np.zeros((400, 512, 512), dtype=np.uint8)
    for value in range(1, 101):
        axes = rng.uniform(8, 40, 3)
        centre = [rng.uniform(a, n - a) for a, n in zip(axes, labels.shape)]
        paint_ellipsoid(labels, centre, axes, value)
    return labels


def parcellation(seed=20261210):
    """120 cells, each voxel of a ball of radius 120 taking the nearest of 120 random seeds, in 256^3."""
    from scipy import ndimage
    rng = np.random.default_rng(seed)
    n, radius, cells = 256, 120.0, 120
    seeds = []
    while len(seeds) < cells:
        p = rng.uniform(n / 2 - radius, n / 2 + radius, 3)
        if np.linalg.norm(p - n / 2) < radius:
            seeds.append(p.astype(int))
    markers = np.zeros((n, n, n), dtype=np.uint8)
    for value, (z, y, x) in enumerate(seeds, start=1):
        markers[z, y, x] = value
    # The index of the nearest marker, from the distance transform of everything that is not one.
    nearest = ndimage.distance_transform_edt(markers == 0, return_distances=False, return_indices=True)
    labels = markers[nearest[0], nearest[1], nearest[2]]
    z, y, x = np.ogrid[:n, :n, :n]
    labels[(z - n / 2) ** 2 + (y - n / 2) ** 2 + (x - n / 2) ** 2 > radius ** 2] = 0
    return labels


def nested_tissues(seed=20261211):
    """6 nested tissues in 180 x 220 x 180 (z, y, x): bumpy shells from skin inwards, each inner one
    painted over the outer, so every label's box covers most of the volume."""
    rng = np.random.default_rng(seed)
    shape = (180, 220, 180)
    z, y, x = np.ogrid[:shape[0], :shape[1], :shape[2]]
    centre = np.array(shape) / 2
    u, v, w = (z - centre[0]) / (shape[0] / 2), (y - centre[1]) / (shape[1] / 2), (x - centre[2]) / (shape[2] / 2)
    radius = np.sqrt(u ** 2 + v ** 2 + w ** 2)
    labels = np.zeros(shape, dtype=np.uint8)
    for value, size in enumerate((0.97, 0.92, 0.88, 0.84, 0.78, 0.72), start=1):
        phase = rng.uniform(0, 2 * np.pi, 3)
        bumps = 0.02 * (np.sin(5 * u + phase[0]) + np.sin(6 * v + phase[1]) + np.sin(4 * w + phase[2]))
        labels[radius <= size + bumps] = value
    return labels


def whole_body(seed=20261212):
    """512 x 512 x 600 (x, y, z) like a whole-body CT segmentation: a body spanning the volume, 15
    large organs, 45 middle-sized and 70 small structures, placed at random inside the body so
    that many overlap (a later one painted over an earlier one touches it)."""
    rng = np.random.default_rng(seed)
    shape = (600, 512, 512)
    labels = np.zeros(shape, dtype=np.uint8)
    paint_ellipsoid(labels, (300, 256, 256), (299, 200, 250), 1)
    value = 2
    for count, low, high in ((15, 40, 90), (45, 12, 35), (70, 2, 8)):
        for _ in range(count):
            axes = rng.uniform(low, high, 3)
            centre = (rng.uniform(60, 540), rng.uniform(110, 400), rng.uniform(60, 450))
            paint_ellipsoid(labels, centre, axes, value)
            value += 1
    return labels


def vessels(seed=20261213):
    """40 thin tubes (radius 1 to 2.5 voxels) winding through 256^3, crossing one another."""
    rng = np.random.default_rng(seed)
    n = 256
    labels = np.zeros((n, n, n), dtype=np.uint8)
    t = np.linspace(0, 1, 4000)[:, None]
    for value in range(1, 41):
        start, end = rng.uniform(20, n - 20, (2, 3))
        wiggle = rng.uniform(-30, 30, (3, 3))
        path = start + (end - start) * t + sum(wiggle[k] * np.sin((k + 1) * np.pi * t) for k in range(3))
        r = rng.uniform(1.0, 2.5)
        reach = int(np.ceil(r))
        offsets = np.array([(a, b, c) for a in range(-reach, reach + 1) for b in range(-reach, reach + 1)
                            for c in range(-reach, reach + 1) if a * a + b * b + c * c <= r * r])
        points = (np.rint(path).astype(int)[:, None, :] + offsets[None]).reshape(-1, 3)
        points = points[np.all((points >= 0) & (points < n), axis=1)]
        labels[points[:, 0], points[:, 1], points[:, 2]] = value
    return labels


VOLUMES = {
    "ellipsoids": separate_ellipsoids,
    "parcellation": parcellation,
    "tissues": nested_tissues,
    "body": whole_body,
    "vessels": vessels,
}


def rss_mb():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


peak_kb_at_return = 0  # set by a method whose peak must leave out what its caller does afterwards


def ours(labels):
    import orbitane
    import orbitane.anatomy as anatomy
    image = orbitane.SharedImageSet(labels, modality=orbitane.Modality.LABEL)
    start = time.perf_counter()
    asc = anatomy.generic_asc_from_label_map(image, {})
    seconds = time.perf_counter() - start
    # the peak is taken here: reading the output below makes copies of its own
    global peak_kb_at_return
    peak_kb_at_return = max(peak_kb_at_return, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
    triangles, nbytes = 0, 0
    for i in range(len(asc)):
        structure = asc.anatomical_structure(i)
        mesh = structure.meshes["Orbitane.Segmentation"]
        triangles += mesh.num_faces
        nbytes += mesh.vertices.nbytes + mesh.faces.nbytes + structure.images["Orbitane.Segmentation"].array().nbytes
    return seconds, triangles, nbytes, f"{len(asc)} structures, meshes and masks"


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
    return 0.0, 0, 0, f"{closed} of {len(asc)} meshes watertight"


def skimage_marching_cubes(labels, keep):
    """Per label on its bounding-box crop. A caller who wants the meshes keeps each one (as our
    conversion and the VTK filters do); dropping each right away lets the next label reuse its memory."""
    from scipy import ndimage
    from skimage import measure
    start = time.perf_counter()
    triangles, nbytes = 0, 0
    meshes = []
    for value, box in enumerate(ndimage.find_objects(labels), start=1):
        if box is None:
            continue
        crop = np.pad(labels[box] == value, 1).astype(np.uint8)
        vertices, faces, normals, values = measure.marching_cubes(crop, 0.5)
        triangles += len(faces)
        if keep:
            meshes.append((vertices, faces, normals, values))
            nbytes += vertices.nbytes + faces.nbytes + normals.nbytes + values.nbytes
    seconds = time.perf_counter() - start
    return seconds, triangles, nbytes, "per label, bounding-box crops, " + ("meshes kept" if keep else "each mesh dropped")


def vtk_image(labels):
    from vtkmodules.util import numpy_support
    from vtkmodules.vtkCommonCore import vtkSMPTools
    from vtkmodules.vtkCommonDataModel import vtkImageData
    vtkSMPTools.Initialize(VTK_THREADS)
    image = vtkImageData()
    image.SetDimensions(labels.shape[2], labels.shape[1], labels.shape[0])
    image.GetPointData().SetScalars(numpy_support.numpy_to_vtk(labels.ravel(), deep=False))
    return image


def vtk_surface_nets(labels, smoothing):
    from vtkmodules.vtkFiltersCore import vtkSurfaceNets3D
    image = vtk_image(labels)
    top = int(labels.max())
    start = time.perf_counter()
    nets = vtkSurfaceNets3D()
    nets.SetInputData(image)
    nets.GenerateLabels(top, 1, top)
    if not smoothing:
        nets.SmoothingOff()
    nets.Update()
    seconds = time.perf_counter() - start
    output = nets.GetOutput()
    return seconds, output.GetNumberOfPolys(), output.GetActualMemorySize() * 1024, "quads, all labels"


def vtk_flying_edges(labels):
    from vtkmodules.vtkFiltersGeneral import vtkDiscreteFlyingEdges3D
    image = vtk_image(labels)
    top = int(labels.max())
    start = time.perf_counter()
    edges = vtkDiscreteFlyingEdges3D()
    edges.SetInputData(image)
    edges.GenerateValues(top, 1, top)
    edges.Update()
    seconds = time.perf_counter() - start
    output = edges.GetOutput()
    return seconds, output.GetNumberOfPolys(), output.GetActualMemorySize() * 1024, "all labels"


def scipy_statistics(labels):
    from scipy import ndimage
    start = time.perf_counter()
    index = np.arange(1, int(labels.max()) + 1)
    ndimage.find_objects(labels)
    ndimage.center_of_mass(labels > 0, labels, index)
    ndimage.sum_labels(np.ones_like(labels), labels, index)
    return time.perf_counter() - start, 0, 0, "find_objects, center_of_mass, sum_labels"


def run_in_child(name, function, labels, repeats, queue):
    before = rss_mb()
    try:
        seconds = []
        for _ in range(repeats):
            elapsed, triangles, nbytes, note = function(labels)
            seconds.append(elapsed)
        peak_kb = peak_kb_at_return or resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        peak = peak_kb / 1024 - before
        queue.put((name, seconds[0], min(seconds), triangles, nbytes, note, max(peak, 0.0), None))
    except Exception as error:    # a missing anchor library must not hide the other figures
        queue.put((name, 0.0, 0.0, 0, 0, "", 0.0, f"{type(error).__name__}: {error}"))


def measure(name, function, labels, repeats=REPEATS):
    queue = multiprocessing.get_context("fork").Queue()
    child = multiprocessing.get_context("fork").Process(target=run_in_child,
                                                        args=(name, function, labels, repeats, queue))
    child.start()
    result = queue.get()
    child.join()
    return result


def methods(volume):
    mine = [("orbitane conversion", ours),
            ("skimage marching_cubes", lambda v: skimage_marching_cubes(v, True))]
    if volume != "ellipsoids":
        return mine + [("VTK surface nets, no smoothing", lambda v: vtk_surface_nets(v, False))]
    return mine + [
        ("skimage, meshes dropped", lambda v: skimage_marching_cubes(v, False)),
        ("VTK surface nets, no smoothing", lambda v: vtk_surface_nets(v, False)),
        ("VTK surface nets, smoothing", lambda v: vtk_surface_nets(v, True)),
        ("VTK discrete flying edges", vtk_flying_edges),
        ("scipy.ndimage statistics", scipy_statistics),
    ]


def report(volume, labels):
    values = np.unique(labels)
    print(f"\n== {volume}: {labels.shape[2]} x {labels.shape[1]} x {labels.shape[0]} (x, y, z), "
          f"{np.count_nonzero(values)} labels, {np.count_nonzero(labels) / labels.size:.0%} of voxels labelled")
    results = [measure(name, function, labels) for name, function in methods(volume)]
    ours_first, ours_best = results[0][1], results[0][2]
    print(f"seconds of the first call and the best of {REPEATS}; 'slower by' is each method's time over ours;"
          " peak MB is the growth of the process's peak over its size before the first call")
    print(f"{'method':<32}{'first':>8}{'best':>8}{'slower by':>11}{'(best)':>8}{'triangles':>11}"
          f"{'out MB':>8}{'peak MB':>9}  note")
    for name, first, best, triangles, nbytes, note, peak, error in results:
        if error:
            print(f"{name:<32}{'-':>8}{'-':>8}{'-':>11}{'-':>8}{'-':>11}{'-':>8}{'-':>9}  unavailable: {error}")
            continue
        ratio_first = first / ours_first if ours_first > 0 else float("nan")
        ratio_best = best / ours_best if ours_best > 0 else float("nan")
        print(f"{name:<32}{first:>8.3f}{best:>8.3f}{ratio_first:>10.2f}x{ratio_best:>7.2f}x{triangles:>11}"
              f"{nbytes / 2**20:>8.0f}{peak:>9.0f}  {note}")
    watertight = measure("watertight", watertight_share, labels, repeats=1)
    print(watertight[5] or f"watertight: unavailable: {watertight[7]}")


def main():
    chosen = sys.argv[1:] or list(VOLUMES)
    unknown = [name for name in chosen if name not in VOLUMES]
    if unknown:
        print(f"unknown volumes {unknown}; choose from {list(VOLUMES)}", file=sys.stderr)
        return 2
    print(f"{os.cpu_count()} cores; VTK on {VTK_THREADS} threads")
    for volume in chosen:
        report(volume, VOLUMES[volume]())
    if "ellipsoids" in chosen:
        print("The statistics row of scipy compares with the whole conversion (statistics, masks and meshes).")
    return 0


if __name__ == "__main__":
    sys.exit(main())
