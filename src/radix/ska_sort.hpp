// In-place bucket permutation by repeated swap passes: the partition of every in-place MSD
// step (msd_step of voracious_sort and rollercoaster_sort, and each chunk of peeka_sort's
// levels). Works on one chunk with its own heads and tails, so several threads may run it
// at once on disjoint chunks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "radix/block_distribution.hpp"
#include "radix/four_way_counts.hpp"
#include "radix/histograms.hpp"
#include "traits/traits.hpp"
#include "types/params.hpp"

namespace tamarind {

// Permutes v in place so that every bucket d, [heads[d], tails[d]) on entry, holds exactly
// the elements x with digit_of(x) == d. heads serve as write cursors and are left changed.
// Not stable. digit_of comes by value: a closure behind a reference could alias the
// elements, and its fields would be reloaded after every swap (2% of a 10^6 sort).
template <class T, class DigitOf>
void ska_swap_by(T* v, u64* heads, const u64* tails, std::size_t range, DigitOf digit_of) {
    struct Entry {
        u64 bucket;
        u64 size;
    };
    std::vector<Entry> list(range);
    for (std::size_t d = 0; d < range; ++d) list[d] = {d, tails[d] - heads[d]};
    // The largest bucket goes last and is never walked: once all others are complete, it is.
    std::sort(list.begin(), list.end(),
              [](const Entry& a, const Entry& b) { return a.size < b.size; });
    // Empty buckets are finished from the start; dropping them now saves a pass over them.
    std::size_t first = 0;
    while (first < list.size() && list[first].size == 0) ++first;
    list.erase(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(first));

    while (list.size() > 1) {
        // Advance every cursor, the largest bucket's included, over elements already in
        // place. Without this, one stray element in a small bucket pulls a single element
        // out of a dominant bucket per pass, and a skewed slice costs one pass per element.
        for (const Entry& entry : list) {
            const u64 d = entry.bucket;
            u64 h = heads[d];
            const u64 end = tails[d];
            while (h < end && digit_of(v[h]) == d) ++h;
            heads[d] = h;
        }
        std::size_t kept = list.size() - 1;  // entries [kept, size) survive the pass
        for (std::size_t idx = list.size() - 1; idx-- > 0;) {
            const u64 d = list[idx].bucket;
            u64 i = heads[d];
            const u64 end = tails[d];
            if (i == end) continue;  // finished: dropped below
            list[--kept] = list[idx];
            // Digits of four elements are read before their four exchanges: every target
            // heads[e] lies either in another bucket or at or before the current position,
            // so none of the four elements is moved before its own exchange.
            for (; i + 4 <= end; i += 4) {
                const u64 e0 = digit_of(v[i]);
                const u64 e1 = digit_of(v[i + 1]);
                const u64 e2 = digit_of(v[i + 2]);
                const u64 e3 = digit_of(v[i + 3]);
                std::swap(v[i], v[heads[e0]++]);
                std::swap(v[i + 1], v[heads[e1]++]);
                std::swap(v[i + 2], v[heads[e2]++]);
                std::swap(v[i + 3], v[heads[e3]++]);
            }
            for (; i < end; ++i) std::swap(v[i], v[heads[digit_of(v[i])]++]);
        }
        list.erase(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(kept));
    }
}

// ska_swap_by on the digit `digit` of each element's key.
template <class Traits>
void ska_swap(typename Traits::value_type* v, u64* heads, const u64* tails, std::size_t range,
              Digit digit) {
    const u64 mask = digit.mask;
    const u64 shift = digit.shift;
    ska_swap_by(v, heads, tails, range,
                [mask, shift](const typename Traits::value_type& x) { return (Traits::to_key(x) & mask) >> shift; });
}

// Slices from this long, split into at least two buckets, are checked for buckets that
// hold a single key (few distinct values): such a bucket's region is written from its key
// rather than exchanged, and needs no further sort.
inline constexpr std::size_t kUniformBucketsMin = 4096;
// Leading elements whose keys are compared with their bucket's first key before the check
// runs over the whole slice...
inline constexpr std::size_t kUniformSampleSize = 512;
// ...which it does only while at most this many of them differ from it.
inline constexpr std::size_t kUniformSampleMisses = 128;
// fill_partition runs while the buckets of several keys hold at most 1/this of the slice.
inline constexpr std::size_t kFillOthersMaxShare = 8;

// The buckets of one key among those counted in `counts`: uniform[d] says whether every
// element of digit d has key keys[d].
struct UniformBuckets {
    u64 keys[kMaxRadixRange];
    bool uniform[kMaxRadixRange];
    u64 others;  // elements in the other buckets
};

// Fills u for v[0, n) and returns true when some bucket holds a single key; false (u
// unspecified) when none does or a sample of the slice says none is likely to.
template <class Traits>
bool find_uniform_buckets(const typename Traits::value_type* v, std::size_t n, const u64* counts,
                          std::size_t range, Digit digit, UniformBuckets& u) {
    if (n < kUniformBucketsMin || range > kMaxRadixRange) return false;
    std::size_t used = 0;
    for (std::size_t d = 0; d < range; ++d) used += counts[d] != 0;
    if (used < 2) return false;
    const u64 mask = digit.mask;
    const u64 shift = digit.shift;
    bool seen[kMaxRadixRange] = {};
    std::fill_n(u.keys, range, u64{0});  // an unsampled bucket is uniform only if all its keys are 0
    std::size_t misses = 0;
    for (std::size_t i = 0; i < kUniformSampleSize; ++i) {
        const u64 k = Traits::to_key(v[i]);
        const u64 d = (k & mask) >> shift;
        if (!seen[d]) {
            seen[d] = true;
            u.keys[d] = k;
        }
        misses += k != u.keys[d];
    }
    if (misses > kUniformSampleMisses) return false;
    // Bits on which a key differs from its bucket's, in four tables against store stalls;
    // the sweep gives up, block by block, once no bucket in use can still be uniform.
    u64 diff[4][kMaxRadixRange] = {};
    constexpr std::size_t kBlock = 1 << 14;
    for (std::size_t start = 0; start < n; start += kBlock) {
        visit_four_ways(start, std::min(n, start + kBlock), [&](std::size_t i, std::size_t w) {
            const u64 k = Traits::to_key(v[i]);
            const u64 d = (k & mask) >> shift;
            diff[w][d] |= k ^ u.keys[d];
        });
        bool any = false;
        u.others = 0;
        for (std::size_t d = 0; d < range; ++d) {
            u.uniform[d] = counts[d] != 0 && (diff[0][d] | diff[1][d] | diff[2][d] | diff[3][d]) == 0;
            any |= u.uniform[d];
            if (!u.uniform[d]) u.others += counts[d];
        }
        if (!any) return false;
    }
    return true;
}

// ska_partition when u names the buckets of one key (find_uniform_buckets): the elements
// found in those buckets' regions are read once, those of other buckets among them sent
// on (chasing what they displace) into their own regions, and each such region is then
// written with its key; only the regions of the other buckets are left to ska_swap, and
// by then they hold exactly those buckets' elements. Each element of another bucket found
// there costs a dependent chain of loads, so this pays only while they are few
// (kFillOthersMaxShare).
template <class Traits>
void fill_partition(typename Traits::value_type* v, const u64* counts, u64* sums, std::size_t range,
                    Digit digit, const UniformBuckets& u) {
    using T = typename Traits::value_type;
    prefix_sums_into(counts, range, sums);
    u64 heads[kMaxRadixRange];
    std::copy(sums, sums + range, heads);
    const u64 mask = digit.mask;
    const u64 shift = digit.shift;
    auto digit_of = [&](T x) { return (Traits::to_key(x) & mask) >> shift; };
    for (std::size_t d = 0; d < range; ++d) {
        if (!u.uniform[d]) continue;
        const T value = Traits::from_key(u.keys[d]);
        for (u64 i = sums[d]; i < sums[d + 1]; ++i) {
            T x = v[i];
            u64 e = digit_of(x);
            while (!u.uniform[e]) {
                // Some slot of region e holds another bucket's element while x is outside.
                u64 h = heads[e];
                while (digit_of(v[h]) == e) ++h;
                const T y = v[h];
                v[h] = x;
                heads[e] = h + 1;
                x = y;
                e = digit_of(x);
            }
            v[i] = value;
        }
        heads[d] = sums[d + 1];
    }
    ska_swap<Traits>(v, heads, sums + 1, range, digit);
}

// One in-place MSD step: counts is the histogram of v's digits; afterwards bucket b is
// v[sums[b], sums[b + 1]) and holds exactly the elements of digit b. sums has range + 1
// entries.
template <class Traits>
void ska_partition(typename Traits::value_type* v, const u64* counts, u64* sums, std::size_t range,
                   Digit digit) {
    prefix_sums_into(counts, range, sums);
    if (sums[range] >= block_distribution_min() && range <= kDistributionMaxBuckets) {
        const u64 mask = digit.mask;
        const u64 shift = digit.shift;
        block_distribute(v, sums[range], sums, range,
                         [mask, shift](const typename Traits::value_type& x) { return (Traits::to_key(x) & mask) >> shift; });
        return;
    }
    u64 heads[kMaxRadixRange];
    std::copy(sums, sums + range, heads);
    ska_swap<Traits>(v, heads, sums + 1, range, digit);
}

// Counts the digit of v[0, n) into counts (range counters) and partitions v by it in
// place; sums as for ska_partition.
template <class Traits>
void count_and_partition(typename Traits::value_type* v, std::size_t n, u64* counts, u64* sums,
                         std::size_t range, Digit digit) {
    digit_histogram<Traits>(v, n, counts, range, digit);
    ska_partition<Traits>(v, counts, sums, range, digit);
}

// The one-level MSD step of the in-place sorts: partitions v[0, n) by the top-aligned digit
// of p.level (counted is that digit's histogram when the caller has it already), then,
// unless p.level is the last level, calls on_bucket(bucket, m, b) for every bucket b of
// m >= 2 elements, in digit order.
template <class Traits, class OnBucket>
void msd_step(typename Traits::value_type* v, std::size_t n, const Params& p, OnBucket&& on_bucket,
              const u64* counted = nullptr) {
    const Digit digit = top_aligned_digit(p, p.level);
    const std::size_t range = p.radix_range;
    std::vector<u64> arrays(2 * range + 1);
    u64* counts = arrays.data();
    u64* sums = counts + range;
    if (counted)
        std::copy(counted, counted + range, counts);
    else
        digit_histogram<Traits>(v, n, counts, range, digit);
    UniformBuckets uniform;
    const bool some_uniform = find_uniform_buckets<Traits>(v, n, counts, range, digit, uniform);
    if (some_uniform && uniform.others <= n / kFillOthersMaxShare)
        fill_partition<Traits>(v, counts, sums, range, digit, uniform);
    else
        ska_partition<Traits>(v, counts, sums, range, digit);
    if (p.level + 1 >= p.max_level) return;
    for (std::size_t b = 0; b < range; ++b) {
        if (counts[b] < 2) continue;
        // A bucket of one key is in order.
        if (some_uniform && uniform.uniform[b]) continue;
        on_bucket(v + sums[b], static_cast<std::size_t>(counts[b]), b);
    }
}

}  // namespace tamarind
