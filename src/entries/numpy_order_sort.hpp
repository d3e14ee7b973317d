// Sorts into NumPy's order on the calling thread, for the Dask sort's private helpers: NaNs
// of either sign last, in the order they came in, every other value by IEEE 754
// totalOrder (so -0.0 before +0.0, which NumPy's order leaves open), every bit pattern kept.
// Compiled once for f64 and once for i64 (numpy_order_sort.cpp).
#pragma once

#include <cstddef>

#include "types/element.hpp"

namespace tamarind {

// Moves the NaNs behind the other values, keeping the NaNs' order, then sorts the rest with
// single_threaded_sort, which orders floats past its comparison sorts by totalOrder; shorter
// stretches are sorted as ordered integers, where that order holds too. Never fails on NaN.
void numpy_order_sort(f64* v, std::size_t n);

// single_threaded_sort.
void numpy_order_sort(i64* v, std::size_t n);

}  // namespace tamarind
