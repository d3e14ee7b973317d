import os
import pathlib
import re
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import tamarind

F64_FUNCS = ["sort_f64", "sort_f64_st", "rayon_sort_f64"]
I64_FUNCS = ["sort_i64", "sort_i64_st", "rayon_sort_i64"]
ALL_FUNCS = F64_FUNCS + I64_FUNCS
NONE_UNWRAP = "called `Option::unwrap()` on a `None` value"
# NaNs of both signs, quiet and signalling, with payloads: as bit patterns and as float64.
NAN_BITS = [0x7FF8_0000_0000_0000, 0xFFF8_0000_0000_0000, 0x7FF0_0000_0000_0001, 0xFFFF_FFFF_FFFF_FFFF,
            0x7FFF_FFFF_FFFF_FFFF, 0xFFF0_0000_0000_0001]
NANS = np.array(NAN_BITS, np.uint64).view(np.float64)

# The engine's sources, where the tests sit in a checkout.
SRC = pathlib.Path(__file__).parents[2] / "src"


def _length(expr, values):
    """A constant's value: literals, shifts and products of literals or of constants in
    `values`; None for anything else (kNever, the largest size)."""
    expr = re.sub(r"(?:std::size_t|u64)\{(\d+)\}|(?<=\d)ULL", r"\1", expr.replace("'", ""))
    expr = re.sub(r"\bk\w+", lambda m: str(values.get(m.group(), "?")), expr)
    return eval(expr) if re.fullmatch(r"[\d\s<*+()]+", expr) else None  # noqa: S307 - digits and operators only


def size_constants(*patterns):
    """The named integer constants defined in the engine's sources matching the glob
    patterns, as _length reads them."""
    values = {}
    for path in sorted(p for pattern in patterns for p in SRC.glob(pattern)):
        for name, expr in re.findall(r"constexpr (?:std::size_t|u64) (k\w+) = ([^;]+);", path.read_text()):
            if (value := _length(expr, values)) is not None:
                values[name] = value
    return values


# The entries' length thresholds that hold on every processor, read from the file the engine compiles.
THRESHOLDS = size_constants("entries/entry_thresholds.hpp")


def crossing_rows():
    """The rows of the crossing table in that file: name -> (kernel table, {crossing: length}),
    each crossing named as a constant (st_i64_radix -> kStI64Radix); kNever left out."""
    path = SRC / "entries/entry_thresholds.hpp"
    if not path.exists():
        return {}
    text = path.read_text()
    rows = {}
    for name, isa, body in re.findall(r'\{"([\w-]+)", simd::Vendor::\w+, \d+, simd::Isa::k(\w+), \{(.*?)\}\}', text, re.S):
        fields = {"k" + "".join(w.capitalize() for w in field.split("_")): _length(expr, THRESHOLDS)
                  for field, expr in re.findall(r"^\s*\.(\w+) = ([^,]+),", body, re.M)}
        # The block distribution's bound applies to buckets inside a sort, which the engine
        # tests cover; a whole slice of that length takes no other path for it.
        rows[name] = (isa, {k: v for k, v in fields.items() if v is not None and k != "kBlockDistribution"})
    return rows


def dtype_of(name):
    return np.float64 if "f64" in name else np.int64


def same_bits(a, b):
    """The same multiset of bit patterns (tells -0.0 from +0.0 and one NaN from another)."""
    return np.array_equal(np.sort(a.view(np.int64)), np.sort(b.view(np.int64)))


def total_order_key(a):
    """IEEE totalOrder as an unsigned key, from the bits: sign-set values reversed below
    sign-clear ones, so -NaN < -inf < ... < -0.0 < +0.0 < ... < +inf < +NaN."""
    bits = a.view(np.uint64)
    return np.where(bits >> np.uint64(63) == 1, ~bits, bits | np.uint64(1 << 63))


@pytest.fixture(scope="session")
def PanicException():
    """The PanicException class, taken from a call that is sure to panic."""
    with pytest.raises(BaseException) as info:
        tamarind.rayon_sort_f64(np.array([1.0, np.nan]))
    return info.type


def run_probe(code, **env_overrides):
    """Runs `code` (dedented) in a fresh interpreter, with no pool size from the environment
    unless given and one-threaded BLAS; asserts that it exited 0, returns the finished process."""
    env = {k: v for k, v in os.environ.items() if k not in ("RAYON_NUM_THREADS", "RAYON_RS_NUM_CPUS")}
    env.update(OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1", MKL_NUM_THREADS="1", **env_overrides)
    out = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env, capture_output=True,
                         text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    return out
