"""Every function under every row of the crossing table, each on its kernel table (and the
scalar table), against a reference computed here, bit for bit: one below, at and above each
length at which a path switches (the entry thresholds, the row's crossings and the engine's
own bounds, read from the sources), over value families that steer the paths. A path is
picked by length, data, table and row together, and a fault may hide in one combination
only. Table and row are chosen once per process, so each pair runs the sweep in a process of
its own: run as a script, this file is that worker."""
import os
import subprocess
import sys
import zlib

import numpy as np
import pytest

import tamarind
from conftest import ALL_FUNCS, NONE_UNWRAP, SRC, THRESHOLDS, crossing_rows, size_constants, total_order_key

# The lengths come from the engine's sources: without them there is nothing to sweep.
pytestmark = pytest.mark.skipif(not (SRC / "entries" / "entry_thresholds.hpp").exists(),
                                reason=f"the sweep reads the engine's thresholds from {SRC}, which is absent")

VARIABLE, ROW_VARIABLE = "TAMARIND_DISABLE_CPU_FEATURES", "TAMARIND_CROSSINGS"
ROWS = crossing_rows()
F64_ST, F64, I64_ST, I64 = "sort_f64_st", "sort_f64", "sort_i64_st", "sort_i64"


def switched_by(threshold):
    """The functions an entry threshold switches, by the table's naming: St or Mt for the
    single- or multi-threaded entries (neither: both), F64 or I64 for the element type."""
    threads = [t for t in ("St", "Mt") if threshold.startswith(f"k{t}")] or ["St", "Mt"]
    types = [t for t in ("F64", "I64") if t in threshold] or ["F64", "I64"]
    return {f"sort_{t.lower()}{'_st' if th == 'St' else ''}" for th in threads for t in types}


# Lengths at which the engine changes course for a whole slice (bucket bounds inside a sort
# are the engine tests' concern): the radix sorts' comparison bounds, lifting, range counts,
# few keys, the quicksort's sequential cutoff and calling-thread bound, split histograms, run
# detection, the sampled sort, sort_f64's conversion parts, the parallel radix sort's spread
# swaps and in-cache slices, the in-cache sort, the NaN gate's parallel scan.
ENGINE_BOUNDS = ["kRadixComparisonMax", "kRollercoasterSmallComparisonMax", "kLiftMin",
                 "kFewKeysMin", "kSequentialThreshold", "kCallingThreadMax", "kSplitHistogramMin",
                 "kRunDetectionMin", "kLiftMax", "kSampledMsdMin", "kConversionPart", "kSpreadSwapMin",
                 "kPeekaSmallMax", "kRollercoasterSmallMax", "kParallelScanMin"]
# Up to this length every function meets every family; above it only the functions that
# switch there meet the families of LARGE (or, from HUGE_MIN, HUGE).
SMALL_MAX, HUGE_MIN = 300_000, 4_000_000
I64_INFO = np.iinfo(np.int64)
NAN_BITS = np.array([0x7FF8_0000_0000_0000, 0xFFF8_0000_0000_0000, 0x7FF0_0000_0000_0001, 0xFFFF_FFFF_FFFF_FFFF],
                    np.uint64)


def _full(rng, n):
    return rng.integers(I64_INFO.min, I64_INFO.max, n, np.int64, endpoint=True)


def _many(rng, n):  # floats of every exponent
    return rng.normal(size=n) * 10.0 ** rng.integers(-300, 300, n)


def _put(a, at, values):  # a with values put at `at` (floats as bit patterns)
    a.view(np.uint64 if a.dtype == np.float64 else np.int64)[at] = values
    return a


def _lone(width, value, at):  # keys in [0, 2^width) but one, `value`, at at(n)
    return lambda rng, n: _put(rng.integers(0, 2**width, n, np.int64), at(n), value)


