"""The Dask sort's private helpers: the cut (against a reference in the engine's tests; here
what the binding adds), the concatenating sort against NumPy's order, their array checks,
bad splitters, and the interpreter lock let go of (while the public functions keep it)."""
import os
import re
import sys
import threading
import time

import numpy as np
import pytest

import tamarind
from conftest import NANS, run_probe
from test_boundary import wrong_arrays

PARTITION = {np.float64: tamarind._partition_nogil_f64, np.int64: tamarind._partition_nogil_i64}
CONCAT_SORT = {np.float64: tamarind._concat_sort_nogil_f64, np.int64: tamarind._concat_sort_nogil_i64}
I64 = np.iinfo(np.int64)


def data(kind, n, rng):
    return {
        "duplicates": lambda: rng.integers(-3, 4, n).astype(np.float64),
        "nan_zeros": lambda: rng.choice(np.concatenate([NANS, [-0.0, 0.0, np.inf, -np.inf, 1.0, -1.0]]), n),
        "normal": lambda: rng.normal(size=n),
        "int64": lambda: rng.choice(np.array([I64.min, -1, 0, 1, I64.max]), n) + rng.integers(0, 2, n),
    }[kind]()


def test_cut_isolates_single_elements_and_leaves_empty_buckets():
    a = np.array([5.0, 3.0, 3.0, -0.0, 3.0, 0.0, np.nan])
    # The 3.0 at position 2 alone between the two splitters 3.0; the zeros split by position
    # only (-0.0 at 3 below the zero splitters, 0.0 at 5 above); the NaN above every number and
    # below the NaN splitter whose tie it does not reach; empty buckets at both ends and between
    # the equal zero splitters.
    s, ties = np.array([-1.0, 0.0, 0.0, 3.0, 3.0, 9.0, np.nan]), np.array([0, 4, 4, 2, 3, 0, 7])
    pieces = tamarind._partition_nogil_f64(a, s, ties)
    assert [p.tolist() for p in pieces[:6]] == [[], [-0.0], [], [3.0, 0.0], [3.0], [5.0, 3.0]]
    assert np.isnan(pieces[6]).tolist() == [True] and pieces[7].tolist() == []
    assert np.signbit(pieces[1][0]) and not np.signbit(pieces[3][1])


def concat_sorted(a):
    """The helper's order: np.sort's, with -0.0 before +0.0 as on the radix paths and the
    NaNs last in input order."""
    if a.dtype.kind != "f":
        return np.sort(a)
    nan = np.isnan(a)
    numbers = a[~nan]
    return np.concatenate((numbers[np.lexsort((~np.signbit(numbers), numbers))], a[nan]))


@pytest.mark.parametrize("kind", ["duplicates", "nan_zeros", "normal", "int64"])
@pytest.mark.parametrize("n", [0, 1, 2, 300, 301, 302, 5000, 300_000])
def test_concat_sort_bit_for_bit(kind, n):
    a = data(kind, n, np.random.default_rng(n))
    pieces = np.array_split(a, 3)
    out = CONCAT_SORT[a.dtype.type](pieces)
    assert np.array_equal(out.view(np.int64), concat_sorted(a).view(np.int64))
    assert np.array_equal(np.concatenate(pieces).view(np.int64), a.view(np.int64))


@pytest.mark.parametrize("dtype", [np.float64, np.int64])
def test_helpers_check_arrays_as_the_public_functions_do_and_only_read_them(dtype):
    def cut(arr):
        return PARTITION[dtype](arr, np.array([3, 5], dtype), np.zeros(2, np.int64))

    def concat_sort(arr):
        return CONCAT_SORT[dtype]([np.arange(2, dtype=dtype), arr])

    for value, message in [*wrong_arrays(dtype), (np.arange(6, dtype=dtype)[::2], "The given array is not contiguous")]:
        for helper in (cut, concat_sort):
            with pytest.raises(TypeError, match="^" + re.escape(message)):
                helper(value)
    with pytest.raises(TypeError, match="not iterable"):
        CONCAT_SORT[dtype](3)
    a = np.arange(6, 0, -1).astype(dtype)
    a.flags.writeable = False
    assert [p.tolist() for p in cut(a)] == [[2, 1], [4, 3], [6, 5]] and a.tolist() == [6, 5, 4, 3, 2, 1]
    assert concat_sort(a).tolist() == [0, 1, 1, 2, 3, 4, 5, 6] and a.tolist() == [6, 5, 4, 3, 2, 1]


