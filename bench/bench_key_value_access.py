"""Cost of reaching a structure's elements from Python, next to what the same access costs in plain
Python and in bare pybind11 code.

    cmake --build build --target anatomy _orbitane bench_bare
    ORBITANE_BUILD_DIR=build python3 bench/bench_key_value_access.py

Prints nanoseconds per operation (best of several repeats) and the ratios the wrappers aim for:
wrapper[key] within 1.2x of a bare std::map __getitem__, s.keypoints2[key] within 2.5x of a bare
function returning an Eigen 3-vector. Then the time of from_dict into an empty store of 1,000,
10,000 and 100,000 keys with its time per key, which stays level when filling a store is linear.
Figures, not a test: nothing fails when a goal is missed.
"""

import os
import sys
import timeit
from pathlib import Path

import numpy as np

REPO = Path(__file__).resolve().parents[1]
BUILD = Path(os.environ.get("ORBITANE_BUILD_DIR", "build"))
BUILD = BUILD if BUILD.is_absolute() else REPO / BUILD
sys.path[:0] = [str(BUILD / "python"), str(BUILD / "bench")]

import orbitane.anatomy as anatomy  # noqa: E402

try:
    import bench_bare  # noqa: E402
except ImportError:
    sys.exit(f"bench_bare not found in {BUILD / 'bench'}: build the target bench_bare first")

REPEATS = 7


def ns_per_op(statement, namespace, number):
    timer = timeit.Timer(statement, globals=namespace)
    return min(timer.repeat(REPEATS, number)) / number * 1e9


def filled(n):
    s = anatomy.GenericAnatomicalStructure("bench")
    keys = [f"k{i:04d}" for i in range(n)]
    s.keypoints2.update({k: np.array([i, i + 1.0, i + 2.0]) for i, k in enumerate(keys)})
    plain = {k: np.array([i, i + 1.0, i + 2.0]) for i, k in enumerate(keys)}
    bare = bench_bare.Vec3Map()
    for k, v in plain.items():
        bare[k] = v
    return s, keys, plain, bare


def main():
    rows = []

    def measure(label, statement, namespace, number=200_000):
        value = ns_per_op(statement, namespace, number)
        rows.append((label, value))
        return value

    s, keys, plain, bare = filled(10)
    w = s.keypoints2
    key = keys[5]
    point = np.array([1.0, 2.0, 3.0])
    ns = dict(s=s, w=w, key=key, plain=plain, bare=bare, point=point, vec3=bench_bare.vec3)

    structure_read = measure("s.keypoints2[key]  (read)", "s.keypoints2[key]", ns)
    measure("s.keypoints2[key] = v  (write)", "s.keypoints2[key] = point", ns)
    wrapper_read = measure("wrapper[key]  (read)", "w[key]", ns)
    measure("wrapper[key] = v  (write)", "w[key] = point", ns)
    measure("len(s.meshes)", "len(s.meshes)", ns)
    measure("dict of numpy: d[key]", "plain[key]", ns)
    measure("dict of numpy: d[key].copy()", "plain[key].copy()", ns)
    bare_vec3 = measure("bare pybind11: vec3()", "vec3()", ns)
    bare_map = measure("bare pybind11: map[key]", "bare[key]", ns)
    measure("bare pybind11: map[key] = v", "bare[key] = point", ns)

    for n, number in ((10, 20_000), (1000, 200)):
        s_n, _, plain_n, _ = filled(n)
        ns_n = dict(s=s_n, plain=plain_n)
        measure(f"s.keypoints2.asdict()  ({n} keys)", "s.keypoints2.asdict()", ns_n, number)
        measure(f"dict of numpy: copied  ({n} keys)", "{k: v.copy() for k, v in plain.items()}", ns_n, number)

    width = max(len(label) for label, _ in rows)
    print(f"{'operation':<{width}}  {'ns/op':>10}")
    for label, value in rows:
        print(f"{label:<{width}}  {value:10.1f}")
    print()
    print(f"wrapper[key] / bare map[key]       = {wrapper_read / bare_map:5.2f}   (goal <= 1.2)")
    print(f"s.keypoints2[key] / bare vec3()    = {structure_read / bare_vec3:5.2f}   (goal <= 2.5)")
    print()
    fill_from_dict()


def fill_from_dict():
    print(f"{'from_dict into an empty store':<30}  {'ms':>10}  {'ns/key':>8}")
    for n in (1_000, 10_000, 100_000):
        given = {f"k{i:06d}": np.array([i, i + 1.0, i + 2.0]) for i in range(n)}
        best = float("inf")
        for _ in range(3):
            structure = anatomy.GenericAnatomicalStructure("bench")
            start = timeit.default_timer()
            structure.keypoints2.from_dict(given)
            best = min(best, timeit.default_timer() - start)
        print(f"{f'{n:,} keys':<30}  {best * 1e3:10.1f}  {best / n * 1e9:8.0f}")


if __name__ == "__main__":
    main()
