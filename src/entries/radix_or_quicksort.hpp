// Which sort a stretch of integers (or of floats as ordered integers) takes: an MSD radix
// sort pays one pass per digit level, and a level whose digit sorts the keys into a few
// buckets pays that pass for little. Floats make such levels: their top bits hold the sign
// and the exponent, which most data shares or spreads over a handful of values (normal,
// lognormal, and anything of one sign and a narrow magnitude). Integers of a wide range
// split well on every level. The choice reads a sample of the keys, never the whole stretch.
#pragma once

#include <algorithm>
#include <bit>
#include <bitset>
#include <cstddef>

#include "comparison/comparison_sort.hpp"
#include "entries/crossing_rows.hpp"
#include "entries/entry_thresholds.hpp"
#include "entries/handoff_rules.hpp"
#include "radix/key_scan.hpp"
#include "radix/rollercoaster_sort.hpp"
#include "traits/traits.hpp"
#include "types/params.hpp"

namespace tamarind {

// Keys read, at an even stride, to judge a stretch.
inline constexpr std::size_t kSplitSample = 256;
// Distinct first-level digits among the sampled keys from which the radix sort's first
// level counts as a good split. A uniform sample of 256 over 256 buckets shows about 160;
// a float sample of one or two exponents shows at most 32 (the top mantissa bits of each).
// Measured on AMD EPYC (AVX2): with 24 or fewer the vector quicksort is faster from 10^4 to
// 10^7 elements; the rule is per level, not per instruction set, and a wider vector
// quicksort (AVX-512) only moves the choice further towards it.
inline constexpr std::size_t kRadixMinSampleDigits = 48;

// How the radix sort's first effective level splits the keys of a stretch, judged on a
// sample: kNarrow where the keys differ in their low two digits only (the radix sort counts
// them, or takes at most two passes, however few buckets the first one fills).
enum class DigitSplit { kNarrow, kWell, kBadly };

// The split of v[0, n): the digit the radix sort would start on (the top byte of the bits
// in which the sampled keys differ) must take kRadixMinSampleDigits values among the sampled keys.
template <class Traits>
DigitSplit digit_split(const typename Traits::value_type* v, std::size_t n) {
    if (n < kSplitSample) return DigitSplit::kWell;
    const std::size_t stride = n / kSplitSample;
    u64 keys[kSplitSample];
    u64 spread = 0;
    const u64 first = Traits::to_key(v[0]);
    for (std::size_t i = 0; i < kSplitSample; ++i) {
        keys[i] = Traits::to_key(v[i * stride]);
        spread |= keys[i] ^ first;
    }
    if (static_cast<u64>(std::bit_width(spread)) <= 2 * kByteRadix) return DigitSplit::kNarrow;
    const Digit digit = top_aligned_digit(spread_aligned_params(spread), 0);
    std::bitset<kByteRadixRange> seen;
    for (u64 key : keys) seen.set(digit.of(key));
    return seen.count() >= kRadixMinSampleDigits ? DigitSplit::kWell : DigitSplit::kBadly;
}

// Whether the radix sort's first effective level splits the keys of v[0, n) well, or they
// are narrow.
template <class Traits>
bool radix_splits_well(const typename Traits::value_type* v, std::size_t n) {
    return digit_split<Traits>(v, n) != DigitSplit::kBadly;
}

// The crossings of the row this process sorts with (crossing_rows.hpp).
inline const RadixCrossings& radix_crossings() noexcept { return crossing_row().at; }

// The sorts a stretch (or a slice below the radix paths) may take.
enum class StretchSort {
    kQuicksort,     // the vector quicksort
    kInCacheRadix,  // rollercoaster_short: at most kRollercoasterSmallMax keys that spread evenly
    kRadix,         // rollercoaster_sort (parallel: the radix sort on the pool)
    kSampledRadix,  // sampled_msd_sort or its parallel form
    kCallingThreadRadix,  // sort_i64: rollercoaster_sort on the calling thread, keys it counts
};

// Whether int64 keys v[0, m) take the radix sort whose crossing on this table is `from`:
// narrow keys always (it counts them, faster than any quicksort), keys whose digits split
// them well from the crossing on.
inline bool i64_takes_radix(const i64* v, std::size_t m, std::size_t from) {
    const DigitSplit split = digit_split<I64Traits>(v, m);
    return split == DigitSplit::kNarrow || (split == DigitSplit::kWell && m >= from);
}

// The int64 choice of sort_i64_st (and of sort_i64's short slices) for a stretch or slice
// that no count settled: the radix sort where its keys are narrow (it counts them, faster
// than any quicksort) or, past the table's crossing, where its digits split them well; the
// in-cache sort where it fits and its keys spread evenly from their first differing bit;
// else the quicksort.
inline StretchSort i64_stretch_sort(const i64* v, std::size_t m) {
    const RadixCrossings& at = radix_crossings();
    if (m >= kStRadixMin && i64_takes_radix(v, m, at.st_i64_radix)) return StretchSort::kRadix;
    if (m >= at.i64_short_radix && m <= kRollercoasterSmallMax && short_radix_splits_well<I64Traits>(v, m))
        return StretchSort::kInCacheRadix;
    return StretchSort::kQuicksort;
}

// The float64 choice of sort_f64_st, on the keys in total order: the sampled sort for long
// stretches (from a shorter length where the digits split badly), the radix sort where the
// digits split well, the in-cache sort for short even ones, else the quicksort.
inline StretchSort st_f64_stretch_sort(const f64* v, std::size_t m) {
    const RadixCrossings& at = radix_crossings();
    if (m < std::min(at.st_f64_radix, at.st_f64_sampled)) {
        return m >= at.st_f64_short_radix && m <= kRollercoasterSmallMax &&
                       short_radix_splits_well<F64KeyOrderTraits>(v, m)
                   ? StretchSort::kInCacheRadix
                   : StretchSort::kQuicksort;
    }
    const bool digits_split = radix_splits_well<F64KeyOrderTraits>(v, m);
    if (m <= at.f64_sampled_max && m >= (digits_split ? at.st_f64_sampled_over_digits : at.st_f64_sampled))
        return StretchSort::kSampledRadix;
    return digits_split && m >= at.st_f64_radix ? StretchSort::kRadix : StretchSort::kQuicksort;
}

// The float64 choice of sort_f64 for a stretch of its radix path: the parallel sampled sort
// (from a shorter length where the digits split badly) or the parallel quicksort.
inline StretchSort mt_f64_stretch_sort(const f64* v, std::size_t m) {
    const RadixCrossings& at = radix_crossings();
    const bool sampled = m <= at.f64_sampled_max && m >= at.mt_f64_sampled &&
                         (m >= at.mt_f64_sampled_even || !radix_splits_well<F64KeyOrderTraits>(v, m));
    return sampled ? StretchSort::kSampledRadix : StretchSort::kQuicksort;
}

// The int64 choice of sort_i64 for a stretch of its radix paths: where its keys are narrow,
// the radix sort's count (on the calling thread up to kCallingThreadCountMax, else on the
// pool); past the table's crossing, where its digits split the keys well, the parallel radix
// sort; else the parallel quicksort.
inline StretchSort mt_i64_stretch_sort(const i64* v, std::size_t m) {
    const DigitSplit split = digit_split<I64Traits>(v, m);
    if (split == DigitSplit::kNarrow)
        return m <= kCallingThreadCountMax ? StretchSort::kCallingThreadRadix : StretchSort::kRadix;
    return split == DigitSplit::kWell && m >= radix_crossings().mt_i64_radix ? StretchSort::kRadix
                                                                             : StretchSort::kQuicksort;
}

// Sorts a short int64 slice (below the radix paths) that no count settled: by the in-cache
// radix sort where i64_stretch_sort gives it, else by `otherwise`.
template <class Otherwise>
void sort_short_i64(i64* v, std::size_t n, Otherwise&& otherwise) {
    if (i64_stretch_sort(v, n) == StretchSort::kInCacheRadix)
        rollercoaster_short<I64Traits>(v, n);
    else
        otherwise(v, n);
}

}  // namespace tamarind
