// The lengths at which the entries change algorithm, in one table. The entries
// (single_threaded_sort, multi_threaded_sort, mt_radix_sort) read them from here; the C++
// tests use the names, and the Python tests parse this file to sort one below and at each,
// so moving a value moves the tests with it.
// Keep each on one line as `inline constexpr std::size_t kName = value;`.
//
// Measured on AMD EPYC (AVX2). On AVX-512 the vector quicksort and networks run about
// twice as fast while the radix passes, bound by memory, do not, so the radix crossings
// there lie at or above these: where a value is low for AVX-512 it costs at most the gap
// between the two sorts near that length, which is small by construction of a crossing.
#pragma once

#include <cstddef>

namespace tamarind {

// sort_f64_st: slices up to this long are sorted by comparison.
inline constexpr std::size_t kStF64ComparisonMax = 300;
// sort_*_st: stretches (of a slice past the comparison bound) from this long may take the
// radix sort; shorter ones take the vector quicksort, which needs no histogram pass. Floats
// make poorer radix keys (even uniform ones share their top exponent bits), so they pay off
// later: at 10^5 uniform float64 the two sorts are even, at 10^6 the radix sort is 1.2x.
inline constexpr std::size_t kStRadixMin = 8192;
inline constexpr std::size_t kStF64RadixMin = 131072;
// sort_f64_st: stretches from this long, below kStF64RadixMin and no longer than the in-cache
// radix sort takes, go to it as ordered integers where a sample shows their keys spread evenly
// from their first differing bit (uniform values do; normal and lognormal ones, whose
// exponents cluster, do not), except on AVX-512 (see short_radix_beats_quicksort). Uniform float64, TSC ticks per element: 10.9 against 10.6 at
// 4000, 10.9 against 12.0 at 8000, 12.5 against 14.0 at 32 000. (sort_f64 keeps its
// quicksort, which sorts the floats themselves rather than in total order: tried there,
// the radix sort gained 2-4% at 10^4 and nothing at 2 * 10^4.)
inline constexpr std::size_t kStF64ShortRadixMin = 6000;
// sort_i64_st: slices up to this long skip run detection and the MSD radix sort.
inline constexpr std::size_t kStI64ComparisonMax = 7000;
// sort_i64 and sort_i64_st: slices and stretches from this long, below the radix paths,
// take the in-cache radix sort where a sample shows their keys spread evenly, else the
// vector quicksort (always the quicksort on AVX-512: see short_radix_beats_quicksort). Uniform int64, TSC ticks per element (median): 11.1 against 11.4 at 1000,
// 11.1 against 12.5 at 1200, 9.8 against 14.1 at 7000; at 800 the quicksort is faster.
inline constexpr std::size_t kI64ShortRadixMin = 1000;
// sort_f64: slices below this long take the parallel comparison sort on the global pool.
inline constexpr std::size_t kMtF64ComparisonBelow = 800'000;
// sort_i64: slices below this long run on the global pool, not on a pool of their own.
inline constexpr std::size_t kMtI64ComparisonBelow = 10'000'000;
// sort_i64: slices from this long (and below kMtI64ComparisonBelow) take the radix sort on
// the global pool, shorter ones the parallel comparison sort.
inline constexpr std::size_t kMtI64GlobalRadixMin = 8192;

}  // namespace tamarind
