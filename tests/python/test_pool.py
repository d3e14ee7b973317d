"""The global worker pool as seen from Python: its size from the environment, panics
carried back from the workers, concurrent callers, and idle workers that do not spin."""
import os
import subprocess
import sys
import textwrap
import threading

import numpy as np
import pytest

import tamarind

# Comfortably above the 2001 elements that the comparison sort keeps on the calling thread.
LARGE = 100_000


def run_probe(code, **env_overrides):
    env = {k: v for k, v in os.environ.items() if k not in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")}
    env.update(OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1", MKL_NUM_THREADS="1")
    env.update({k: v for k, v in env_overrides.items() if v is not None})
    out = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env, capture_output=True,
                         text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    return out.stdout.split()


POOL_THREADS = """
    import os
    import numpy as np
    import tamarind

    tamarind.rayon_sort_f64(np.random.default_rng(0).normal(size=100))  # too short for the pool
    before = len(os.listdir("/proc/self/task"))
    tamarind.rayon_sort_f64(np.random.default_rng(1).normal(size=100_000))
    print(len(os.listdir("/proc/self/task")) - before)
"""


@pytest.mark.parametrize("num_threads, num_cpus, expected", [
    ("3", None, 3),
    ("+3", "5", 3),
    (None, "5", 5),
    ("abc", "2", 2),        # unparsable falls through to the second variable
    ("-3", None, "cpus"),
    ("", None, "cpus"),
    ("0", "5", "cpus"),     # 0 means the processor count, not the next variable
])
def test_global_pool_size_from_environment(num_threads, num_cpus, expected):
    if expected == "cpus":
        expected = os.cpu_count()
    started, = run_probe(POOL_THREADS, RAYON_NUM_THREADS=num_threads, RAYON_RS_NUM_CPUS=num_cpus)
    assert int(started) == expected


@pytest.mark.parametrize("name", ["rayon_sort_f64", "sort_f64"])
def test_nan_panic_from_the_pool_keeps_a_permutation(name):
    rng = np.random.default_rng(7)
    a = rng.normal(size=LARGE)
    a[[LARGE // 3, LARGE - 5]] = np.nan
    before = a.copy()
    with pytest.raises(BaseException) as info:
        getattr(tamarind, name)(a)
    cls = type(info.value)
    assert cls.__qualname__ == cls.__name__ == "PanicException"
    assert issubclass(cls, BaseException) and not issubclass(cls, Exception)
    assert info.value.args == ("called `Option::unwrap()` on a `None` value",)
    assert np.isnan(a).sum() == 2
    np.testing.assert_array_equal(np.sort(a), np.sort(before))
    # The pool survives the panic.
    b = rng.normal(size=LARGE)
    expected = np.sort(b)
    getattr(tamarind, name)(b)
    np.testing.assert_array_equal(b, expected)


def test_many_python_threads_share_the_pool():
    errors = []

    def work(seed):
        rng = np.random.default_rng(seed)
        try:
            for i in range(6):
                if (seed + i) % 2:
                    a = rng.normal(size=LARGE // 2)
                    expected = np.sort(a)
                    tamarind.rayon_sort_f64(a)
                else:
                    a = rng.integers(-10**12, 10**12, LARGE // 2)
                    expected = np.sort(a)
                    tamarind.rayon_sort_i64(a)
                np.testing.assert_array_equal(a, expected)
        except BaseException as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=work, args=(s,)) for s in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=300)
    assert not any(t.is_alive() for t in threads), "a caller never returned"
    assert errors == []


IDLE_CPU = """
    import time
    import numpy as np
    import tamarind

    tamarind.rayon_sort_i64(np.random.default_rng(2).integers(0, 1 << 40, 1_000_000))
    time.sleep(0.2)
    cpu = time.process_time()
    time.sleep(1.0)
    print(time.process_time() - cpu)
"""


def test_idle_pool_does_not_burn_cpu():
    # Workers that kept yielding instead of sleeping would burn most of a core per worker.
    burnt, = run_probe(IDLE_CPU, RAYON_NUM_THREADS="4")
    assert float(burnt) < 0.2
