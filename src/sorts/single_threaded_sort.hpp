// Single-threaded adaptive sort of a whole slice, in place, on the calling thread.
// Compiled once for f64 and once for i64 (single_threaded_sort.cpp).
#pragma once

#include <cstddef>

#include "sorts/entry_thresholds.hpp"
#include "types/element.hpp"

namespace tamarind {

// f64: comparison sorts up to kStF64ComparisonMax elements, above that run detection with a
// radix fallback and a merge. A NaN met by a comparison ends the call with a panic; a NaN
// that only radix passes met ends it with the same panic unless the result is in key order.
void single_threaded_sort(f64* v, std::size_t n);

// i64: comparison sorts up to kStI64ComparisonMax elements, above that run detection with
// the rollercoaster radix sort and a merge. Cannot fail.
void single_threaded_sort(i64* v, std::size_t n);

}  // namespace tamarind
