// In-place bucket permutation by repeated swap passes (the splitting step of the MSD
// sorts). Works on one chunk with its own heads and tails, so several threads may run
// it at once on disjoint chunks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "sorts/histograms.hpp"
#include "traits/traits.hpp"
#include "types/params.hpp"

namespace tamarind {

// Permutes v in place so that every bucket d, [heads[d], tails[d]) on entry, holds exactly
// the elements whose digit is d. heads serve as write cursors and are left changed.
// Not stable.
template <class Traits>
void ska_swap(typename Traits::value_type* v, u64* heads, const u64* tails, std::size_t range,
              Digit digit) {
    using T = typename Traits::value_type;
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

    const u64 mask = digit.mask;
    const u64 shift = digit.shift;
    auto digit_of = [&](const T& x) { return (Traits::to_key(x) & mask) >> shift; };

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

// One in-place MSD step: counts is the histogram of v's digits; afterwards bucket b is
// v[sums[b], sums[b + 1]) and holds exactly the elements of digit b. sums has range + 1
// entries.
template <class Traits>
void ska_partition(typename Traits::value_type* v, const u64* counts, u64* sums, std::size_t range,
                   Digit digit) {
    prefix_sums_into(counts, range, sums);
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
    if (counted) {
        std::copy(counted, counted + range, counts);
        ska_partition<Traits>(v, counts, sums, range, digit);
    } else {
        count_and_partition<Traits>(v, n, counts, sums, range, digit);
    }
    if (p.level + 1 >= p.max_level) return;
    for (std::size_t b = 0; b < range; ++b)
        if (counts[b] >= 2) on_bucket(v + sums[b], static_cast<std::size_t>(counts[b]), b);
}

}  // namespace tamarind
