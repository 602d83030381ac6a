"""The collection page in headless Chromium (software WebGL): how long writing the page takes, how
large it is, and how long the browser takes from opening the file to the first drawn frame.

Pages: the anchor, a page of one triangle (the fixed cost of starting the page, parsing three.js
and drawing once); a small collection (five structures of a 104 x 96 x 48 label map); and the
label map of bench_label_map (100 labels in 400 x 512 x 512 voxels, about two million triangles).
Each page is opened three times in the same browser: the first open is what a user sees, the best
of the three shows the page itself. Both are printed, with their ratios to the anchor; nothing is
asserted.
"""

import os
import sys
import tempfile
import time

import numpy as np

import orbitane
import orbitane.anatomy as anatomy
from orbitane import view
from orbitane.view import browser as chromium

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_label_map import separate_ellipsoids  # noqa: E402

OPENS = 3


def one_triangle():
    asc = anatomy.GenericASC()
    s = anatomy.GenericAnatomicalStructure("triangle")
    s.meshes["surface"] = orbitane.Mesh(np.eye(3) * 10, np.array([[0, 1, 2]]))
    asc.add(s)
    return asc


def small_label_map():
    z, y, x = np.mgrid[0:48, 0:96, 0:104]
    labels = np.zeros(z.shape, dtype=np.uint8)
    for value, (centre, axes) in enumerate([((34, 40, 24), (20, 14, 12)), ((76, 38, 22), (9, 12, 9)),
                                            ((70, 66, 18), (7, 10, 9)), ((30, 68, 18), (7, 10, 9)),
                                            ((64, 28, 30), (10, 8, 7))], start=1):
        labels[sum(((c - m) / a) ** 2 for c, m, a in zip((x, y, z), centre, axes)) <= 1.0] = value
    return labels


def collection_of(labels):
    image = orbitane.SharedImageSet(labels, modality=orbitane.Modality.LABEL)
    return anatomy.generic_asc_from_label_map(image, {})


def triangles(asc):
    return sum(m.num_faces for i in range(len(asc)) for m in asc.anatomical_structure(i).meshes.values())


def measure(b, path):
    """(ms to first frame as the page measured it, wall ms from navigation) per open."""
    runs = []
    for _ in range(OPENS):
        start = time.perf_counter()
        b.open(path)
        page_ms = chromium.wait_for_first_frame(b, timeout=300)
        runs.append((page_ms, (time.perf_counter() - start) * 1000))
    return runs


def main():
    if chromium.find_chromium() is None:
        print("bench_viewer: no Chromium on this machine; nothing measured")
        return 0
    pages = [("anchor: one triangle", one_triangle), ("5 structures (small label map)",
              lambda: collection_of(small_label_map())),
             ("100 structures (400x512x512 label map)", lambda: collection_of(separate_ellipsoids()))]
    rows = []
    with tempfile.TemporaryDirectory() as directory, chromium.Browser(width=1200, height=800) as b:
        for name, make in pages:
            asc = make()
            path = os.path.join(directory, "page.html")
            start = time.perf_counter()
            view.to_html(asc, path)
            write_s = time.perf_counter() - start
            runs = measure(b, path)
            rows.append((name, len(asc), triangles(asc), write_s, os.path.getsize(path) / 1e6, runs))
    anchor_first, anchor_best = rows[0][5][0][0], min(r[0] for r in rows[0][5])
    print(f"{'page':<40}{'structures':>11}{'triangles':>11}{'write s':>9}{'MB':>8}"
          f"{'first ms':>10}{'(wall)':>9}{'best ms':>9}{'x anchor first/best':>21}")
    for name, count, tri, write_s, mb, runs in rows:
        first, best = runs[0], min(runs, key=lambda r: r[0])
        print(f"{name:<40}{count:>11}{tri:>11}{write_s:>9.2f}{mb:>8.1f}{first[0]:>10.0f}{first[1]:>9.0f}"
              f"{best[0]:>9.0f}{first[0] / anchor_first:>12.1f} / {best[0] / anchor_best:.1f}")
    print("first ms: navigation start to the first frame drawn (the page reads back a pixel to be sure), "
          "first open; wall: the same seen from here, including the load; best: best of "
          f"{OPENS} opens")
    return 0


if __name__ == "__main__":
    sys.exit(main())
