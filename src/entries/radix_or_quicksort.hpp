// Which sort a stretch of integers (or of floats as ordered integers) takes: an MSD radix
// sort pays one pass per digit level, and a level whose digit sorts the keys into a few
// buckets pays that pass for little. Floats make such levels: their top bits hold the sign
// and the exponent, which most data shares or spreads over a handful of values (normal,
// lognormal, and anything of one sign and a narrow magnitude). Integers of a wide range
// split well on every level. The choice reads a sample of the keys, never the whole stretch.
#pragma once

#include <bit>
#include <bitset>
#include <cstddef>

#include "comparison/comparison_sort.hpp"
#include "entries/entry_thresholds.hpp"
#include "radix/key_scan.hpp"
#include "radix/rollercoaster_sort.hpp"
#include "simd/kernels.hpp"
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

// Whether the radix sort's first effective level splits the keys of v[0, n) well, judged
// on a sample: the digit the radix sort would start on (the first that not every key
// shares), unless the keys are narrow.
template <class Traits>
bool radix_splits_well(const typename Traits::value_type* v, std::size_t n) {
    if (n < kSplitSample) return true;
    const std::size_t stride = n / kSplitSample;
    u64 keys[kSplitSample];
    u64 acc = 0, spread = 0;
    const u64 first = Traits::to_key(v[0]);
    for (std::size_t i = 0; i < kSplitSample; ++i) {
        keys[i] = Traits::to_key(v[i * stride]);
        acc |= keys[i];
        spread |= keys[i] ^ first;
    }
    // Keys that differ only in their low two digits take at most two passes, however few
    // buckets the first one fills; narrower ones are counted.
    if (std::bit_width(spread) <= 2 * kByteRadix) return true;
    const u64 bits = significant_bits(acc);
    Params p{0, kByteRadix, 64 - bits, (bits + kByteRadix - 1) / kByteRadix, kByteRadixRange};
    const Digit digit = top_aligned_digit(p, first_differing_level(p, spread));
    std::bitset<kByteRadixRange> seen;
    for (u64 key : keys) seen.set(digit.of(key));
    return seen.count() >= kRadixMinSampleDigits;
}

// Whether the crossings at which a scalar radix sort takes over from the vector quicksort
// (kI64ShortRadixMin, kStF64ShortRadixMin, kStF64SampledRadixMin, and sort_f64's sampled sort
// from its radix path's length) hold on this processor.
// They were measured on AVX2. AVX-512's quicksort runs about twice as fast, and sorts int64
// with native 64-bit min and max, while the radix passes are scalar and no faster there:
// those crossings lie far above these lengths, so AVX-512 keeps the quicksort.
inline bool scalar_radix_beats_quicksort() noexcept { return simd::best_kernels()->isa != simd::Isa::kAvx512; }

// Sorts an int64 slice or stretch that no count settled and no radix step splits well: by
// the in-cache radix sort where it fits and its keys spread evenly, else by `otherwise`.
// Long stretches arrive here too (keys whose top digit takes few values), and the in-cache
// sort takes at most kRollercoasterSmallMax.
template <class Otherwise>
void sort_short_i64(i64* v, std::size_t n, Otherwise&& otherwise) {
    if (n >= kI64ShortRadixMin && n <= kRollercoasterSmallMax && scalar_radix_beats_quicksort() &&
        short_radix_splits_well<I64Traits>(v, n))
        rollercoaster_short<I64Traits>(v, n);
    else
        otherwise(v, n);
}

}  // namespace tamarind