def _nearly_sorted(a, rng):  # one element in a hundred swapped with another
    a = np.sort(a)
    i, j = rng.integers(0, len(a), (2, len(a) // 100 + 1))
    a[i], a[j] = a[j], a[i]
    return a


def _runs(a, rng):  # long runs with unsorted stretches of up to 128 000 elements and of a bit more
    a, n = np.sort(a), len(a)
    for start, length in ((n // 10, 128_000), (n // 2, 100), (n * 3 // 4, 150_000)):
        rng.shuffle(a[start:start + min(length, n // 5)])
    return a


def _runs_nans_zeros(rng, n):
    a = np.sort(rng.normal(size=n))
    a[n // 3:n // 3 + n // 20] = rng.choice([-0.0, 0.0], n // 20)
    a[n // 2] = np.nan  # inside a run
    a[2 * n // 3:] = a[2 * n // 3:][::-1].copy()
    a[2 * n // 3] = -np.nan  # where a descending run starts
    return a


SHAPES = {  # presorted shapes of random values
    "sorted": lambda a, rng: np.sort(a),
    "reversed": lambda a, rng: np.sort(a)[::-1].copy(),
    "runs": _runs,
    "plateaus": lambda a, rng: np.repeat(np.sort(a[:len(a) // 700 + 1]), 700)[:len(a)],
    "nearly sorted": _nearly_sorted,
    "organ pipe": lambda a, rng: np.concatenate([np.sort(a[:len(a) // 2]), np.sort(a[len(a) // 2:])[::-1]]),
    "sawtooth": lambda a, rng: np.concatenate([np.sort(tooth) for tooth in np.array_split(a, 7)]),
    "largest first": lambda a, rng: np.roll(np.sort(a), 1),
    "largest last": lambda a, rng: np.concatenate([rng.permutation(np.sort(a)[:-1]), np.sort(a)[-1:]]),
}
I64_SPECIALS = np.array([I64_INFO.min, I64_INFO.max, 0, -1, 1], np.int64)
F64_SPECIALS = np.array([-0.0, 0.0, np.inf, -np.inf, 5e-324, -5e-324, 2.2e-308, 1.0])
FAMILIES = {np.int64: {
    "full range": _full,
    # Non-negative: the top digit empty or partly used.
    **{f"[0, 2^{k})": lambda rng, n, k=k: rng.integers(0, 2**k, n, np.int64)
       for k in (8, 16, 17, 32, 48, 56, 57, 60, 63)},
    # A 16-bit range spread over wider keys.
    **{f"[0, 2^16) x {f}": lambda rng, n, f=f: rng.integers(0, 65536, n, np.int64) * f
       for f in (2, 3, 10, 1000, 10**6)},
    "narrow negative": lambda rng, n: rng.integers(-2**40, -2**40 + 1500, n, np.int64),
    "4 keys": lambda rng, n: rng.choice(_full(rng, 4), n),
    "33 keys": lambda rng, n: rng.choice(_full(rng, 33), n),
    "extremes": lambda rng, n: I64_SPECIALS[rng.integers(0, 2, n)],
    "extremes among others": lambda rng, n: np.where(rng.random(n) < 0.5, rng.choice(I64_SPECIALS, n), _full(rng, n)),
    # A lone key past the others' range, first (where every sample sees it) or where samples miss it.
    **{f"[0, 2^{k}) and one 2^{j} {where}": _lone(k, 2**j, at) for k, j in ((56, 56), (16, 40))
       for where, at in (("first", lambda n: 0), ("inside", lambda n: n // 3 + 1))},
    **{shape: lambda rng, n, make=make: make(_full(rng, n), rng) for shape, make in SHAPES.items()},
}, np.float64: {
    "many exponents": _many,
    "one exponent": lambda rng, n: 1.0 + rng.random(n),
    "uniform [0, 1)": lambda rng, n: rng.random(n),
    "both signs": lambda rng, n: rng.uniform(-1.0, 1.0, n),
    "normal": lambda rng, n: rng.normal(size=n),  # sign and exponent cluster: a poor first digit
    # Blocks of 65 536 (the parts in which sort_f64 converts to ordered integers) in two
    # exponents by turns: each part shares more leading bits than the whole does.
    "exponent blocks": lambda rng, n: (1.0 + rng.random(n)) * 2.0 ** (np.arange(n) // 65536 % 2),
    "1500 adjacent doubles": lambda rng, n: 1.0 + rng.integers(0, 1500, n) * 2.0**-52,
    "4 keys": lambda rng, n: rng.choice(rng.normal(size=4), n),
    "one exponent and one 2^64": lambda rng, n: _put(1.0 + rng.random(n), n // 3, np.float64(2.0**64).view(np.uint64)),
    "specials among others": lambda rng, n: np.where(rng.random(n) < 0.5, rng.choice(F64_SPECIALS, n), _many(rng, n)),
    # NaN-free floats quicksorted as floats get their zeros put in key order after.
    "normal with zeros": lambda rng, n: np.where(rng.random(n) < 0.02, rng.choice([-0.0, 0.0], n), rng.normal(size=n)),
    "signed zeros": lambda rng, n: rng.choice([-0.0, 0.0], n),
    "zeros": lambda rng, n: np.where(rng.random(n) < 0.5, -0.0, rng.choice([0.0, np.inf, -5e-324, 1.5], n)),
    "NaNs scattered": lambda rng, n: _put(rng.normal(size=n), rng.integers(0, n, n // 500 + 2),
                                          rng.choice(NAN_BITS, n // 500 + 2)),
    "NaNs near the end": lambda rng, n: _put(rng.normal(size=n), slice(n - 6, n - 4), NAN_BITS[:2]),
    # A signalling NaN shares its top bits with +inf: the two in one bucket of the first digit.
    "signalling NaN beside +inf": lambda rng, n: _put(rng.normal(size=n), slice(n // 3, n // 3 + 2),
                                                      [0x7FF0_0000_0000_0001, 0x7FF0_0000_0000_0000]),
    "uniform with NaNs and zeros": lambda rng, n: _put(np.where(rng.random(n) < 0.001, -0.0, rng.random(n)),
                                                       rng.integers(0, n, n // 1000 + 1),
                                                       rng.choice(NAN_BITS, n // 1000 + 1)),
    "runs with NaNs and zeros": _runs_nans_zeros,
    "all NaN": lambda rng, n: np.full(n, np.nan),
    **{shape: lambda rng, n, make=make: make(_many(rng, n), rng) for shape, make in SHAPES.items()},
}}
# Longer lengths: keys whose first digit splits them well or badly, wide non-negative and
# scaled 16-bit keys (on which sort_i64_st's in-cache sort once failed past its 128 000),
# NaN and zeros, runs.
LARGE = {np.int64: ["full range", "[0, 2^57)", "[0, 2^60)", "[0, 2^16) x 2", "[0, 2^16) x 1000",
                    "[0, 2^56) and one 2^56 first", "narrow negative", "runs"],
         np.float64: ["many exponents", "one exponent", "normal", "exponent blocks", "1500 adjacent doubles", "zeros",
                      "normal with zeros", "NaNs scattered", "uniform with NaNs and zeros", "runs with NaNs and zeros",
                      "runs", "reversed"]}
HUGE = {np.int64: ["full range", "[0, 2^56)", "[0, 2^16) x 2", "narrow negative", "runs"],
        np.float64: ["one exponent", "normal", "NaNs scattered"]}


def groups():
    """(longest length, the lengths tested as its prefixes, functions, families by dtype)."""
    engine = size_constants("radix/*.hpp", "comparison/*.hpp", "runs/*.hpp", "entries/*")
    points = {}
    for name, value in {**THRESHOLDS, **ROWS[os.environ[ROW_VARIABLE]][1]}.items():
        points.setdefault(value, set()).update(switched_by(name))
    for name in ENGINE_BOUNDS:
        points.setdefault(engine[name], set())
    points.setdefault(engine["kSequentialThreshold"] + 1, set())  # two above the quicksort's cutoff too
    points.setdefault(10**6, {I64_ST, I64})  # wide and scaled 16-bit keys well past the in-cache sort
    out = [(69, range(69, -1, -1), ALL_FUNCS, FAMILIES)]  # the vector kernels' lengths, one by one
    for value, funcs in sorted(points.items()):
        small = value + 1 <= SMALL_MAX
        out.append((value + 1, [value + 1, value, value - 1], ALL_FUNCS if small else sorted(funcs),
                    FAMILIES if small else LARGE if value < HUGE_MIN else HUGE))
    return out


def check(name, a, expected):
    """Sorts a copy of a with `name`; returns what is wrong, or None. `expected` holds the
    sorted keys (int64 values, or float64 totalOrder keys)."""
    b, func = a.copy(), getattr(tamarind, name)
    radix = (name == F64_ST and len(a) > THRESHOLDS["kStF64ComparisonMax"]) or \
            (name == F64 and len(a) >= THRESHOLDS["kMtF64ComparisonBelow"])
    if a.dtype == np.int64 or radix or len(a) < 2:
        func(b)
        return None if np.array_equal(b if a.dtype == np.int64 else total_order_key(b), expected) else "wrong order"
    if np.isnan(a).any():  # a comparison meets the NaN: it raises before moving anything
        try:
            func(b)
        except BaseException as e:  # noqa: BLE001 - the panic is the contract here
            if e.args != (NONE_UNWRAP,):
                return f"raised {e!r}"
            return None if np.array_equal(b.view(np.int64), a.view(np.int64)) else "raised, but moved elements"
        return "sorted an array with NaN"
    func(b)
    # IEEE order: which zero comes first is open, how many of each is not.
    neg_zero, pos_zero = total_order_key(np.array([-0.0, 0.0]))
    keys, want = (np.where(k == neg_zero, pos_zero, k) for k in (total_order_key(b), expected))
    zeros = [np.count_nonzero(x.view(np.uint64) == np.uint64(1 << 63)) for x in (a, b)]
    return None if np.array_equal(keys, want) and zeros[0] == zeros[1] else "wrong IEEE order"


def sweep():
    """Runs every case in this process, printing each before it starts (a crash names its
    case) and each failure; returns the number of cases."""
    count = 0
    for top, lengths, funcs, families in groups():
        for dtype, word in ((np.int64, "i64"), (np.float64, "f64")):
            names = [f for f in funcs if word in f]
            for family in families[dtype] if names else []:
                rng = np.random.default_rng([zlib.crc32(family.encode()), top])
                a = np.asarray(FAMILIES[dtype][family](rng, top), dtype)
                key = a.copy() if dtype == np.int64 else total_order_key(a)
                expected = np.sort(key)
                for n in lengths:  # each a prefix of the last: drop one key from the expected
                    while n < len(expected):
                        expected = np.delete(expected, np.searchsorted(expected, key[len(expected) - 1]))
                    for name in names:
                        print("case", case := f"{name} n={n} {family}", flush=True)
                        count += 1
                        try:
                            wrong = check(name, a[:n], expected)
                        except BaseException as e:  # noqa: BLE001 - reported as a failure
                            wrong = f"raised {e!r}"
                        if wrong:
                            print(f"FAIL {case}: {wrong}", flush=True)
    return count


def settings():
    """Each row on its own kernel table (the best this processor has for AVX-512 rows), and the
    scalar table on the last AVX2 row, its default: id -> environment."""
    out = {row: {ROW_VARIABLE: row, VARIABLE: "" if isa == "Avx512" else "AVX512F"} for row, (isa, _) in ROWS.items()}
    return {**out, "scalar": {ROW_VARIABLE: [r for r, (isa, _) in ROWS.items() if isa == "Avx2"][-1],
                              VARIABLE: "AVX512F AVX2"}}


@pytest.mark.slow
@pytest.mark.skipif(bool(os.environ.get(VARIABLE)), reason=f"the sweep sets {VARIABLE} itself, per table")
@pytest.mark.parametrize("setting", settings().values(), ids=settings().keys())
def test_every_function_matches_the_reference_on_every_row(setting):
    try:
        out = subprocess.run([sys.executable, __file__], env=dict(os.environ, **setting),
                             capture_output=True, text=True, timeout=1200, cwd=os.path.dirname(__file__))
    except subprocess.TimeoutExpired as e:  # its output so far names the case that hung
        out = subprocess.CompletedProcess(e.cmd, "timed out", *[x.decode() if isinstance(x, bytes) else x or ""
                                                                 for x in (e.stdout, e.stderr)])
    lines = out.stdout.splitlines()
    if out.returncode != 0 or not lines or not lines[-1].startswith("cases "):
        started = [line for line in lines if line.startswith("case ")]
        pytest.fail(f"the sweep ended (exit {out.returncode}) in {started[-1:]}\n{out.stderr[-2000:]}", pytrace=False)
    failures = [line for line in lines if line.startswith("FAIL ")]
    if failures:
        pytest.fail(f"{len(failures)} of {lines[-1].split()[1]} cases failed:\n" + "\n".join(failures[:40]),
                    pytrace=False)


if __name__ == "__main__":
    print("cases", sweep())
