// Multi-threaded radix sort of a whole slice, in place: run detection, then every unsorted
// stretch by peeka_sort or the parallel quicksort (whichever its keys suit), and a merge of
// the stretches. Compiled once for f64 and once for i64 (mt_radix_sort.cpp). The module's
// entry chooses between it and the parallel comparison sort by length.
#pragma once

#include <cstddef>

#include "entries/entry_thresholds.hpp"
#include "types/element.hpp"

namespace tamarind {

// The processor count, or 4 when the platform reports none.
std::size_t mt_thread_count() noexcept;

// On a pool built for the call, one thread per processor. f64 is sorted into totalOrder and
// never fails on NaN; either type fails only for a pool that cannot be built.
void mt_radix_sort(f64* v, std::size_t n);
void mt_radix_sort(i64* v, std::size_t n);

// The same for i64 on the global pool, for slices too short to pay for a pool of their own.
void radix_sort_on_global_pool(i64* v, std::size_t n);

}  // namespace tamarind
