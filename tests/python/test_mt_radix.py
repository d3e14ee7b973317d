"""sort_f64 / sort_i64 on the multi-threaded radix path: results equal the single-threaded
entry's and NumPy's around every length threshold and chunk-size bound, NaN outcomes, and
the per-call worker pools leaving no threads or memory behind."""
import os
import time

import numpy as np
import pytest

import tamarind

NONE_UNWRAP = "called `Option::unwrap()` on a `None` value"


def make(kind, n, dtype, seed):
    rng = np.random.default_rng(seed)
    if kind == "normal":
        return rng.normal(size=n).astype(dtype)
    if kind == "uniform":  # every value in [0, 1): the top digit is shared
        return rng.random(n).astype(dtype)
    if kind == "full":  # every bit pattern of the type's range
        a = rng.integers(np.iinfo(np.int64).min, np.iinfo(np.int64).max, n, dtype=np.int64, endpoint=True)
        return a if dtype == np.int64 else rng.normal(size=n) * 10.0 ** rng.integers(-300, 300, n)
    if kind == "few":
        return rng.integers(-3, 3, n).astype(dtype)
    if kind == "zeros":  # -0.0 and +0.0 interleaved with a few other values
        a = np.where(rng.random(n) < 0.5, -0.0, 0.0).astype(dtype)
        a[rng.integers(0, n, n // 100)] = rng.normal(size=n // 100)
        return a
    raise ValueError(kind)


def same_bits(a, b):
    return np.array_equal(np.sort(a.view(np.int64)), np.sort(b.view(np.int64)))


def check(a, compare_single_threaded=True):
    """Sorts a copy with the multi-threaded entry and compares with NumPy and, if asked,
    the single-threaded entry: int64 exactly, float64 up to the order of -0.0 and +0.0."""
    mt = a.copy()
    sort = tamarind.sort_f64 if a.dtype == np.float64 else tamarind.sort_i64
    assert sort(mt) is None
    expected = np.sort(a)
    others = [expected]
    if compare_single_threaded:
        st = a.copy()
        (tamarind.sort_f64_st if a.dtype == np.float64 else tamarind.sort_i64_st)(st)
        others.append(st)
    for other in others:
        if a.dtype == np.int64:
            np.testing.assert_array_equal(mt, other)
        else:
            assert (mt == other).all()  # == takes -0.0 and +0.0 as equal
    if a.dtype == np.float64:
        assert same_bits(mt, a)


@pytest.mark.parametrize(
    "n, kind",
    [(799_999, "normal"), (800_000, "normal"), (800_000, "uniform"), (800_000, "zeros"), (800_000, "few"),
     (999_999, "full"), (1_000_000, "full"), (1_000_000, "uniform"), (4_999_999, "normal"),
     (5_000_000, "uniform")],
)
def test_f64_around_thresholds(n, kind):
    check(make(kind, n, np.float64, n))


@pytest.mark.parametrize("n", [9_999_999, 10_000_000])
def test_i64_around_threshold(n):
    check(make("full", n, np.int64, n))


@pytest.mark.slow
def test_f64_at_the_twenty_million_bound():
    check(make("normal", 20_000_000, np.float64, 20), compare_single_threaded=False)


@pytest.mark.parametrize("dtype, n", [(np.float64, 1_000_000), (np.int64, 10_000_000)])
def test_presorted_runs_and_short_stretches(dtype, n):
    rng = np.random.default_rng(5)
    for layout in ("sorted", "reversed", "runs"):
        a = np.sort(rng.integers(-(10**12), 10**12, n)).astype(dtype)
        if layout == "reversed":
            a = a[::-1].copy()
        elif layout == "runs":
            # Long runs with unsorted stretches of at most 128 000 and of a bit more between.
            for start, length in ((n // 10, 128_000), (n // 2, 100), (n * 3 // 4, 150_000)):
                rng.shuffle(a[start:start + length])
        check(a, compare_single_threaded=dtype == np.int64)


def test_all_keys_zero():
    # int64 minimum is key 0: one plateau for run detection, nothing for the radix sort.
    a = np.full(10_000_000, np.iinfo(np.int64).min, dtype=np.int64)
    tamarind.sort_i64(a)
    assert (a == np.iinfo(np.int64).min).all()


def test_nan_placed_by_key_returns_normally():
    a = make("normal", 800_000, np.float64, 1)
    a[3], a[5] = np.nan, -np.nan
    st = a.copy()
    tamarind.sort_f64(a)
    tamarind.sort_f64_st(st)
    assert np.signbit(a[0]) and np.isnan(a[0]) and np.isnan(a[-1]) and not np.signbit(a[-1])
    assert (a[1:-1] == st[1:-1]).all() and (np.diff(a[1:-1]) >= 0).all()


@pytest.mark.parametrize("n", [2, 799_999, 800_000])
def test_nan_out_of_key_order_panics_with_a_permutation(n, PanicException):
    if n == 800_000:
        # A long run, then a stretch whose NaN the radix sort puts last: the merge cannot place it.
        a = np.arange(n, dtype=np.float64)
        a[500_000:] = np.random.default_rng(2).integers(0, n, n - 500_000) - 1.5
        a[650_000] = np.nan
    else:
        a = make("normal", n, np.float64, 3)
        a[n // 2] = np.nan
    before = a.copy()
    with pytest.raises(PanicException) as info:
        tamarind.sort_f64(a)
    assert info.value.args == (NONE_UNWRAP,)
    assert same_bits(a, before)


def thread_count():
    return len(os.listdir("/proc/self/task"))


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def test_dropped_pools_leave_no_threads_or_memory():
    base = make("normal", 800_000, np.float64, 4)
    for _ in range(20):  # global pool, allocator caches and thread stacks warmed up
        tamarind.sort_f64(base.copy())
    time.sleep(0.2)
    threads_before, memory_before = thread_count(), resident_bytes()
    a = np.empty_like(base)
    for _ in range(200):
        a[:] = base
        tamarind.sort_f64(a)
    deadline = time.monotonic() + 10
    while thread_count() > threads_before and time.monotonic() < deadline:
        time.sleep(0.05)
    assert thread_count() <= threads_before
    assert resident_bytes() - memory_before < 32 << 20
