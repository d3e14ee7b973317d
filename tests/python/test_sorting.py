"""Results against NumPy: every function sorts exactly as np.sort does (int64 bit for bit,
float64 up to the order of -0.0 and +0.0 where a comparison sort handles them), around
each entry's length thresholds; NaN that a comparison meets raises, and the radix paths order
NaN and signed zeros by IEEE totalOrder."""
import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import tamarind
from conftest import ALL_FUNCS, F64_FUNCS, NONE_UNWRAP, THRESHOLDS, dtype_of, same_bits


def pattern(name, n, dtype, rng):
    """Named inputs that the vector kernels treat differently (vector, network and block
    boundaries fall in the sizes below)."""
    i64 = np.iinfo(np.int64)
    if dtype == np.int64:
        base = rng.integers(i64.min, i64.max, n, dtype=np.int64, endpoint=True)
        special = np.array([i64.min, i64.max, 0, -1, 1], dtype=np.int64)
    else:
        base = rng.normal(size=n) * 10.0 ** rng.integers(-30, 30, n)
        special = np.array([-0.0, 0.0, np.inf, -np.inf, 5e-324, -5e-324, 2.2e-308, 1.0])
    ramp = np.arange(n, dtype=dtype)
    return {
        "random": lambda: base,
        "sorted": lambda: np.sort(base),
        "reversed": lambda: np.sort(base)[::-1].copy(),
        "two values": lambda: special[rng.integers(0, 2, n)],
        "organ pipe": lambda: np.minimum(ramp, n - ramp),
        "specials": lambda: np.where(rng.random(n) < 0.5, special[rng.integers(0, len(special), n)], base),
    }[name]()


@pytest.mark.parametrize("name", ALL_FUNCS)
@pytest.mark.parametrize("kind", ["random", "sorted", "reversed", "two values", "organ pipe", "specials"])
def test_patterns_match_numpy(name, kind):
    dtype = dtype_of(name)
    rng = np.random.default_rng(len(kind))
    for n in (*range(0, 70), 127, 128, 129, 255, 256, 257, 301, 1000, 2001, 2002, 7001, 65537):
        a = pattern(kind, n, dtype, rng)
        before, expected = a.copy(), np.sort(a)
        getattr(tamarind, name)(a)
        assert (a == expected).all() and same_bits(a, before), f"{kind}, n = {n}"


