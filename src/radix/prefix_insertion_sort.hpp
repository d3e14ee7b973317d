// The repair pass after the diverted LSD passes: an insertion sort over a slice that is
// already ordered by a key prefix. Small same-prefix groups are finished in place; a
// group that proves badly disordered is handed back as a bucket for a real sort.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "traits/traits.hpp"

namespace tamarind {

// A group is handed back once this many of its elements were found out of order (and at
// least this many of its elements remain from there on).
inline constexpr std::size_t kPrefixGroupBucketMin = 33;
// First forward or backward probe distance when looking for a group's bounds.
inline constexpr std::size_t kPrefixGallopFirst = 32;
// Second probe step; each later step doubles it.
inline constexpr std::size_t kPrefixGallopSecond = 64;

using BucketList = std::vector<std::pair<std::size_t, std::size_t>>;

namespace detail {

// Moves v[i] left past every greater element (Traits::greater, which never fails and is
// false for NaN, so a NaN neither moves nor lets anything pass it).
template <class Traits>
inline void insert_left(typename Traits::value_type* v, std::size_t i) noexcept {
    const auto held = v[i];
    std::size_t j = i;
    while (j > 0 && Traits::greater(v[j - 1], held)) {
        v[j] = v[j - 1];
        --j;
    }
    v[j] = held;
}

// First index in (lo, hi] whose prefix differs from g; v[lo] has prefix g, v[hi] not.
template <class Traits>
std::size_t first_other_prefix(const typename Traits::value_type* v, std::size_t lo,
                               std::size_t hi, u64 mask, u64 g) noexcept {
    while (hi - lo > 1) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if ((Traits::to_key(v[mid]) & mask) == g)
            lo = mid;
        else
            hi = mid;
    }
    return hi;
}

// One past the last element of prefix g, galloping forward from i (which has prefix g).
template <class Traits>
std::size_t group_end(const typename Traits::value_type* v, std::size_t n, std::size_t i,
                      u64 mask, u64 g) noexcept {
    auto prefix = [&](std::size_t k) { return Traits::to_key(v[k]) & mask; };
    std::size_t known = i;
    std::size_t probe = std::min(i + kPrefixGallopFirst, n - 1);
    std::size_t step = kPrefixGallopSecond;
    while (prefix(probe) == g) {
        known = probe;
        if (probe + step >= n) {
            if (prefix(n - 1) == g) return n;
            probe = n - 1;
            break;
        }
        probe += step;
        step *= 2;
    }
    return first_other_prefix<Traits>(v, known, probe, mask, g);
}

// First element of prefix g, galloping backward from i (which has prefix g).
template <class Traits>
std::size_t group_start(const typename Traits::value_type* v, std::size_t i, u64 mask,
                        u64 g) noexcept {
    auto prefix = [&](std::size_t k) { return Traits::to_key(v[k]) & mask; };
    std::size_t known = i;
    std::size_t probe = i < kPrefixGallopFirst ? 0 : i - kPrefixGallopFirst;
    std::size_t step = kPrefixGallopSecond;
    while (prefix(probe) == g) {
        known = probe;
        if (probe == 0) return 0;
        if (step >= probe) {
            if (prefix(0) == g) return 0;
            probe = 0;
            break;
        }
        probe -= step;
        step *= 2;
    }
    // v[probe] has another prefix and v[known] prefix g: find the first index with g.
    std::size_t lo = probe, hi = known;
    while (hi - lo > 1) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (prefix(mid) == g)
            hi = mid;
        else
            lo = mid;
    }
    return hi;
}

}  // namespace detail

// Sorts v[0, n) (n >= 2, ordered by key & mask) except for the returned buckets: same-
// prefix groups of at least kPrefixGroupBucketMin elements left for the caller to sort.
template <class Traits>
BucketList prefix_insertion_sort(typename Traits::value_type* v, std::size_t n, u64 mask) {
    BucketList buckets;
    u64 last = Traits::to_key(v[0]) & mask;
    std::size_t counter = 0;
    std::size_t i = 1;
    while (i < n) {
        if (!Traits::greater(v[i - 1], v[i])) {
            ++i;
            continue;
        }
        const u64 q = Traits::to_key(v[i]) & mask;
        counter = q == last ? counter + 1 : 1;
        last = q;
        detail::insert_left<Traits>(v, i);
        if (counter < kPrefixGroupBucketMin) {
            ++i;
            continue;
        }
        // The element that moved left kept its prefix, and v[i] now holds one of the
        // same group (moves never cross a group boundary), so i is inside group q.
        const std::size_t end = detail::group_end<Traits>(v, n, i, mask, q);
        if (end - i >= kPrefixGroupBucketMin) {
            buckets.emplace_back(detail::group_start<Traits>(v, i, mask, q), end);
        } else {
            for (std::size_t j = i + 1; j < end; ++j) detail::insert_left<Traits>(v, j);
        }
        i = end + 1;
    }
    return buckets;
}

}  // namespace tamarind
