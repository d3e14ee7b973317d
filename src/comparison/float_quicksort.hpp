// float64 in totalOrder by the quicksort on the kernels, for the single-threaded entry's
// stretches that the radix sort would not split well. The kernels order by IEEE comparison,
// which on a slice without NaN is totalOrder except that the two zeros compare equal. So a
// NaN-free slice is sorted as floats and its block of zeros then rewritten with every -0.0
// first; a slice with a NaN is sorted as ordered integers, which is slower (AVX2 has no
// 64-bit integer min or max for the sorting networks).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "comparison/comparison_sort.hpp"
#include "comparison/nan_gate.hpp"
#include "traits/float_keys.hpp"

namespace tamarind {

// Given v[0, n) sorted by IEEE comparison and free of NaN, puts its zeros (one block, found
// by two binary searches) in key order: every -0.0 before every +0.0.
inline void order_signed_zeros(f64* v, std::size_t n) noexcept {
    f64* lo = std::lower_bound(v, v + n, 0.0);
    f64* hi = std::upper_bound(lo, v + n, 0.0);
    const auto negative = std::count_if(lo, hi, [](f64 x) { return std::signbit(x); });
    std::fill(lo, lo + negative, -0.0);
    std::fill(lo + negative, hi, 0.0);
}

// Sorts v[0, n) into totalOrder on the calling thread.
inline void quicksort_in_total_order(f64* v, std::size_t n) {
    if (has_nan<F64Traits>(v, n)) {
        F64AsI64 ints(v, n);
        unstable_sort<I64Traits>(ints.ints(), n);
        ints.release();
        return;
    }
    unstable_sort_nan_free<F64Traits>(v, n);
    order_signed_zeros(v, n);
}

}  // namespace tamarind
