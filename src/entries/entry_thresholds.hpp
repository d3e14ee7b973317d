// The lengths at which the entries change algorithm. The entries (single_threaded_sort,
// multi_threaded_sort, mt_radix_sort) read them from here; the Python tests parse this file
// to sort one below, at and above each, so moving a value moves the tests with it.
// Keep each on one line: `inline constexpr std::size_t kName = value;` for the lengths that
// hold on every processor, `.field = value,` in a row of kCrossingRows (a row that never
// takes a path holds kNever, which the Python tests leave out).
//
// The crossings between the vector quicksort and a scalar radix sort depend on the
// processor, not only on the kernel table whose quicksort they race: kCrossingRows holds one
// row per processor class with figures, each value beside the figures that set it
// (benchmarks/cpp/bench_crossings: least ns per element, quicksort against the radix sort,
// unless a comment says otherwise). crossing_rows.cpp picks the row once per process.
#pragma once

#include <cstddef>
#include <limits>

#include "radix/block_distribution.hpp"
#include "simd/cpu.hpp"

namespace tamarind {

// A crossing no length reaches: the row's quicksort wins wherever it was measured.
inline constexpr std::size_t kNever = std::numeric_limits<std::size_t>::max();

// sort_f64_st and sort_f64: stretches up to this long may take the sampled MSD sort, unless a
// row's f64_sampled_max says otherwise. Its 256 buckets outgrow the in-cache sort's best
// lengths beyond it, and a second step per bucket costs more than the quicksort's extra
// levels or the digit steps. AMD Zen 3, normal float64, one thread, median TSC ticks per
// element, quicksort against the sampled sort: 29.6 against 28.0 at 1.5 * 10^7, 30.2 against
// 29.8 at 2 * 10^7, 31.4 against 33.4 at 3 * 10^7.
inline constexpr std::size_t kF64SampledRadixMax = 16'000'000;
// sort_f64_st: slices up to this long are sorted by comparison.
inline constexpr std::size_t kStF64ComparisonMax = 300;
// sort_*_st: stretches (of a slice past the comparison bound) shorter than this take the
// vector quicksort or the in-cache sort, never the radix sort, whatever the row says.
inline constexpr std::size_t kStRadixMin = 8192;
// sort_i64_st: slices up to this long skip run detection and the MSD radix sort.
inline constexpr std::size_t kStI64ComparisonMax = 7000;
// sort_f64: slices below this long take the parallel comparison sort on the global pool.
inline constexpr std::size_t kMtF64ComparisonBelow = 800'000;
// sort_i64: slices below this long run on the global pool, not on a pool of their own.
inline constexpr std::size_t kMtI64ComparisonBelow = 10'000'000;
// sort_i64: slices from this long (and below kMtI64ComparisonBelow) take the radix sort on
// the global pool, shorter ones the parallel comparison sort.
inline constexpr std::size_t kMtI64GlobalRadixMin = 8192;

// The lengths from which the scalar radix sorts take over from the vector quicksort, on one
// processor class.
struct RadixCrossings {
    std::size_t i64_short_radix;            // in-cache radix sort, int64 keys that spread evenly
    std::size_t st_i64_radix;               // sort_i64_st: radix sort, stretches whose digits split well
    std::size_t st_f64_short_radix;         // sort_f64_st: in-cache radix sort, floats that spread evenly
    std::size_t st_f64_radix;               // sort_f64_st: radix sort, stretches whose digits split well
    std::size_t st_f64_sampled;             // sort_f64_st: sampled sort, stretches whose digits split badly
    std::size_t st_f64_sampled_over_digits; // sort_f64_st: sampled sort, the others
    std::size_t mt_f64_sampled;             // sort_f64: sampled sort, stretches whose digits split badly
    std::size_t mt_f64_sampled_even;        // sort_f64: sampled sort, the others
    std::size_t mt_i64_radix;               // sort_i64: parallel radix sort, stretches whose digits split well
    std::size_t i64_range_count;            // counting sort, short int64 slices of a narrow range
    std::size_t block_distribution;         // in-place MSD steps: by blocks, not element swaps
    std::size_t f64_sampled_max;            // sort_f64_st and sort_f64: the sampled sort's longest stretch
};

// A processor class and its crossings. A row applies where the vendor and family match (kOther
// and 0 match any) and the kernel table in use is `isa` (the scalar table takes the AVX2 rows);
// the first row that applies wins, so a row for any vendor, last for its table, is the default
// for processors no one has measured.
struct CrossingRow {
    const char* name;  // what TAMARIND_CROSSINGS names it by
    simd::Vendor vendor;
    unsigned family;
    simd::Isa isa;
    RadixCrossings at;
};

inline constexpr CrossingRow kCrossingRows[] = {
    // AMD EPYC, Zen 5 (family 26), the AVX-512 table, measured before the block-wise
    // distribution and the 9-bit diverted passes (main 10cd65c and earlier): its radix sides
    // have got faster since on the one processor measured after them (Intel, below).
    {"zen5-avx512", simd::Vendor::kAmd, 26, simd::Isa::kAvx512, {
        // The quicksort wins at every length the in-cache sort takes (int64 full range: 1.21
        // against 2.56 at 1000, 1.79 against 2.12 at 20 000, 2.17 against 2.27 at 128 000).
        .i64_short_radix = 128'001,
        // sort_i64_st's stretches, int64 full range: 3.30 against 3.50 at 10^6, 3.86 against
        // 5.00 at 2 * 10^6, 5.75 against 5.24 at 4 * 10^6, 6.78 against 4.88 at 10^7.
        .st_i64_radix = 4'000'000,
        // The quicksort wins at every length the in-cache sort takes (uniform float64: 1.84
        // against 2.52 at 8000, 2.17 against 2.47 at 64 000, 2.36 against 4.85 at 128 000).
        .st_f64_short_radix = 128'001,
        // Uniform float64: the quicksort wins wherever the sampled sort does not take the
        // stretch (2.31 against 4.14 at 131 072, 3.35 against 4.11 at 5 * 10^5, 10.14 against
        // 10.29 at 2 * 10^6, 8.39 against 11.24 at 1.6 * 10^7), and past the sampled sort's
        // bound too (sort_f64_st in Python, least of 3 runs: 6.03 against 8.56 at 2 * 10^7,
        // 6.69 against 9.48 at 5 * 10^7), so this row takes no digit steps for floats.
        .st_f64_radix = kNever,
        // Normal float64, the quicksort against the sampled sort: 3.54 against 4.18 at 10^6,
        // 4.67 against 5.95 at 2 * 10^6, 8.21 against 7.70 at 5 * 10^6, 10.90 against 8.03 at 10^7.
        .st_f64_sampled = 5'000'000,
        // Uniform float64, the quicksort against the sampled sort: 6.02 against 5.60 at 10^7,
        // 8.39 against 5.74 at 1.6 * 10^7 (below, see st_f64_radix).
        .st_f64_sampled_over_digits = 10'000'000,
        // Two threads, sort_f64 in Python, least ns per element of 7 runs, two rounds in
        // turn, parallel quicksort against the sampled sort: normal 2.53 / 2.70 at 2 * 10^6,
        // 3.06 / 2.89 at 4 * 10^6, 3.25 / 3.22 at 6 * 10^6, 3.49 / 3.27 at 10^7; lognormal
        // 2.56 / 2.82 at 2 * 10^6, 3.12 / 3.21 at 4 * 10^6, 3.31 / 3.13 at 6 * 10^6, 3.59 /
        // 3.02 at 10^7, 3.66 / 3.47 at 1.6 * 10^7.
        .mt_f64_sampled = 5'000'000,
        // Two threads, uniform float64: 3.83 against 8.01 at 2 * 10^6, 6.48 against 9.49 at
        // 4 * 10^6, 8.25 against 6.20 at 10^7, 7.34 against 9.24 at 1.6 * 10^7.
        .mt_f64_sampled_even = kF64SampledRadixMax + 1,
        // Two threads, int64 full range: 1.70 against 4.35 at 131 072, 2.29 against 3.59 at
        // 10^6, 6.31 against 3.51 at 4 * 10^6, 8.49 against 5.58 at 10^7 (the parallel radix
        // sort splits its first level by chunks of 500 000).
        .mt_i64_radix = 4'000'000,
        // The quicksort wins at every length below the radix paths (keys spanning as many
        // values as the slice has elements, count against quicksort: 2.94 against 1.60 at
        // 1000, 2.75 against 1.57 at 4000, 2.72 against 1.67 at 7000; a quarter of that span:
        // 1.87 against 1.75 at 7000), so the crossing lies past them.
        .i64_range_count = 8192,
        // Not measured here: the engine's default.
        .block_distribution = kBlockDistributionMin,
        .f64_sampled_max = kF64SampledRadixMax,
    }},
    // Intel Xeon (family 6), the AVX-512 table. Model 207 on an idle host (bench_crossings 5 2,
    // int64 rows 11 2), after the block-wise distribution; model 167 from before it, idle (the
    // shared intel-xeon-avx512-2cores/bench_crossings_avx512_table.txt).
    {"intel-avx512", simd::Vendor::kIntel, 6, simd::Isa::kAvx512, {
        // Int64 full range, model 207: 3.45 against 4.07 at 1000, 4.35 against 4.75 at 7000,
        // 6.17 against 7.91 at 128 000; model 167: 3.12 against 2.88 at 7000, 4.55 against
        // 3.86 at 128 000. The smaller of the two losses is 28%.
        .i64_short_radix = 128'001,
        // Int64 full range, model 207 (9-bit diverted passes): 6.74 against 6.59 at 262 144,
        // 7.99 against 8.14 at 10^6, 8.67 against 8.43 at 2 * 10^6, 9.96 against 9.89 at
        // 4 * 10^6, 10.81 against 10.08 at 10^7; model 167 (before the block-wise
        // distribution): 4.89 against 4.38 at 262 144, 5.90 against 5.03 at 10^6, 6.93 against
        // 7.31 at 10^7. Keys that share their top bytes (ids, timestamps) skip those steps in
        // the radix sort only.
        .st_i64_radix = 262'144,
        // Uniform float64, model 207: 3.47 against 6.06 at 6000, 5.05 against 9.36 at 32 000,
        // 5.51 against 11.43 at 128 000.
        .st_f64_short_radix = 128'001,
        // Uniform float64, model 207, quicksort against the digit steps: 5.68 against 8.59 at
        // 131 072, 7.60 against 10.89 at 2 * 10^6, 10.58 against 16.97 at 10^7, 10.55 against
        // 17.61 at 1.6 * 10^7.
        .st_f64_radix = kNever,
        // Normal float64, model 207, quicksort against the sampled sort: 5.82 against 7.71 at
        // 180 000, 7.40 against 8.58 at 10^6, 8.47 against 11.47 at 5 * 10^6, 10.20 against
        // 13.35 at 10^7, 10.50 against 15.53 at 1.6 * 10^7.
        .st_f64_sampled = kF64SampledRadixMax + 1,
        // Uniform float64, model 207, quicksort against the sampled sort: 7.37 against 10.17 at
        // 10^6, 9.75 against 11.72 at 5 * 10^6, 10.58 against 13.88 at 10^7.
        .st_f64_sampled_over_digits = kF64SampledRadixMax + 1,
        // Model 207, two threads, normal float64: 3.92 against 6.27 at 800 000, 4.27 against
        // 6.19 at 4 * 10^6, 5.57 against 8.95 at 10^7, 5.44 against 9.54 at 1.6 * 10^7.
        .mt_f64_sampled = kF64SampledRadixMax + 1,
        // Model 207, two threads, uniform float64: 4.21 against 6.46 at 2 * 10^6, 5.39 against
        // 10.05 at 10^7, 5.65 against 9.07 at 1.6 * 10^7.
        .mt_f64_sampled_even = kF64SampledRadixMax + 1,
        // Model 207, two threads, int64 full range: 3.61 against 8.12 at 131 072, 4.11 against
        // 10.04 at 500 000, 4.82 against 5.96 at 10^6, 5.09 against 8.74 at 4 * 10^6, 7.54
        // against 5.76 at 10^7 (a second run: 4.44 / 4.82 at 10^6, 5.13 / 5.12 at 4 * 10^6,
        // 5.78 / 5.81 at 10^7). sort_i64 in Python, median of 7, two rounds in turn, with the
        // parallel quicksort (this value) against the radix sort (10^6): uniform int64 4.39-4.66
        // against 4.89-5.37 at 10^6, 4.50-4.77 against 4.90-5.10 at 2 * 10^6.
        .mt_i64_radix = 4'000'000,
        // Model 207, int64 in [0, 512), count against quicksort: 5.57 against 3.30 at 512,
        // 3.62 against 3.89 at 1000, 2.42 against 4.35 at 7000. Keys spanning as many values
        // as the slice has elements (sort_i64_st in Python, median of 2000 calls, count
        // against the quicksort): 4.45 against 4.06 at 1000, 4.46 against 4.36 at 2000, 4.10
        // against 4.28 at 4000, 4.16 against 4.36 at 7000.
        .i64_range_count = 2000,
        // Model 207 (block_distribution.hpp has the figures).
        .block_distribution = kBlockDistributionMin,
        .f64_sampled_max = kF64SampledRadixMax,
    }},
    // AMD EPYC, Zen 4 (family 25, model 17), the AVX-512 table, after the block-wise distribution
    // and the 9-bit diverted passes (bench_crossings 20 2, three runs on an idle two-core guest
    // whose timings wander by up to a third between runs: the figures are the run that put the
    // longer arrays on huge pages, as NumPy's are, with the spread of the others beside them).
    {"zen4-avx512", simd::Vendor::kAmd, 25, simd::Isa::kAvx512, {
        // Int64 full range, quicksort against the in-cache sort: 4.00 against 4.78 at 4000
        // (3.23 against 3.06 in another run), 4.36 against 3.80 at 7000, 4.93 against 3.90 at
        // 20 000, 5.42 against 5.01 at 128 000.
        .i64_short_radix = 7000,
        // Int64 full range: 5.50 against 7.68 at 131 072, 6.28 against 6.78 at 262 144 (6.73
        // against 5.52 in another run), 9.97 against 7.23 at 10^6, 8.59 against 6.47 at
        // 4 * 10^6, 10.22 against 6.43 at 10^7.
        .st_i64_radix = 262'144,
        // Uniform float64: even at 4000 to 16 000 (3.79 against 3.64 at 6000), 4.93 against
        // 8.11 at 32 000, 4.86 against 9.52 at 128 000.
        .st_f64_short_radix = 128'001,
        // Uniform float64, quicksort against the digit steps: 10.08 against 10.96 at 5 * 10^6,
        // 11.60 against 11.13 at 10^7, 11.73 against 10.79 at 1.6 * 10^7; but the sampled sort
        // takes every such stretch first (below, and f64_sampled_max), and beats them.
        .st_f64_radix = kNever,
        // Normal float64, quicksort against the sampled sort: 5.09 against 5.99 at 180 000,
        // 6.19 against 5.87 at 300 000, 7.12 against 5.90 at 10^6, 10.64 against 8.21 at 10^7.
        .st_f64_sampled = 300'000,
        // Uniform float64, quicksort against the sampled sort: 6.11 against 6.75 at 262 144,
        // 6.71 against 6.48 at 5 * 10^5, 7.50 against 6.92 at 10^6, 12.02 against 7.67 at
        // 2 * 10^6, 10.08 against 10.17 at 5 * 10^6, 11.60 against 9.64 at 10^7.
        .st_f64_sampled_over_digits = 500'000,
        // Two threads, normal float64: 3.77 against 3.93 at 800 000, 4.07 against 3.76 at
        // 2 * 10^6, 5.72 against 4.24 at 4 * 10^6, 5.61 against 4.18 at 10^7.
        .mt_f64_sampled = 2'000'000,
        // Two threads, uniform float64: 5.67 against 6.76 at 2 * 10^6, 7.45 against 5.72 at
        // 4 * 10^6, 5.69 against 5.27 at 10^7, 6.41 against 5.64 at 1.6 * 10^7.
        .mt_f64_sampled_even = 4'000'000,
        // Two threads, int64 full range: 3.95 against 7.45 at 500 000, 4.99 against 4.45 at
        // 10^6 (3.46 against 4.67 in another run), 4.76 against 3.95 at 4 * 10^6, 5.53 against
        // 5.39 at 10^7.
        .mt_i64_radix = 4'000'000,
        // Int64 in [0, 512), count against quicksort: 2.41 against 2.99 at 512, 2.82 against
        // 2.26 at 1000 (3.17 against 3.70 in another run), 3.09 against 1.94 at 2000.
        .i64_range_count = 2000,
        // The swaps win at every length. The radix sort, int64 full range, blocks (each
        // fetched ahead) against swaps for the whole slice's steps: 6.02 against 5.20 at
        // 2 * 10^6, 6.27 against 5.35 at 10^7, 6.84 against 5.65 at 2 * 10^7. The step alone,
        // 256 buckets of uniform u64, the count included, two runs: 3.11 / 3.23 against
        // 2.55 / 2.46 at 3 * 10^6, 3.16 / 3.09 against 2.49 / 2.24 at 5 * 10^7 (on arrays
        // without huge pages too: 3.15 against 2.24 at 5 * 10^7).
        .block_distribution = kNever,
        // No bound: the sampled sort's buckets past the in-cache sort's lengths split again by
        // their digits, and that still beats the rest. 5 * 10^7 elements, in Python, medians
        // of 3 runs, three rounds in turn, with the bound at 1.6 * 10^7 against none:
        // sort_f64_st normal 12.91 against 9.07, lognormal 13.15 against 8.03, nearly sorted
        // 12.25 against 8.92, uniform 9.61 (digit steps) against 9.39; sort_f64 uniform 7.77
        // against 5.36, normal 7.04 against 5.23.
        .f64_sampled_max = kNever,
    }},
    // Any other processor on the AVX-512 table: per crossing, the value of
    // the two rows above whose larger loss on the two rows' figures is the smaller (loss: the
    // slower sort's time over the faster's, at a measured length the value sends the wrong way).
    // Where a value is Zen 5's, its figures are from before the engine changes above.
    {"default-avx512", simd::Vendor::kOther, 0, simd::Isa::kAvx512, {
        // Both rows'.
        .i64_short_radix = 128'001,
        // Zen 5's: 25% lost on Intel at 2 * 10^6, against Intel's 30% on Zen 5 there.
        .st_i64_radix = 4'000'000,
        // Both rows'.
        .st_f64_short_radix = 128'001,
        // Both rows'.
        .st_f64_radix = kNever,
        // Intel's: 36% lost on Zen 5 at 10^7, against Zen 5's 57% on Intel at 1.6 * 10^7.
        .st_f64_sampled = kF64SampledRadixMax + 1,
        // Intel's: 46% lost on Zen 5 at 1.6 * 10^7, against Zen 5's 62% on Intel there.
        .st_f64_sampled_over_digits = kF64SampledRadixMax + 1,
        // Intel's: 19% lost on Zen 5 at 10^7 (lognormal), against Zen 5's 80% on Intel at 1.6 * 10^7.
        .mt_f64_sampled = kF64SampledRadixMax + 1,
        // Both rows'.
        .mt_f64_sampled_even = kF64SampledRadixMax + 1,
        // Zen 5's: 3% lost on Intel at 10^6, against Intel's 57% on Zen 5 there.
        .mt_i64_radix = 4'000'000,
        // Intel's: 75% lost on Zen 5 at 4000, against Zen 5's 80% on Intel at 7000 (the two
        // measured on keys of different spans).
        .i64_range_count = 2000,
        // Intel's: Zen 4 loses 28% with it at 10^7, Intel 34% without it there.
        .block_distribution = kBlockDistributionMin,
        .f64_sampled_max = kF64SampledRadixMax,
    }},
    // Intel Xeon (family 6), the AVX2 table: model 207 with AVX-512 turned off
    // (TAMARIND_DISABLE_CPU_FEATURES=AVX512F bench_crossings 5 2), idle host.
    {"intel-avx2", simd::Vendor::kIntel, 6, simd::Isa::kAvx2, {
        // Int64 full range, quicksort against the in-cache sort: 6.37 against 4.53 at 600,
        // 9.29 against 4.69 at 1000, 7.49 against 4.84 at 7000, 11.89 against 8.10 at 128 000.
        .i64_short_radix = 600,
        // Int64 full range: 7.82 against 4.88 at 8192, 12.27 against 6.25 at 262 144, 17.47
        // against 11.21 at 10^7.
        .st_i64_radix = kStRadixMin,
        // Uniform float64: 4.78 against 5.83 at 6000, 7.30 against 9.65 at 32 000, 8.72
        // against 8.33 at 64 000, 9.31 against 11.12 at 128 000.
        .st_f64_short_radix = 128'001,
        // Uniform float64, quicksort against the digit steps: 8.94 against 9.67 at 131 072,
        // 11.35 against 11.05 at 10^6, 13.65 against 19.66 at 5 * 10^6, 15.27 against 19.76 at
        // 1.6 * 10^7; the sampled sort beats both from 262 144 (below).
        .st_f64_radix = kNever,
        // Normal float64, quicksort against the sampled sort: 9.38 against 7.85 at 180 000,
        // 10.86 against 9.48 at 10^6, 13.64 against 13.66 at 5 * 10^6, 14.57 against 14.61 at
        // 10^7, 17.19 against 17.55 at 1.6 * 10^7.
        .st_f64_sampled = 180'000,
        // Uniform float64, quicksort against the sampled sort: 8.94 against 8.94 at 131 072,
        // 9.24 against 8.43 at 262 144, 11.35 against 10.17 at 10^6, 13.65 against 14.91 at
        // 5 * 10^6, 14.90 against 14.78 at 10^7, 15.27 against 15.02 at 1.6 * 10^7.
        .st_f64_sampled_over_digits = 262'144,
        // Two threads, parallel quicksort against the sampled sort, normal float64: 6.32
        // against 7.42 at 800 000, 5.95 against 6.20 at 2 * 10^6, 8.17 against 10.37 at 10^7,
        // 9.24 against 10.22 at 1.6 * 10^7.
        .mt_f64_sampled = kF64SampledRadixMax + 1,
        // Two threads, uniform float64: 6.05 against 6.90 at 800 000, 7.39 against 7.65 at
        // 4 * 10^6, 8.90 against 9.68 at 10^7, 7.91 against 10.10 at 1.6 * 10^7.
        .mt_f64_sampled_even = kF64SampledRadixMax + 1,
        // Two threads, int64 full range: 15.37 against 6.82 at 8192, 6.70 against 8.74 at
        // 131 072, 7.40 against 7.99 at 500 000, 7.51 against 5.25 at 10^6, 8.45 against 6.53
        // at 4 * 10^6, 9.19 against 9.84 at 10^7: the radix sort wins more than it loses.
        .mt_i64_radix = kMtI64GlobalRadixMin,
        // Int64 in [0, 512), count against quicksort: 4.63 against 6.04 at 512, 2.38 against
        // 8.11 at 7000.
        .i64_range_count = 512,
        // Intel's (the memory system's crossing, whatever the kernel table).
        .block_distribution = kBlockDistributionMin,
        .f64_sampled_max = kF64SampledRadixMax,
    }},
    // AMD EPYC, Zen 3, the AVX2 table; the default for the AVX2 table, and the row of every
    // processor on the scalar table (whose quicksort is the slower side of every crossing
    // already, so the radix sorts take over early). Measured before the block-wise
    // distribution and the 9-bit diverted passes. Median TSC ticks per element unless said
    // otherwise.
    {"zen3-avx2", simd::Vendor::kOther, 0, simd::Isa::kAvx2, {
        // Uniform int64, quicksort against the in-cache sort: 11.1 against 11.4 at 1000, 11.1
        // against 12.5 at 1200, 9.8 against 14.1 at 7000; at 800 the quicksort is faster.
        .i64_short_radix = 1000,
        // From the first length the radix sort takes at all.
        .st_i64_radix = kStRadixMin,
        // Stretches from this long, no longer than the in-cache sort takes, go to it as ordered
        // integers where a sample shows their keys spread evenly from their first differing bit
        // (uniform values do; normal and lognormal ones, whose exponents cluster, do not).
        // Uniform float64: 10.9 against 10.6 at 4000, 10.9 against 12.0 at 8000, 12.5 against
        // 14.0 at 32 000. (sort_f64 keeps its quicksort, which sorts the floats themselves
        // rather than in total order: tried there, the radix sort gained 2-4% at 10^4 and
        // nothing at 2 * 10^4.)
        .st_f64_short_radix = 6000,
        // Floats make poorer radix keys (even uniform ones share their top exponent bits), so
        // they pay off later: at 10^5 uniform float64 the two sorts are even, at 10^6 the
        // radix sort is 1.2x.
        .st_f64_radix = 131072,
        // Normal float64, quicksort against the sampled sort: 19.4 against 19.7 at 1.6 * 10^5,
        // 20.4 against 19.5 at 2 * 10^5, 23.0 against 18.8 at 10^6, 28.8 against 23.7 at 10^7.
        .st_f64_sampled = 180000,
        // The digit steps put uniform values, which share their exponent's top bits, into 16
        // buckets of a 32nd of the keys each (the top exponent's), and from about 32 times
        // kRollercoasterSmallMax those need a second in-place step before the in-cache sort
        // takes them; the sampled step's 256 even buckets do not. Uniform float64, digit steps
        // against the sampled sort: 22.7 against 23.1 at 4 * 10^6, 25.8 against 24.7 at
        // 6 * 10^6, 27.7 against 24.7 at 10^7.
        .st_f64_sampled_over_digits = 5'000'000,
        // Two threads, parallel quicksort against the sampled sort: normal 12.7 against 11.4
        // at 10^6, 15.4 against 13.4 at 10^7.
        .mt_f64_sampled = kMtF64ComparisonBelow,
        // Two threads, uniform float64, least over four alternating runs, quicksort against the
        // sampled sort: 13.5 against 12.5 at 2 * 10^6, 14.4 against 13.7 at 4 * 10^6, 15.7
        // against 14.0 at 10^7, 16.6 against 13.9 at 1.6 * 10^7. At 10^6 the two are even in
        // C++ (12.8 against 13.1) and the sampled sort falls behind in the benchmark.
        .mt_f64_sampled_even = 2'000'000,
        // Stretches whose digits split well take the parallel radix sort from the first length
        // it takes at all.
        .mt_i64_radix = kMtI64GlobalRadixMin,
        // Keys spanning no more values than the slice has elements are counted; shorter slices
        // the comparison sorts take quickly anyway.
        .i64_range_count = 512,
        // Not measured here: the engine's default.
        .block_distribution = kBlockDistributionMin,
        .f64_sampled_max = kF64SampledRadixMax,
    }},
};

}  // namespace tamarind
