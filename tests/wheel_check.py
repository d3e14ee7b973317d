"""A short check of an installed wheel where the Python suite would take too long: the 64-bit
ARM wheel under QEMU's user mode (tests/run.sh). The module loads beside the interpreter and
NumPy, and every function sorts arrays long enough for each of its paths, the thread pools'
included, exactly as np.sort does."""
import platform

import numpy as np

import tamarind

rng = np.random.default_rng(7)
# Each side of the comparison sorts' and the pools' thresholds, short of sort_i64's pool built
# for the call, whose 10 000 000 elements take a minute under QEMU.
lengths = [0, 1, 2, 300, 301, 7001, 40_000, 1_000_000]
failures = []
for name in ["sort_f64", "sort_f64_st", "rayon_sort_f64", "sort_i64", "sort_i64_st", "rayon_sort_i64"]:
    for n in lengths:
        if "f64" in name:
            data = rng.normal(size=n)
        else:
            data = rng.integers(np.iinfo(np.int64).min, np.iinfo(np.int64).max, size=n, endpoint=True)
        a = data.copy()
        getattr(tamarind, name)(a)
        if not np.array_equal(a, np.sort(data)):
            failures.append(f"{name} at {n}")
print(f"{platform.machine()}: tamarind from {tamarind.__file__}, numpy {np.__version__}")
if failures:
    raise SystemExit("sorted unlike np.sort: " + ", ".join(failures))
print(f"{len(lengths) * 6} sorts like np.sort")
