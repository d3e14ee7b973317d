import pathlib
import re

import numpy as np
import pytest

import tamarind

F64_FUNCS = ["sort_f64", "sort_f64_st", "rayon_sort_f64"]
I64_FUNCS = ["sort_i64", "sort_i64_st", "rayon_sort_i64"]
ALL_FUNCS = F64_FUNCS + I64_FUNCS
NONE_UNWRAP = "called `Option::unwrap()` on a `None` value"

# The entries' length thresholds, read from the one table the engine compiles.
_TABLE = pathlib.Path(__file__).parents[2] / "src" / "entries" / "entry_thresholds.hpp"
THRESHOLDS = {name: int(value.replace("'", "")) for name, value in
              re.findall(r"inline constexpr std::size_t (k\w+) = ([\d']+);", _TABLE.read_text())}


def dtype_of(name):
    return np.float64 if "f64" in name else np.int64


def same_bits(a, b):
    """The same multiset of bit patterns (tells -0.0 from +0.0 and one NaN from another)."""
    return np.array_equal(np.sort(a.view(np.int64)), np.sort(b.view(np.int64)))


@pytest.fixture(scope="session")
def PanicException():
    """The PanicException class, taken from a call that is sure to panic."""
    with pytest.raises(BaseException) as info:
        tamarind.rayon_sort_f64(np.array([1.0, np.nan]))
    return info.type
