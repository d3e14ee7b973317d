// Nearly sorted data (a sorted array after a few random exchanges or insertions) defeats
// both run detection, whose runs end at every misplaced element, and the quicksort's repair
// of a few out-of-order pairs. Here one pass lifts out the elements that break the order,
// leaving the rest ascending at the front; the few lifted ones are sorted on their own and
// merged back from the end. Each descent lifts one element: the one read, or the one kept
// before it, whichever does not fit the order. The lifted elements live in a buffer of
// bounded size; the pass gives up, with every element back in the slice, once they would
// overflow it, so data that is not nearly sorted costs at most part of one pass.
#pragma once

#include <algorithm>
#include <cstddef>
#include <type_traits>
#include <utility>

#include "traits/traits.hpp"
#include "types/scratch.hpp"

namespace tamarind {

// Slices shorter than this are left to the sorts: they finish them about as fast.
inline constexpr std::size_t kLiftMin = 256;
// Adjacent pairs sampled, at an even stride, before the pass; a slice goes on only when at
// most kLiftSampleDescents of them descend (and at least one does: a sorted slice is the
// sorts' order scan's, which reads without writing).
inline constexpr std::size_t kLiftSample = 128;
inline constexpr std::size_t kLiftSampleDescents = kLiftSample / 16;
// Most elements lifted from one slice: a 512 KiB buffer of 64-bit elements. A bound in
// elements rather than a share of the slice keeps the scratch memory small at every length.
inline constexpr std::size_t kLiftMax = std::size_t{1} << 16;
// Most elements lifted one after another before the pass gives up.
inline constexpr std::size_t kLiftsInARowMax = 8;

namespace detail {

// A value that orders as Traits does under plain <, read once per element: floats in key
// order as signed integers (so the hot loops compare each element's key once), others as
// they are.
template <class Traits>
auto order_key(typename Traits::value_type x) noexcept {
    if constexpr (std::is_same_v<Traits, F64KeyOrderTraits>) return F64KeyMap::signed_key(x);
    else return x;
}

// Whether a sample of adjacent pairs of v[0, n) looks nearly sorted: some descents, few.
template <class Traits>
bool looks_nearly_sorted(const typename Traits::value_type* v, std::size_t n) noexcept {
    const std::size_t stride = (n - 1) / kLiftSample;
    std::size_t descents = 0;
    for (std::size_t i = 0; i < kLiftSample && descents <= kLiftSampleDescents; ++i) {
        const std::size_t j = i * stride;
        descents += Traits::less(v[j + 1], v[j]);
    }
    return descents != 0 && descents <= kLiftSampleDescents;
}

// Lifted elements, written back into the slice's free tail if a sort of them throws.
template <class T>
struct LiftedGuard {
    const T* lifted;
    std::size_t count;
    T* tail;
    bool armed = true;
    ~LiftedGuard() {
        if (armed) std::copy(lifted, lifted + count, tail);
    }
};

}  // namespace detail

// Sorts v[0, n) by lifting out the elements that break its order, sorting them with
// sort_lifted(buffer, m) and merging them back; returns true when done. Returns false, with
// v a permutation of its input, when v does not look nearly sorted or too many elements
// would be lifted; the caller then sorts v as it would have. Traits::less must be a total
// order on v (no NaN under an IEEE order).
template <class Traits, class SortLifted>
bool lift_and_merge(typename Traits::value_type* v, std::size_t n, SortLifted&& sort_lifted) {
    using T = typename Traits::value_type;
    if (n < kLiftMin || !detail::looks_nearly_sorted<Traits>(v, n)) return false;
    const std::size_t cap = std::min(n / 8, kLiftMax);
    auto key_of = [](T a) { return detail::order_key<Traits>(a); };
    // The ascending prefix stays where it is, unread by the pass.
    std::size_t k = 1;
    while (k < n && !(key_of(v[k]) < key_of(v[k - 1]))) ++k;
    ScratchBuffer<T> buffer(cap);
    T* const lifted = buffer.get();
    std::size_t m = 0;  // elements lifted
    // v[0, k) is ascending (k >= 1), and everything read so far is in it or in lifted[0, m).
    std::size_t lifts_in_a_row = 0;
    auto top = key_of(v[k - 1]);  // key of the kept top, v[k - 1]
    for (std::size_t i = k; i < n; ++i) {
        const T x = v[i];
        const auto key = key_of(x);
        if (!(key < top)) {
            v[k++] = x;
            top = key;
            lifts_in_a_row = 0;
            continue;
        }
        // Lifts in a row mean a stretch that does not fit the kept order (a second run,
        // not a misplaced element): this slice is not nearly sorted. Giving up, the lifted
        // elements fill the gap the pass has opened.
        if (m + 2 > cap || ++lifts_in_a_row > kLiftsInARowMax) {
            std::copy(lifted, lifted + m, v + k);
            return false;
        }
        // x fits after the element below the kept top: the top is the misplaced one (a
        // large element moved forward). x is, when the next element fits after the top (a
        // small element moved back). Otherwise both go, which clears any number of
        // misplaced elements at the top of the kept ones, one per step.
        if (k == 1 || !(key < key_of(v[k - 2]))) {
            lifted[m++] = v[k - 1];
            v[k - 1] = x;
            top = key;
        } else if (i + 1 < n && !(key_of(v[i + 1]) < top)) {
            lifted[m++] = x;
        } else {
            lifted[m++] = v[--k];
            lifted[m++] = x;
            top = key_of(v[k - 1]);
        }
    }
    {
        detail::LiftedGuard<T> guard{lifted, m, v + k};
        sort_lifted(lifted, m);
        guard.armed = false;
    }
    // Merge from the back: the write position stays ahead of the read position in v by the
    // number of lifted elements not yet placed, so nothing unread is overwritten.
    std::size_t out = n;
    std::size_t j = m;
    while (j > 0) {
        const T y = lifted[j - 1];
        const auto key = key_of(y);
        while (k > 0 && key < key_of(v[k - 1])) v[--out] = v[--k];
        v[--out] = y;
        --j;
    }
    return true;
}

// A fallback that tries lift_and_merge on a stretch first, sorting the lifted elements
// and any other stretch with sort(chunk, m).
template <class Traits, class Fallback>
struct LiftFirst {
    Fallback sort;

    void operator()(typename Traits::value_type* chunk, std::size_t m) {
        if (!lift_and_merge<Traits>(chunk, m, sort)) sort(chunk, m);
    }
};

template <class Traits, class Fallback>
LiftFirst<Traits, Fallback> lift_first(Fallback sort) {
    return {std::move(sort)};
}

}  // namespace tamarind