@pytest.mark.parametrize("splitters, ties, error, words", [
    (np.array([1, 2]), np.zeros(2, np.int64), TypeError, ["splitters", "float64", "dtype int64"]),
    ([1.0, 2.0], np.zeros(2, np.int64), TypeError, ["splitters", "'list'"]),
    (np.zeros((1, 2)), np.zeros(2, np.int64), TypeError, ["splitters", "2 dimensions"]),
    (np.array([1.0, 2.0]), np.zeros(2, np.int32), TypeError, ["ties", "int64", "dtype int32"]),
    (np.array([1.0, 2.0]), np.zeros(3, np.int64), ValueError, ["one tie position per splitter", "3", "length 2"]),
    (np.array([2.0, 1.0]), np.zeros(2, np.int64), ValueError, ["ascending order", "splitter 1 is below"]),
    (np.array([np.nan, 1.0]), np.zeros(2, np.int64), ValueError, ["splitter 1 is a number after a NaN"]),
    (np.array([0.0, -0.0]), np.array([4, 3]), ValueError, ["ascending ties among equal splitters", "ties[1]"]),
])
def test_bad_splitters_raise_and_touch_nothing(splitters, ties, error, words):
    a = np.arange(6.0)[::-1].copy()
    with pytest.raises(error) as info:
        tamarind._partition_nogil_f64(a, splitters, ties)
    assert all(w in str(info.value) for w in words), str(info.value)
    assert a.tolist() == [5.0, 4.0, 3.0, 2.0, 1.0, 0.0]


@pytest.mark.parametrize("call, lets_go", [
    (lambda a: tamarind._concat_sort_nogil_f64([a]), True),
    (lambda a: tamarind._partition_nogil_f64(a, np.array([0.25, 0.5]), np.zeros(2, np.int64)), True),
    (lambda a: tamarind.sort_f64(a), False),
    (lambda a: tamarind.sort_f64_st(a), False),
])
def test_other_threads_run_only_while_a_helper_works(call, lets_go):
    """With a switch interval longer than the test, the calling thread keeps the interpreter
    lock until it lets go of it itself, so the counter can count during a call only if the
    call lets go. A helper gets a few tries: the system may schedule the counter late."""
    array = np.random.default_rng(1).random(2_000_000)
    call(array.copy())  # one-time set-up (NumPy's table, the pools) before counting
    count, stop = [0], threading.Event()

    def counter():
        while not stop.is_set():
            count[0] += 1
            time.sleep(0)  # lets go of the lock between counts, so the calling thread gets it back

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000)
    thread = threading.Thread(target=counter)
    try:
        thread.start()
        ran = []
        for _ in range(20 if lets_go else 3):
            a = array.copy()
            before = count[0]
            call(a)
            ran.append(count[0] - before)
            if lets_go and ran[-1] > 0:
                break
    finally:
        stop.set()
        thread.join()
        sys.setswitchinterval(interval)
    assert (max(ran) > 0) == lets_go, ran


@pytest.mark.parametrize("call", ["_concat_sort_nogil_f64([])", "_concat_sort_nogil_i64(())",
                                  "_concat_sort_nogil_f64(iter([]))"])
def test_empty_concat_sort_as_a_process_first_call(call):
    out = run_probe(f"import tamarind; r = tamarind.{call}; assert r.shape == (0,), r")
    assert out.stderr == ""


def test_many_pieces_are_borrowed_at_once():
    pieces = [np.random.default_rng(i).random(2) for i in range(200_000)]
    pieces += pieces[:1000] + [p[1:] for p in pieces[:1000]]  # the same arrays and views again
    start = time.perf_counter()
    out = tamarind._concat_sort_nogil_f64(pieces)
    assert time.perf_counter() - start < 20  # a hang guard: the registry once took k^2 steps
    assert np.array_equal(out, np.sort(np.concatenate(pieces)))
    tamarind.sort_f64_st(pieces[0])  # every borrow was given back


FORK_PROBE = """
import os, threading
import numpy as np
import tamarind

piece = np.random.default_rng(0).random(20_000_000)
worker = threading.Thread(target=tamarind._concat_sort_nogil_f64, args=([piece],))
worker.start()
# While the worker is inside the helper it holds the piece's borrow and not the lock.
while worker.is_alive():
    try:
        tamarind.sort_f64_st(piece[:1])  # one element: moves nothing
    except BaseException as e:
        if "AlreadyBorrowed" not in str(e):
            raise
        pid = os.fork()
        if pid == 0:
            try:
                tamarind.sort_f64_st(piece)
                os._exit(0 if np.all(piece[:-1] <= piece[1:]) else 2)
            except BaseException:
                os._exit(1)
        break
else:
    raise SystemExit("the helper ended before the fork")
worker.join()
assert os.waitpid(pid, 0)[1] == 0
"""


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs os.fork")
def test_child_of_a_fork_drops_borrows_of_threads_it_lacks():
    run_probe(FORK_PROBE, PYTHONWARNINGS="ignore")
