// MSD radix sort whose first step cuts the keys at sampled quantiles rather than at a digit.
// It is for keys whose top bits cluster: float64 values as ordered integers, whose sign and
// exponent put most of a normal or lognormal sample into a few values of any byte digit, so
// that digit steps pay whole passes for little and the quicksort wins. Here the 16 key bits
// below the shared prefix (sign, exponent and the top mantissa bits of such floats) index a
// table that maps them, in key order, to kSampledBuckets buckets of about equal share of a
// sample. One histogram pass and one in-place partition by that table leave buckets that
// each span a narrow key range over which the keys spread evenly, the in-cache radix sort's
// best case. It runs on sort_f64_st's float stretches up to the row's f64_sampled_max elements
// whose digits split them badly (from the crossing row's st_f64_sampled) or whose digit steps
// would need a second level (from its st_f64_sampled_over_digits); parallel_sampled_msd_sort runs its step
// on a pool for sort_f64.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "comparison/comparison_sort.hpp"
#include "radix/block_distribution.hpp"
#include "radix/four_way_counts.hpp"
#include "radix/histograms.hpp"
#include "radix/key_scan.hpp"
#include "radix/rollercoaster_sort.hpp"
#include "radix/ska_sort.hpp"
#include "traits/traits.hpp"

namespace tamarind {

// Buckets of the sampled step; the table holds their numbers as bytes.
inline constexpr std::size_t kSampledBuckets = 256;
// Keys sampled, at an even stride, to place the cuts: 16 per bucket.
inline constexpr std::size_t kSampledKeys = 4096;
// Key bits below the shared prefix that index the table. For float64 that is the sign, the
// exponent and four mantissa bits: the most frequent index of a normal sample then holds
// about 1% of it, and a bucket that one index fills is split further by its own digits.
inline constexpr u64 kSampledIndexBits = 16;
// Slices shorter than this are left to rollercoaster_sort: below it the sample and the
// table cost more than the step saves.
inline constexpr std::size_t kSampledMsdMin = 16 * kSampledKeys;

namespace detail {

// table[i] = the bucket of index i: the number of cuts at or below i, where cut b (b = 1 ..
// buckets - 1) is the index of the sampled key of rank b * count / buckets (rounded up).
// Non-decreasing in i, so the buckets partition the keys in order.
inline void fill_quantile_table(const u64* sorted_indices, std::size_t count, std::uint8_t* table) {
    std::size_t from = 0;
    for (std::size_t b = 1; b < kSampledBuckets; ++b) {
        const std::size_t cut = sorted_indices[(b * count + kSampledBuckets - 1) / kSampledBuckets];
        if (cut > from) {
            std::fill(table + from, table + cut, static_cast<std::uint8_t>(b - 1));
            from = cut;
        }
    }
    std::fill(table + from, table + (std::size_t{1} << kSampledIndexBits),
              static_cast<std::uint8_t>(kSampledBuckets - 1));
}

}  // namespace detail

// The sampled step's map from a key to its bucket, for a slice whose keys differ in the bits
// of `spread` (non-zero), built from a sample of the slice.
class QuantileBuckets {
public:
    template <class Traits>
    static QuantileBuckets of_sample(const typename Traits::value_type* v, std::size_t n, u64 spread) {
        QuantileBuckets q(std::countl_zero(spread));
        std::vector<u64> sample(kSampledKeys);
        const std::size_t stride = n / kSampledKeys;
        for (std::size_t i = 0; i < kSampledKeys; ++i) sample[i] = Traits::to_key(v[i * stride]);
        // Keys and their indices share an order, so sorting the keys sorts the indices.
        comparison_sort<U64Traits>(sample.data(), kSampledKeys);
        for (u64& key : sample) key = q.index_of(key);
        detail::fill_quantile_table(sample.data(), kSampledKeys, q.table_.data());
        return q;
    }

    // A small closure (table and shift by value) that maps an element to its bucket.
    template <class Traits>
    auto bucket_of() const noexcept {
        const std::uint8_t* table = table_.data();
        const int shared = shared_;
        return [table, shared](const typename Traits::value_type& x) -> u64 {
            return table[(Traits::to_key(x) << shared) >> (64 - kSampledIndexBits)];
        };
    }

private:
    explicit QuantileBuckets(int shared) : shared_(shared), table_(std::size_t{1} << kSampledIndexBits) {}
    u64 index_of(u64 key) const noexcept { return (key << shared_) >> (64 - kSampledIndexBits); }

    int shared_;                       // leading key bits every key shares
    std::vector<std::uint8_t> table_;  // bucket of each index
};

namespace detail {

// Sorts one bucket of the sampled step (m >= 2). The in-cache sort's repair hands on any
// cluster its passes leave unsorted; a bucket past its bound, which one heavy index filled,
// is split by its own digits.
template <class Traits>
void sort_sampled_bucket(typename Traits::value_type* v, std::size_t m) {
    if (m <= kRollercoasterSmallMax)
        rollercoaster_short<Traits>(v, m);
    else
        rollercoaster_sort<Traits>(v, m);
}

// Counts the buckets of v[0, n) into counts (kSampledBuckets of them) and groups v by them
// in place, bucket 0 first; sums as for ska_partition.
template <class T, class BucketOf>
void partition_by_buckets(T* v, std::size_t n, BucketOf bucket_of, u64* counts, u64* sums) {
    if (n >= block_distribution_min()) {
        block_distribute_counting(v, n, kSampledBuckets, bucket_of, counts, sums);
        return;
    }
    u64 tables[4 * kSampledBuckets] = {};
    count_four_ways(tables, kSampledBuckets, 0, n, [&](std::size_t i) { return bucket_of(v[i]); });
    sum_four_ways(tables, kSampledBuckets, kSampledBuckets, counts);
    prefix_sums_into(counts, kSampledBuckets, sums);
    u64 heads[kSampledBuckets];
    std::copy(sums, sums + kSampledBuckets, heads);
    ska_swap_by(v, heads, sums + 1, kSampledBuckets, bucket_of);
}

}  // namespace detail

// Sorts v[0, n) (n >= kSampledMsdMin) whose keys differ in the bits of `spread` (the OR of
// every key XOR the first), as a caller that converted the slice found it on the way.
template <class Traits>
void sampled_msd_sort(typename Traits::value_type* v, std::size_t n, u64 spread) {
    if (spread == 0) return;  // every key the same
    const QuantileBuckets buckets = QuantileBuckets::of_sample<Traits>(v, n, spread);
    u64 counts[kSampledBuckets];
    u64 sums[kSampledBuckets + 1];
    detail::partition_by_buckets(v, n, buckets.bucket_of<Traits>(), counts, sums);
    for (std::size_t b = 0; b < kSampledBuckets; ++b)
        if (counts[b] >= 2) detail::sort_sampled_bucket<Traits>(v + sums[b], counts[b]);
}

// Sorts v[0, n).
template <class Traits>
void sampled_msd_sort(typename Traits::value_type* v, std::size_t n) {
    if (n < kSampledMsdMin) {
        rollercoaster_sort<Traits>(v, n);
        return;
    }
    sampled_msd_sort<Traits>(v, n, key_bits_and_spread<Traits>(v, n, Traits::to_key(v[0])).spread);
}

}  // namespace tamarind
