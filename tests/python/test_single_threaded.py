"""sort_f64_st and sort_i64_st above the comparison range: every length threshold of the
radix engine, one below and at it, against np.sort; and NaN above 300 elements, which
either ends in key order or raises, never returns out of order."""
import numpy as np
import pytest

import tamarind

THRESHOLDS = [20, 21, 128, 129, 250, 251, 256, 257, 300, 301, 349, 350, 799, 800, 3000, 3001,
              7000, 7001, 30000, 30001, 65536, 65537, 128000, 128001]


def patterns(n, dtype, rng):
    if dtype == np.int64:
        full = rng.integers(np.iinfo(np.int64).min, np.iinfo(np.int64).max, n, dtype=np.int64, endpoint=True)
        yield "full range", full
        yield "below 2^56", rng.integers(0, 2**56, n, dtype=np.int64)
        yield "0..1000", rng.integers(0, 1001, n, dtype=np.int64)
    else:
        full = rng.normal(size=n) * 1e3
        yield "normal", full
        yield "one exponent", 1.0 + rng.random(n)
        yield "zeros and specials", rng.choice([0.0, -0.0, np.inf, -np.inf, 5e-324, -5e-324, 1.5], n)
    yield "sorted", np.sort(full)
    yield "reversed", np.sort(full)[::-1].copy()
    yield "sorted halves", np.concatenate([np.sort(full[: n // 2]), np.sort(full[n // 2:])])


@pytest.mark.parametrize("n", THRESHOLDS)
@pytest.mark.parametrize("name", ["sort_f64_st", "sort_i64_st"])
def test_thresholds_match_numpy(name, n):
    dtype = np.float64 if "f64" in name else np.int64
    rng = np.random.default_rng(n)
    for label, a in patterns(n, dtype, rng):
        expected = np.sort(a)
        getattr(tamarind, name)(a)
        if dtype == np.int64:
            np.testing.assert_array_equal(a, expected, err_msg=label)
        else:
            assert (a == expected).all(), label  # -0.0 and +0.0 may trade places


@pytest.mark.parametrize("n", [301, 799, 800, 100_000])
def test_nans_placed_by_key_succeed(n):
    a = np.random.default_rng(n).normal(size=n)
    a[3] = np.nan
    a[5] = -np.nan
    tamarind.sort_f64_st(a)
    assert np.signbit(a[0]) and np.isnan(a[0])
    assert not np.signbit(a[-1]) and np.isnan(a[-1])
    assert (np.diff(a[1:-1]) >= 0).all()


def test_nan_the_merge_cannot_place_raises(PanicException):
    # A 600-element run, then a tail whose sort puts the NaN last: the merge cannot place it.
    rng = np.random.default_rng(7)
    a = np.concatenate([np.arange(600.0), rng.integers(0, 1000, 400) - 1.5])
    a[650] = np.nan
    before = a.copy()
    with pytest.raises(PanicException) as info:
        tamarind.sort_f64_st(a)
    assert info.value.args == ("called `Option::unwrap()` on a `None` value",)
    np.testing.assert_array_equal(np.sort(a), np.sort(before))
