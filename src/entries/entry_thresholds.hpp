// The lengths at which the entries change algorithm, in one table. The entries
// (single_threaded_sort, multi_threaded_sort, mt_radix_sort) read them from here; the C++
// tests use the names, and the Python tests parse this file to sort one below, at and above
// each, so moving a value moves the tests with it.
// Keep each on one line as `inline constexpr std::size_t kName = value;` (a table that
// never takes a path holds the largest size, which the Python tests leave out).
//
// The crossings between the vector quicksort and a scalar radix sort depend on the kernel
// table, whose quicksort they race: each has its AVX2 value (measured on AMD EPYC, Zen 3,
// which the scalar table keeps too) and beside it its AVX-512 value (kNameAvx512, measured
// on AMD EPYC, Zen 5, family 26, with benchmarks/cpp/bench_crossings; least ns per element,
// quicksort against the radix sort). radix_or_quicksort.hpp gathers them per table.
// The other values are not tied to an instruction set.
#pragma once

#include <cstddef>
#include <limits>

namespace tamarind {

// sort_f64_st and sort_f64: stretches up to this long may take the sampled MSD sort. Its 256
// buckets outgrow the in-cache sort's best lengths beyond it, and a second step per bucket
// costs more than the quicksort's extra levels or the digit steps. Normal float64, one
// thread, median TSC ticks per element, quicksort against the sampled sort: 29.6 against 28.0
// at 1.5 * 10^7, 30.2 against 29.8 at 2 * 10^7, 31.4 against 33.4 at 3 * 10^7.
inline constexpr std::size_t kF64SampledRadixMax = 16'000'000;
// sort_f64_st: slices up to this long are sorted by comparison.
inline constexpr std::size_t kStF64ComparisonMax = 300;
// sort_*_st: stretches (of a slice past the comparison bound) from this long may take the
// radix sort; shorter ones take the vector quicksort, which needs no histogram pass. Floats
// make poorer radix keys (even uniform ones share their top exponent bits), so they pay off
// later: at 10^5 uniform float64 the two sorts are even, at 10^6 the radix sort is 1.2x.
inline constexpr std::size_t kStRadixMin = 8192;
// AVX-512, sort_i64_st's stretches, int64 full range: 3.30 against 3.50 at 10^6, 3.86
// against 5.00 at 2 * 10^6, 5.75 against 5.24 at 4 * 10^6, 6.78 against 4.88 at 10^7.
inline constexpr std::size_t kStI64RadixMinAvx512 = 4'000'000;
inline constexpr std::size_t kStF64RadixMin = 131072;
// AVX-512, uniform float64: the quicksort wins wherever the sampled sort does not take the
// stretch (2.31 against 4.14 at 131 072, 3.35 against 4.11 at 5 * 10^5, 10.14 against 10.29
// at 2 * 10^6, 8.39 against 11.24 at 1.6 * 10^7), and past the sampled sort's bound too
// (sort_f64_st in Python, least of 3 runs: 6.03 against 8.56 at 2 * 10^7, 6.69 against 9.48
// at 5 * 10^7), so this table takes no digit steps for floats.
inline constexpr std::size_t kStF64RadixMinAvx512 = std::numeric_limits<std::size_t>::max();
// sort_f64_st: stretches from this long, below kStF64RadixMin and no longer than the in-cache
// radix sort takes, go to it as ordered integers where a sample shows their keys spread evenly
// from their first differing bit (uniform values do; normal and lognormal ones, whose
// exponents cluster, do not). Uniform float64, TSC ticks per element: 10.9 against 10.6 at
// 4000, 10.9 against 12.0 at 8000, 12.5 against 14.0 at 32 000. (sort_f64 keeps its
// quicksort, which sorts the floats themselves rather than in total order: tried there, the
// radix sort gained 2-4% at 10^4 and nothing at 2 * 10^4.)
inline constexpr std::size_t kStF64ShortRadixMin = 6000;
// AVX-512: the quicksort wins at every length the in-cache sort takes (uniform float64:
// 1.84 against 2.52 at 8000, 2.17 against 2.47 at 64 000, 2.36 against 4.85 at 128 000), so
// the crossing lies past kRollercoasterSmallMax.
inline constexpr std::size_t kStF64ShortRadixMinAvx512 = 128'001;
// sort_f64_st: stretches from this long whose first digit splits them badly (clustered
// exponents: normal, lognormal) take the sampled MSD sort as ordered integers; shorter ones
// the vector quicksort. Normal float64, TSC ticks per element (median), quicksort against
// the sampled sort: 19.4 against 19.7 at 1.6 * 10^5, 20.4 against 19.5 at 2 * 10^5, 23.0
// against 18.8 at 10^6, 28.8 against 23.7 at 10^7.
inline constexpr std::size_t kStF64SampledRadixMin = 180000;
// AVX-512, normal float64: 3.54 against 4.18 at 10^6, 4.67 against 5.95 at 2 * 10^6, 8.21
// against 7.70 at 5 * 10^6, 10.90 against 8.03 at 10^7.
inline constexpr std::size_t kStF64SampledRadixMinAvx512 = 5'000'000;
// sort_f64_st: stretches from this long whose first digit splits them well take the sampled
// MSD sort too. The digit steps put uniform values, which share their exponent's top bits,
// into 16 buckets of a 32nd of the keys each (the top exponent's), and from about 32 times
// kRollercoasterSmallMax those need a second in-place step before the in-cache sort takes
// them; the sampled step's 256 even buckets do not. Uniform float64, median TSC ticks per
// element, digit steps against the sampled sort: 22.7 against 23.1 at 4 * 10^6, 25.8
// against 24.7 at 6 * 10^6, 27.7 against 24.7 at 10^7.
inline constexpr std::size_t kStF64SampledOverDigitsMin = 5'000'000;
// AVX-512, uniform float64, the quicksort against the sampled sort: 6.02 against 5.60 at
// 10^7, 8.39 against 5.74 at 1.6 * 10^7 (below, see kStF64RadixMinAvx512).
inline constexpr std::size_t kStF64SampledOverDigitsMinAvx512 = 10'000'000;
// sort_i64_st: slices up to this long skip run detection and the MSD radix sort.
inline constexpr std::size_t kStI64ComparisonMax = 7000;
// sort_i64 and sort_i64_st: slices and stretches from this long, below the radix paths,
// take the in-cache radix sort where a sample shows their keys spread evenly, else the
// vector quicksort. Uniform int64, TSC ticks per element (median): 11.1 against 11.4 at
// 1000, 11.1 against 12.5 at 1200, 9.8 against 14.1 at 7000; at 800 the quicksort is faster.
inline constexpr std::size_t kI64ShortRadixMin = 1000;
// AVX-512: the quicksort wins at every length the in-cache sort takes (int64 full range:
// 1.21 against 2.56 at 1000, 1.79 against 2.12 at 20 000, 2.17 against 2.27 at 128 000).
inline constexpr std::size_t kI64ShortRadixMinAvx512 = 128'001;
// sort_f64: slices below this long take the parallel comparison sort on the global pool.
inline constexpr std::size_t kMtF64ComparisonBelow = 800'000;
// sort_f64: stretches from this long whose first digit splits them badly (normal,
// lognormal) take the parallel sampled sort, up to kF64SampledRadixMax. AMD EPYC, AVX2, two
// threads, median TSC ticks per element, parallel quicksort against the sampled sort: normal
// 12.7 against 11.4 at 10^6, 15.4 against 13.4 at 10^7.
inline constexpr std::size_t kMtF64SampledMin = kMtF64ComparisonBelow;
// AVX-512 (Zen 5), two threads, sort_f64 in Python, least ns per element of 7 runs, two
// rounds in turn, parallel quicksort against the sampled sort: normal 2.53 / 2.70 at
// 2 * 10^6, 3.06 / 2.89 at 4 * 10^6, 3.25 / 3.22 at 6 * 10^6, 3.49 / 3.27 at 10^7;
// lognormal 2.56 / 2.82 at 2 * 10^6, 3.12 / 3.21 at 4 * 10^6, 3.31 / 3.13 at 6 * 10^6,
// 3.59 / 3.02 at 10^7, 3.66 / 3.47 at 1.6 * 10^7.
inline constexpr std::size_t kMtF64SampledMinAvx512 = 5'000'000;
// sort_f64: stretches from this long take the parallel sampled sort even where their first
// digit splits them well (uniform), as all others up to kF64SampledRadixMax do. Below it the
// parallel quicksort is as fast. Two threads, uniform float64, least TSC ticks per element
// over four alternating runs, quicksort against the sampled sort: 13.5 against 12.5 at
// 2 * 10^6, 14.4 against 13.7 at 4 * 10^6, 15.7 against 14.0 at 10^7, 16.6 against 13.9 at
// 1.6 * 10^7. At 10^6 the two are even in C++ (12.8 against 13.1) and the sampled sort
// falls behind in the benchmark.
inline constexpr std::size_t kMtF64SampledEvenMin = 2'000'000;
// AVX-512, two threads, uniform float64: 3.83 against 8.01 at 2 * 10^6, 6.48 against 9.49
// at 4 * 10^6, 8.25 against 6.20 at 10^7, 7.34 against 9.24 at 1.6 * 10^7.
inline constexpr std::size_t kMtF64SampledEvenMinAvx512 = kF64SampledRadixMax + 1;
// sort_i64 and sort_i64_st: slices below the radix paths from this long whose keys span no
// more values than the slice has elements are counted; shorter ones the comparison sorts
// take quickly anyway.
inline constexpr std::size_t kRangeCountMin = 512;
// AVX-512: its quicksort wins at every length below the radix paths (keys spanning as many
// values as the slice has elements, count against quicksort: 2.94 against 1.60 at 1000,
// 2.75 against 1.57 at 4000, 2.72 against 1.67 at 7000; a quarter of that span: 1.87
// against 1.75 at 7000), so the crossing lies past them.
inline constexpr std::size_t kRangeCountMinAvx512 = 8192;
// sort_i64: slices below this long run on the global pool, not on a pool of their own.
inline constexpr std::size_t kMtI64ComparisonBelow = 10'000'000;
// sort_i64: slices from this long (and below kMtI64ComparisonBelow) take the radix sort on
// the global pool, shorter ones the parallel comparison sort.
inline constexpr std::size_t kMtI64GlobalRadixMin = 8192;
// sort_i64: stretches from this long whose digits split them well take the parallel radix
// sort, shorter ones the parallel quicksort.
inline constexpr std::size_t kMtI64RadixMin = kMtI64GlobalRadixMin;
// AVX-512, two threads, int64 full range: 1.70 against 4.35 at 131 072, 2.29 against 3.59
// at 10^6, 6.31 against 3.51 at 4 * 10^6, 8.49 against 5.58 at 10^7 (the parallel radix
// sort splits its first level by chunks of 500 000).
inline constexpr std::size_t kMtI64RadixMinAvx512 = 4'000'000;

}  // namespace tamarind