def layouts(n, dtype, seed):
    rng = np.random.default_rng(seed)
    if dtype == np.int64:
        full = rng.integers(np.iinfo(np.int64).min, np.iinfo(np.int64).max, n, dtype=np.int64, endpoint=True)
        yield "one top digit", rng.integers(0, 2**56, n, dtype=np.int64)
        yield "narrow range", rng.integers(-2**40, -2**40 + 1500, n, dtype=np.int64)
    else:
        full = rng.normal(size=n) * 10.0 ** rng.integers(-300, 300, n)
        yield "one exponent", 1.0 + rng.random(n)
        yield "normal", rng.normal(size=n)  # sign and exponent cluster: a poor first digit
        # Blocks of 65 536 (the parts in which sort_f64 converts to ordered integers) in two
        # exponents by turns: each part shares more leading bits than the whole does.
        yield "exponent blocks", (1.0 + rng.random(n)) * 2.0 ** (np.arange(n) // 65536 % 2)
        yield "narrow range", 1.0 + rng.integers(0, 1500, n) * 2.0**-52  # 1500 adjacent doubles
        yield "zeros", np.where(rng.random(n) < 0.5, -0.0, rng.choice([0.0, np.inf, -5e-324, 1.5], n))
    yield "full range", full
    runs = np.sort(full)
    # Long runs with unsorted stretches of up to 128 000 elements and of a bit more.
    for start, length in ((n // 10, 128_000), (n // 2, 100), (n * 3 // 4, 150_000)):
        rng.shuffle(runs[start:start + min(length, n // 5)])
    yield "runs", runs
    yield "reversed", np.sort(full)[::-1].copy()


# Each entry one below and at its thresholds (the table the engine compiles), the pool's
# sequential cutoff (2000), and where the float64 chunk size changes.
T = THRESHOLDS
@pytest.mark.parametrize("name, n", [
    *[("sort_f64_st", n) for n in (T["kStF64ComparisonMax"], T["kStF64ComparisonMax"] + 1,
                                   T["kStF64RadixMin"] - 1, T["kStF64RadixMin"])],
    *[("sort_f64_st", T[k] + d) for k in ("kStF64ShortRadixMin", "kStF64SampledRadixMin") for d in (-1, 0)],
    *[pytest.param("sort_f64_st", T["kStF64SampledOverDigitsMin"] + d, marks=pytest.mark.slow) for d in (-1, 0)],
    *[(name, n) for name in ("sort_i64_st", "sort_i64") for n in (T["kI64ShortRadixMin"] - 1, T["kI64ShortRadixMin"])],
    ("sort_i64_st", T["kStI64ComparisonMax"]), ("sort_i64_st", T["kStI64ComparisonMax"] + 1),
    ("sort_i64_st", T["kStRadixMin"] - 1), ("sort_i64_st", T["kStRadixMin"]),
    ("rayon_sort_f64", 2000), ("rayon_sort_f64", 2001), ("rayon_sort_i64", 2001),
    ("sort_f64", T["kMtF64ComparisonBelow"] - 1), ("sort_f64", T["kMtF64ComparisonBelow"]),
    ("sort_f64", T["kMtF64SampledEvenMin"] - 1), ("sort_f64", T["kMtF64SampledEvenMin"]),
    pytest.param("sort_f64", 20_000_000, marks=pytest.mark.slow),  # the chunk size changes here
    ("sort_i64", T["kMtI64ComparisonBelow"] - 1), ("sort_i64", T["kMtI64ComparisonBelow"]),
])
def test_thresholds_match_numpy(name, n):
    for label, a in layouts(n, dtype_of(name), n):
        before, expected = a.copy(), np.sort(a)
        getattr(tamarind, name)(a)
        assert (a == expected).all() and same_bits(a, before), label


def scattered_nans(n, nearly_sorted=False):
    rng = np.random.default_rng(n)
    a = rng.normal(size=n)
    if nearly_sorted:  # the order that a pass lifting misplaced elements would start moving
        a.sort()
        i, j = rng.integers(0, n, (2, n // 100))
        a[i], a[j] = a[j], a[i]
    a[rng.integers(0, n, 3)] = np.nan
    return a


@pytest.mark.parametrize("name, a", [
    *[(name, scattered_nans(n)) for name in F64_FUNCS for n in (2, 20, 21, T["kStF64ComparisonMax"])],
    ("rayon_sort_f64", scattered_nans(100_000)), ("sort_f64", scattered_nans(100_000)),
    ("sort_f64", scattered_nans(T["kMtF64ComparisonBelow"] - 1)),
    ("sort_f64", scattered_nans(10_000, nearly_sorted=True)),
], ids=lambda x: x if isinstance(x, str) else str(len(x)))
def test_nan_panics_and_keeps_a_permutation(name, a, PanicException):
    before = a.copy()
    for _ in range(2):  # the same array fails the same way: nothing stays borrowed
        a[:] = before
        with pytest.raises(PanicException) as info:
            getattr(tamarind, name)(a)
        assert info.value.args == (NONE_UNWRAP,)
        assert same_bits(a, before)
    b = np.random.default_rng(1).normal(size=len(a))  # the pool survives the panic
    getattr(tamarind, name)(b)
    assert (b[:-1] <= b[1:]).all()


SPECIALS = [np.nan, -np.nan, np.frombuffer(np.uint64(0x7FF0_0000_0000_0001).tobytes())[0], np.inf, -np.inf, 0.0, -0.0]


@pytest.mark.parametrize("name", ALL_FUNCS)
def test_fewer_than_two_elements_come_back_unchanged(name):
    dtype = dtype_of(name)
    getattr(tamarind, name)(np.empty(0, dtype=dtype))
    for value in SPECIALS if dtype == np.float64 else [0, 1, np.iinfo(np.int64).min, np.iinfo(np.int64).max]:
        a = np.array([value], dtype=dtype)
        before = a.copy()
        assert getattr(tamarind, name)(a) is None
        assert same_bits(a, before)


def total_order_key(a):
    """IEEE totalOrder as an unsigned key, from the bits: sign-set values reversed below
    sign-clear ones, so -NaN < -inf < ... < -0.0 < +0.0 < ... < +inf < +NaN."""
    bits = a.view(np.uint64)
    sign = bits >> np.uint64(63)
    return np.where(sign == 1, ~bits, bits | np.uint64(1 << 63))


def assert_in_total_order(sort, a):
    """The call returns, with exactly the input's bit patterns in totalOrder (equal keys
    are equal bits, so the expected array is fully determined)."""
    expected = a[np.argsort(total_order_key(a), kind="stable")]
    sort(a)
    assert np.array_equal(a.view(np.uint64), expected.view(np.uint64))


NAN_BITS = [0x7FF8_0000_0000_0000, 0xFFF8_0000_0000_0000, 0x7FF0_0000_0000_0001, 0xFFFF_FFFF_FFFF_FFFF,
            0x7FFF_FFFF_FFFF_FFFF, 0xFFF0_0000_0000_0001]


@st.composite
def runs_with_nans(draw):
    """Ascending, descending and equal runs around min_run long, with short or random stretches
    between them; NaNs (one, a few, many, or all; both signs, payloads) at junctions, run ends,
    probes or inside; and stretches of mixed signed zeros."""
    n = draw(st.sampled_from([301, 302, 799, 800, 801, 1500, 7000, 7001]))
    run = int(n / np.log2(n))
    rng = np.random.default_rng(draw(st.integers(0, 2**32 - 1)))
    parts, starts = [], []
    while (total := sum(map(len, parts))) < n:
        kind = draw(st.sampled_from(["ascending", "descending", "plateau", "random"]))
        length = min(n - total, draw(st.sampled_from([1, 2, 21, 129, run - 1, run, 2 * run])))
        values = rng.choice([-0.0, 0.0, np.inf, -np.inf, 1.0, -2.5], length) if draw(st.booleans()) \
            else rng.normal(size=length)
        if kind == "ascending":
            values = np.sort(values)
        elif kind == "descending":
            values = np.sort(values)[::-1]
        elif kind == "plateau":
            values = np.full(length, values[0])
        starts.append(total)
        parts.append(values)
    a = np.concatenate(parts)
    # Junctions, run ends, and the probes of run detection (multiples of min_run).
    places = starts + [s - 1 for s in starts[1:]] + [n - 1] + list(range(run - 1, n, run))
    bits = a.view(np.uint64)
    count = draw(st.sampled_from([1, 2, 3, 50, n]))
    if count == n:
        bits[:] = draw(st.sampled_from(NAN_BITS))
    for _ in range(min(count, 50)):
        at = draw(st.sampled_from(places) | st.integers(0, n - 1))
        bits[at] = draw(st.sampled_from(NAN_BITS))
    return a


@settings(max_examples=400, deadline=None)
@given(a=runs_with_nans())
def test_radix_path_orders_nan_and_zeros_by_total_order(a):
    assert_in_total_order(tamarind.sort_f64_st, a)


def nan_layouts(n):
    rng = np.random.default_rng(n)
    normal = rng.normal(size=n)
    yield "two NaNs at the end", np.concatenate([normal[:n - 2], [np.nan, np.nan]])
    scattered = normal.copy()
    scattered[rng.integers(0, n, 1000)] = np.nan
    scattered[rng.integers(0, n, 1000)] = -np.nan
    yield "NaNs of both signs scattered", scattered
    # The two stretch sorts: uniform keys take the radix sort, normal ones the quicksort,
    # which sorts NaN-free floats by IEEE comparison and must then order the zeros.
    uniform = rng.random(n)
    uniform[rng.integers(0, n, 100)] = -np.nan
    uniform[rng.integers(0, n, 100)] = -0.0
    yield "uniform with NaNs and zeros", uniform
    zeros = normal.copy()
    zeros[rng.integers(0, n, 1000)] = 0.0
    zeros[rng.integers(0, n, 1000)] = -0.0
    yield "normal with zeros", zeros
    yield "all NaN", np.full(n, np.nan)
    yield "only zeros", np.where(rng.random(n) < 0.5, -0.0, 0.0)
    runs = np.sort(normal)
    runs[n // 3:n // 3 + 5000] = np.where(rng.random(5000) < 0.5, -0.0, 0.0)
    runs[n // 2] = np.nan  # inside a run
    runs[2 * n // 3:] = runs[2 * n // 3:][::-1].copy()
    runs[2 * n // 3] = -np.nan  # where a descending run starts
    yield "runs with NaNs and a stretch of zeros", runs


@pytest.mark.parametrize("name, n", [
    ("sort_f64_st", 65_536), ("sort_f64_st", T["kStF64RadixMin"]), ("sort_f64_st", 1_000_000),
    ("sort_f64", T["kMtF64ComparisonBelow"]), ("sort_f64", T["kMtF64ComparisonBelow"] + 1),
    ("sort_f64", 2_000_000),
])
def test_radix_paths_order_long_arrays_by_total_order(name, n):
    for label, a in nan_layouts(n):
        try:
            assert_in_total_order(getattr(tamarind, name), a)
        except BaseException as e:  # noqa: BLE001 - a panic is a failure here too
            raise AssertionError(f"{label}: {e!r}") from e
