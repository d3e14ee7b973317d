// Single-threaded adaptive sort of a whole slice, in place, on the calling thread.
// Compiled once for f64 and once for i64 (single_threaded_sort.cpp).
#pragma once

#include <cstddef>

#include "entries/entry_thresholds.hpp"
#include "types/element.hpp"

namespace tamarind {

// f64: comparison sorts up to kStF64ComparisonMax elements (a NaN ends the call with a
// panic before anything moves); above that run detection by key, every unsorted stretch
// counted, radix-sorted or quicksorted as ordered integers, and a merge: totalOrder, and
// never fails on NaN.
void single_threaded_sort(f64* v, std::size_t n);

// i64: comparison sorts up to kStI64ComparisonMax elements, above that run detection with
// the rollercoaster radix sort and a merge. Cannot fail.
void single_threaded_sort(i64* v, std::size_t n);

// i64: one stretch that run detection handed on, sorted on the calling thread as
// single_threaded_sort sorts its stretches (i64_stretch_sort's choice). Cannot fail.
void single_threaded_stretch_sort(i64* v, std::size_t m);

}  // namespace tamarind
