"""NaN that a comparison meets raises and leaves the array free for its next call, and the
radix path orders NaN and signed zeros by IEEE totalOrder however runs and NaNs fall. (Every
function against a reference at each length threshold, on every kernel table, arrays of fewer
than two elements and the raise with nothing moved included, is test_sweep.)"""
import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import tamarind
from conftest import F64_FUNCS, NAN_BITS, NONE_UNWRAP, total_order_key


@pytest.mark.parametrize("name", F64_FUNCS)
def test_nan_panic_leaves_nothing_borrowed(name, PanicException):
    a = np.array([3.0, np.nan, 1.0, 2.0])
    for _ in range(2):  # the same array fails the same way on its next call
        with pytest.raises(PanicException) as info:
            getattr(tamarind, name)(a)
        assert info.value.args == (NONE_UNWRAP,)


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
        values = {"ascending": np.sort(values), "descending": np.sort(values)[::-1],
                  "plateau": np.full(length, values[0]), "random": values}[kind]
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
    """The call returns, with exactly the input's bit patterns in totalOrder (equal keys
    are equal bits, so the expected array is fully determined)."""
    expected = a[np.argsort(total_order_key(a), kind="stable")]
    tamarind.sort_f64_st(a)
    assert np.array_equal(a.view(np.uint64), expected.view(np.uint64))
