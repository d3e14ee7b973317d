"""Results against NumPy: every function sorts exactly as np.sort does (up to the order of
-0.0 and +0.0 where a comparison sort handles them)."""
import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import tamarind
from conftest import F64_FUNCS, I64_FUNCS

finite_f64 = hnp.arrays(np.float64, st.integers(0, 300),
                        elements=st.floats(allow_nan=False, allow_infinity=True, width=64))
any_i64 = hnp.arrays(np.int64, st.integers(0, 300),
                     elements=st.integers(np.iinfo(np.int64).min, np.iinfo(np.int64).max))


@pytest.mark.parametrize("name", F64_FUNCS)
@settings(max_examples=150, deadline=None)
@given(a=finite_f64)
def test_f64_matches_numpy(name, a):
    expected = np.sort(a)
    getattr(tamarind, name)(a)
    assert (a == expected).all()  # == treats -0.0 and +0.0 as equal


@pytest.mark.parametrize("name", I64_FUNCS)
@settings(max_examples=150, deadline=None)
@given(a=any_i64)
def test_i64_matches_numpy(name, a):
    expected = np.sort(a)
    getattr(tamarind, name)(a)
    np.testing.assert_array_equal(a, expected)
