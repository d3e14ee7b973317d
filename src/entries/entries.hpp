// The sorts behind the module's six functions, one overload per element type. Each
// chooses its algorithm by length and data here; the module only maps names to them.
//
//   sort_f64 / sort_i64          multi_threaded_sort
//   sort_f64_st / sort_i64_st    single_threaded_sort
//   rayon_sort_f64 / _i64        quicksort_on_global_pool
#pragma once

#include <cstddef>

#include "entries/single_threaded_sort.hpp"
#include "types/element.hpp"

namespace tamarind {

// From kMtF64ComparisonBelow / kMtI64ComparisonBelow elements: the radix sort on a pool
// built for the call (mt_radix_sort). Shorter: i64 from kMtI64GlobalRadixMin on the radix
// sort on the global pool; otherwise a count of a few distinct values or the parallel
// quicksort on the global pool. f64 is in totalOrder on the radix path and raises on NaN
// (IEEE order) below it.
void multi_threaded_sort(f64* v, std::size_t n);
void multi_threaded_sort(i64* v, std::size_t n);

// The parallel pattern-defeating quicksort on the global pool, at any length (0 included:
// the pool is built even then). f64 raises on NaN before any element moves.
void quicksort_on_global_pool(f64* v, std::size_t n);
void quicksort_on_global_pool(i64* v, std::size_t n);

}  // namespace tamarind
