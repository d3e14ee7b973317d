// Multi-threaded radix sort of a whole slice, in place: on a worker pool built for the
// call, run detection with peeka_sort on every unsorted stretch and a merge of the
// stretches. Compiled once for f64 and once for i64 (mt_radix_sort.cpp). Slices below the
// comparison thresholds are the parallel comparison sort's (the module's entry chooses;
// that sort lives in slice/, which builds on this folder).
#pragma once

#include <cstddef>

#include "sorts/entry_thresholds.hpp"
#include "types/element.hpp"

namespace tamarind {

// The processor count, or 4 when the platform reports none.
std::size_t mt_thread_count() noexcept;

// f64: a NaN met by a comparison ends the call with a panic; a NaN that only radix passes
// met ends it with the same panic unless the result is in key order (-0.0 equal to +0.0).
void mt_radix_sort(f64* v, std::size_t n);

// i64: cannot fail except for a pool that cannot be built.
void mt_radix_sort(i64* v, std::size_t n);

}  // namespace tamarind
