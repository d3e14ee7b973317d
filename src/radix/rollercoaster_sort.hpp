// MSD radix sort that splits large slices in place, one digit level at a time, and hands
// each bucket of at most kRollercoasterSmallMax elements to an in-cache LSD or DLSD sort.
// Buckets on the two levels below the top are first checked for order, so presorted
// regions cost one scan; keys in a narrow range are counted instead. It is the
// single-threaded radix sort: sort_*_st's unsorted stretches whose digits split well (from
// kStRadixMin elements, floats from the crossing row's st_f64_radix below the sampled sort's
// lengths and, where the row takes digit steps, past them, as ordered integers), and
// rollercoaster_short and rollercoaster_small finish the buckets of sampled_msd_sort and
// peeka_sort.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <vector>

#include "comparison/comparison_sort.hpp"
#include "radix/counting_sort.hpp"
#include "radix/dlsd_sort.hpp"
#include "radix/histograms.hpp"
#include "radix/key_scan.hpp"
#include "radix/lsd_sort.hpp"
#include "radix/ska_sort.hpp"
#include "runs/k_way_merge.hpp"
#include "runs/verge_sort_heuristic.hpp"
#include "types/params.hpp"

namespace tamarind {

// Buckets up to this long are not split further (below the top call).
inline constexpr std::size_t kRollercoasterSmallMax = 128000;
// Unsplit buckets up to this long are sorted by comparison.
inline constexpr std::size_t kRollercoasterSmallComparisonMax = 256;
// Unsplit buckets with at most this many digit levels left go to lsd_sort.
inline constexpr u64 kRollercoasterLsdLevelsMax = 3;
// Widest digit of the two diverted LSD passes.
inline constexpr u64 kRollercoasterDivertedWidthMax = 10;
// Levels below the top on which buckets are checked for order before recursing.
inline constexpr u64 kRollercoasterCheckDepth = 2;
// i64 top-level bucket of the non-negative values below 2^56 (key top byte 0x80).
inline constexpr u64 kI64SmallNonNegativeBucket = 128;
// That bucket goes through run detection from this size on...
inline constexpr std::size_t kI64SmallNonNegativeVergeMin = 350;
// ...and its unsorted stretches past this size are split in place by this sort, as u64,
// rather than by DLSD passes through a buffer, each a scatter to 512 streams that misses
// the cache and TLB per element. Thread CPU time per element, Intel Xeon model 207 (busy
// host), ids in [0, 2^40): 2 * 10^5 7.4 against 10.9, 2 * 10^6 10.4 against 29.2, 10^7
// 14.1 against 32.1; at 10^5 even (7.4 against 7.9), and below the bound the in-place
// split never runs.
inline constexpr std::size_t kI64SmallNonNegativeMsdMin = kRollercoasterSmallMax;

template <class Traits>
void rollercoaster_sort(typename Traits::value_type* v, std::size_t n);

namespace detail {

// Digit width of the two diverted passes over m elements: the narrowest from a byte up to
// kRollercoasterDivertedWidthMax whose two digits give every element two buckets, which
// leaves the repair about one element in four to move, by a step or two. Two passes of a
// wider digit beat three byte passes (int64 full range, TSC ticks per element, 3 x 8 bits
// against 2 x 10: 12.1 against 9.4 at 10^5), but past 512 buckets a pass's write streams
// outgrow L1 and cost more than the repair saves. Buckets of uniform u64 read from memory,
// as the MSD steps leave them, ns per element, Intel Xeon model 207, 2 x 8 / 2 x 9 / 2 x 10
// bits: 9.05 / 7.16 / 7.77 at 78 000, 7.45 / 6.80 / 7.79 at 39 000, 6.61 / 6.64 / 7.72 at
// 19 500, 6.28 / 6.88 / 7.81 at 9800, 6.14 / 7.20 / 6.83 at 4900.
inline u64 diverted_width(std::size_t m) noexcept {
    u64 width = kByteRadix;
    while (width < kRollercoasterDivertedWidthMax && (u64{1} << (2 * width)) < 2 * u64{m}) ++width;
    return width;
}

}  // namespace detail

// Sorts a bucket of at most kRollercoasterSmallMax elements that is not split further;
// p.level is the first digit level its elements may still differ in. `spread`, where the
// caller knows it, has a bit set wherever two keys differ: the passes then start at the
// first such bit rather than at the level's first (keys of 44 bits share 4 bits of their
// first differing byte, which a pass over them would not sort).
template <class Traits>
void rollercoaster_small(typename Traits::value_type* v, std::size_t m, const Params& p, u64 spread = ~u64{0}) {
    if (m > kRollercoasterSmallMax) [[unlikely]]
        panic(messages::kRollercoasterSmallTooLarge);
    if (m <= kRollercoasterSmallComparisonMax) {
        comparison_sort<Traits>(v, m);
        return;
    }
    const u64 remaining = p.max_level - p.level;
    const u64 range = u64{1} << p.radix;
    if (remaining <= kRollercoasterLsdLevelsMax) {
        lsd_sort<Traits>(v, m,
                         Params{0, p.radix, p.offset + p.level * p.radix - p.offset % p.radix, remaining, range});
        return;
    }
    // More than kRollercoasterLsdLevelsMax levels remain, so at least 25 key bits lie below
    // the level and at least 18 below the first bit in which keys differ.
    const u64 sorted_bits = std::max<u64>(p.offset + p.level * p.radix, 64 - significant_bits(spread));
    const u64 width = std::min<u64>(detail::diverted_width(m), (64 - sorted_bits) / 2);
    dlsd_core<Traits>(v, m, Params{0, width, sorted_bits, 2, u64{1} << width}, true);
}

namespace detail {

// Keys read, at an even stride, to predict the first step of rollercoaster_sort.
inline constexpr std::size_t kFirstStepSample = 64;

// The widest key and the spread of a sample of v[0, n) (n >= kFirstStepSample), from which
// rollercoaster_sort predicts its first step. Keys outside the sample may be wider or
// differ earlier; the caller's scan says whether they do.
template <class Traits>
KeyScan sampled_key_scan(const typename Traits::value_type* v, std::size_t n) {
    const std::size_t stride = n / kFirstStepSample;
    const u64 first = Traits::to_key(v[0]);
    u64 acc = 0, spread = 0;
    for (std::size_t i = 0; i < kFirstStepSample; ++i) {
        const u64 key = Traits::to_key(v[i * stride]);
        acc |= key;
        spread |= key ^ first;
    }
    return {significant_bits(acc), spread};
}

// The i64 bucket whose elements all share one sign: their bit patterns in unsigned
// order are their signed order, which the u64 sorts handle without the sign flip.
inline void sort_i64_one_sign_bucket(i64* b, std::size_t m) {
    u64* u = reinterpret_cast<u64*>(b);  // same-size signed/unsigned access is allowed
    if (m >= kI64SmallNonNegativeVergeMin) {
        std::vector<u64> boundaries = verge_sort_heuristic<U64Traits>(
            u, m, [](u64* chunk, std::size_t len) {
                if (len > kI64SmallNonNegativeMsdMin)
                    rollercoaster_sort<U64Traits>(chunk, len);
                else
                    dlsd_sort<U64Traits>(chunk, len);
            });
        k_way_merge<U64Traits>(u, m, boundaries);
    } else {
        comparison_sort<U64Traits>(u, m);
    }
}

// digit_histogram of v[0, n) that also returns the OR of (key ^ first key) over the slice:
// the key bits on which its elements differ, 0 when every key is the same. Needs a digit
// below `range` (<= kMaxRadixRange) buckets, as every kByteRadix step has.
// Kept out of line: its four tables would otherwise sit in every frame of the recursion.
template <class Traits>
[[gnu::noinline]] u64 digit_histogram_and_spread(const typename Traits::value_type* v, std::size_t n, u64* counts,
                               std::size_t range, Digit digit) {
    const u64 mask = digit.mask;
    const u64 shift = digit.shift;
    const u64 first = Traits::to_key(v[0]);
    u64 tables[4 * kMaxRadixRange];
    for (std::size_t w = 0; w < 4; ++w) std::memset(tables + w * kMaxRadixRange, 0, range * sizeof(u64));
    u64 spread = 0;
    count_four_ways(tables, kMaxRadixRange, 0, n, [&](std::size_t i) {
        const u64 key = Traits::to_key(v[i]);
        spread |= key ^ first;
        return (key & mask) >> shift;
    });
    sum_four_ways(tables, kMaxRadixRange, range, counts);
    return spread;
}

}  // namespace detail

// One in-place MSD step on v[0, n) by the top-aligned digit of p.level, then each bucket:
// order-checked while check_depth > 0, split again above kRollercoasterSmallMax (or
// always when top_level), else finished by rollercoaster_small.
// top_counts, when given, is the digit histogram of this step, already counted.
template <class Traits>
void rollercoaster_rec(typename Traits::value_type* v, std::size_t n, const Params& p,
                       u64 check_depth, bool top_level, const u64* top_counts = nullptr) {
    using T = typename Traits::value_type;
    if (n <= kRollercoasterSmallMax && !top_level) {
        rollercoaster_small<Traits>(v, n, p);
        return;
    }
    // Unchecked levels below the top: a step whose digit all keys share moves nothing and
    // hands the whole slice to the next level unchanged. The keys' spread, counted with the
    // first histogram, says at once which level first splits them, so those steps are
    // skipped, and with no such level (all keys equal) nothing is left to do.
    Params step = p;
    const u64* counted = top_counts;
    u64 counts[kMaxRadixRange];
    const Digit digit = top_aligned_digit(p, p.level);
    if (!counted && check_depth == 0 && !top_level && p.radix_range <= kMaxRadixRange &&
        (digit.mask >> digit.shift) < p.radix_range) {
        const u64 spread = detail::digit_histogram_and_spread<Traits>(v, n, counts, p.radix_range, digit);
        if ((digit.mask & spread) != 0) {
            counted = counts;
        } else {
            do {
                ++step.level;
            } while (step.level < p.max_level && (top_aligned_digit(p, step.level).mask & spread) == 0);
            if (step.level >= p.max_level) return;
        }
    }
    Params child = step;
    child.level = step.level + 1;
    auto on_bucket = [&](T* bucket, std::size_t m, std::size_t b) {
        if constexpr (Traits::kSmallNonNegativeAsU64) {
            if (top_level && step.level == 0 && b == kI64SmallNonNegativeBucket) {
                detail::sort_i64_one_sign_bucket(bucket, m);
                return;
            }
        }
        if (check_depth == 0) {
            rollercoaster_rec<Traits>(bucket, m, child, 0, false);
            return;
        }
        switch (check_order<Traits>(bucket, m)) {
            case Order::Ascending: break;
            case Order::Descending: std::reverse(bucket, bucket + m); break;
            case Order::Neither: rollercoaster_rec<Traits>(bucket, m, child, check_depth - 1, false); break;
        }
    };
    msd_step<Traits>(v, n, step, on_bucket, counted);
}

// Keys read, at an even stride, to judge a short slice for the in-cache radix sort.
inline constexpr std::size_t kShortSplitSample = 64;
// Distinct sampled top digits from which it takes the slice: a uniform sample shows about 57,
// keys of a few clusters (normal values of both signs: two) a handful.
inline constexpr unsigned kShortSplitMinDistinct = 32;

// Whether the in-cache radix sort (two LSD passes over the top bits in which keys differ,
// then an insertion sort) suits the short slice v[0, n) (n >= kShortSplitSample), judged on
// a sample: the byte from the first bit in which the sampled keys differ must take many
// values. Where it takes few, the passes leave long runs of equal prefixes for the
// insertion sort. The check costs about 220 TSC ticks, 2% of sorting 1000 elements.
// With min_width, keys that differ in no more than that many low bits do not count as
// spread either.
template <class Traits>
bool short_radix_splits_well(const typename Traits::value_type* v, std::size_t n, u64 min_width = 0) {
    const std::size_t stride = n / kShortSplitSample;
    u64 keys[kShortSplitSample];
    u64 spread = 0;
    const u64 first = Traits::to_key(v[0]);
    for (std::size_t i = 0; i < kShortSplitSample; ++i) {
        keys[i] = Traits::to_key(v[i * stride]);
        spread |= keys[i] ^ first;
    }
    if (spread == 0 || static_cast<u64>(std::bit_width(spread)) <= min_width) return false;
    const int top = std::countl_zero(spread);
    u64 seen[kByteRadixRange / 64] = {};
    for (u64 key : keys) {
        const u64 digit = (key << top) >> (64 - kByteRadix);
        seen[digit / 64] |= u64{1} << (digit % 64);
    }
    unsigned distinct = 0;
    for (u64 word : seen) distinct += static_cast<unsigned>(std::popcount(word));
    return distinct >= kShortSplitMinDistinct;
}

// Sorts v[0, n) (n <= kRollercoasterSmallMax) by the in-cache sort alone, after one scan
// for the keys' width and spread: for slices whose keys are known to spread evenly.
template <class Traits>
void rollercoaster_short(typename Traits::value_type* v, std::size_t n) {
    if (n == 0) return;
    const KeyScan scan = key_bits_and_spread<Traits>(v, n, Traits::to_key(v[0]));
    if (scan.spread == 0) return;  // every key the same
    Params p = width_aligned_params(scan.bits);
    p.level = first_differing_level(p, scan.spread);
    rollercoaster_small<Traits>(v, n, p, scan.spread);
}

// Sorts v[0, n) with 8-bit digits.
template <class Traits>
void rollercoaster_sort(typename Traits::value_type* v, std::size_t n) {
    if (n <= kRadixComparisonMax) {
        comparison_sort<Traits>(v, n);
        return;
    }
    // A slice that fits the in-cache sort and whose sampled keys spread evenly from their
    // first differing bit is sorted there at once when more than kRollercoasterLsdLevelsMax
    // levels remain: its two LSD passes stream through a buffer, where the in-place top step
    // swaps element by element (TSC ticks per element at 10^5: int64 full range 11.0 against
    // 18.0, 44-bit keys 10.2 against 13.9). Its width scan needs no top-byte histogram, which
    // at 10^4 costs 7% of the sort. Keys of three levels or fewer are split first (the top
    // step leaves two passes per bucket instead of three), clustered keys too.
    if (n <= kRollercoasterSmallMax && short_radix_splits_well<Traits>(v, n, kRollercoasterLsdLevelsMax * kByteRadix)) {
        const KeyScan scan = key_bits_and_spread<Traits>(v, n, Traits::to_key(v[0]));
        if (scan.spread == 0) return;  // every key the same
        if (counting_sort_fits(n, scan.spread)) {
            counting_sort<Traits>(v, n, spread_plan(Traits::to_key(v[0]), scan.spread));
            return;
        }
        Params p = width_aligned_params(scan.bits);
        const u64 top_level = p.level;
        p.level = first_differing_level(p, scan.spread);
        if (p.max_level - p.level > kRollercoasterLsdLevelsMax) {
            rollercoaster_small<Traits>(v, n, p, scan.spread);
            return;
        }
        p.level = top_level;
        rollercoaster_rec<Traits>(v, n, p, kRollercoasterCheckDepth, true);
        return;
    }
    // The first step's histogram is counted during the width scan, on the level a sample
    // predicts: the first whose byte the sampled keys do not all share. Long slices of keys
    // that share their top bytes (non-negative ids, timestamps) start there, skipping the
    // steps that would move nothing and the histogram pass of the first one that moves
    // anything. Short slices keep the top step, which hands non-negative int64 keys to the
    // u64 sorts: their DLSD passes beat MSD steps on few elements (int64 in [0, 1000) at
    // 10^4, Intel Xeon model 207: 2.3 against 4.8 ns per element).
    const bool skip_shared = n > kRollercoasterSmallMax;
    auto first_step = [skip_shared](const KeyScan& keys) {
        return skip_shared && keys.spread != 0 ? spread_aligned_params(keys.spread) : width_aligned_params(keys.bits);
    };
    const Params guess = first_step(detail::sampled_key_scan<Traits>(v, n));
    u64 counts[kByteRadixRange];
    const KeyScan scan = key_bits_and_counts<Traits>(v, n, top_aligned_digit(guess, 0), counts);
    if (scan.spread == 0) return;  // every key the same
    // Keys in a narrow range (small integers) are counted rather than split.
    if (counting_sort_fits(n, scan.spread)) {
        counting_sort<Traits>(v, n, spread_plan(Traits::to_key(v[0]), scan.spread));
        return;
    }
    const Params p = first_step(scan);
    const bool counted = p.offset == guess.offset;
    rollercoaster_rec<Traits>(v, n, p, kRollercoasterCheckDepth, true, counted ? counts : nullptr);
}

}  // namespace tamarind
