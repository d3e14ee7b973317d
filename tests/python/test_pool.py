"""The worker pools as seen from Python: the global pool's size from the environment,
concurrent callers and forked children (pool lifetimes are the engine's tests)."""
import threading

import numpy as np
import pytest

import tamarind
from conftest import ALL_FUNCS, dtype_of, run_probe

THREADS_STARTED = """
    import os
    import numpy as np
    import tamarind

    tamarind.rayon_sort_f64(np.random.default_rng(0).normal(size=100))  # too short for the pool
    a = {data}
    expected = np.sort(a)
    before = len(os.listdir("/proc/self/task"))
    tamarind.{func}(a)
    assert (a == expected).all()
    print(len(os.listdir("/proc/self/task")) - before)
"""
NORMAL, SORTED = "np.random.default_rng(1).normal(size=100_000)", "np.arange(1_000_000)"


# The parsing rules are the engine's; here: both variables are read, in this order. Work the
# pool cannot help with starts no thread: sorted input takes one scan, and integers need no
# NaN scan at all.
@pytest.mark.parametrize("func, data, env, expected", [
    ("rayon_sort_f64", NORMAL, {"RAYON_NUM_THREADS": "3", "RAYON_RS_NUM_CPUS": "5"}, 3),
    ("rayon_sort_f64", NORMAL, {"RAYON_RS_NUM_CPUS": "5"}, 5),
    ("rayon_sort_i64", SORTED, {}, 0),
    ("sort_i64", SORTED, {}, 0),
])
def test_threads_started(func, data, env, expected):
    started, = run_probe(THREADS_STARTED.format(func=func, data=data), **env).stdout.split()
    assert int(started) == expected


def test_many_python_threads_share_the_pools(PanicException):
    errors = []

    def work(seed):
        rng = np.random.default_rng(seed)
        try:
            for i in range(24):
                name = ALL_FUNCS[(seed + i) % len(ALL_FUNCS)]
                n = 50_000 if i % 4 == 0 else 250  # through the pool, or on the calling thread
                a = rng.integers(-10**12, 10**12, n).astype(dtype_of(name))
                expected = np.sort(a)
                getattr(tamarind, name)(a)
                np.testing.assert_array_equal(a, expected)
                with pytest.raises(PanicException):
                    tamarind.rayon_sort_f64(np.array([0.0, np.nan, 1.0]))
        except BaseException as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=work, args=(s,)) for s in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=300)
    assert not any(t.is_alive() for t in threads), "a caller never returned"
    assert errors == []


FORK_CHILD = """
    import multiprocessing
    import os
    import signal
    import numpy as np
    import tamarind

    # Every pooled path: the parallel quicksort, sort_* below and above their radix entries.
    CALLS = [("rayon_sort_f64", 50_000), ("rayon_sort_i64", 50_000), ("sort_f64", 100_000),
             ("sort_i64", 100_000), ("sort_f64", 800_000), ("sort_i64", 10_000_000)]

    def sorts(name, n, seed=0):
        signal.alarm(40)  # a child that hangs ends itself rather than outliving the test
        rng = np.random.default_rng(seed)
        a = rng.normal(size=n) if "f64" in name else rng.integers(-2**40, 2**40, n)
        getattr(tamarind, name)(a)
        return bool((a[:-1] <= a[1:]).all())

    if __name__ == "__main__":
        assert sorts("rayon_sort_f64", 100_000) and sorts("sort_f64", 800_000)  # the pools have run
        signal.alarm(0)
        pid = os.fork()
        if pid == 0:
            os._exit(0 if all(sorts(name, n) for name, n in CALLS) else 1)
        print(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
        with multiprocessing.get_context("fork").Pool(2) as pool:
            jobs = [(name, 50_000, s) for s in range(4) for name in ("rayon_sort_f64", "sort_i64")]
            try:
                print(all(pool.starmap_async(sorts, jobs).get(timeout=50)))
            except multiprocessing.TimeoutError:
                print("hung")
"""


def test_forked_children_sort_on_pools_of_their_own():
    assert run_probe(FORK_CHILD, RAYON_NUM_THREADS="2").stdout.split() == ["0", "True"]
