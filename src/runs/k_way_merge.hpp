// Pairwise, level-by-level merge of the ascending stretches that the pre-pass leaves.
// Comparisons are the traits' plain ones; the merge is stable (ties keep the
// left stretch first). The radix paths merge f64 as keys, so every comparison answers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

#include "types/element.hpp"
#include "types/scratch.hpp"

namespace tamarind {

// Whether the ascending stretches x[start, mid) and x[mid, end) are already in order as one.
template <class Traits>
bool already_merged(const typename Traits::value_type* x, std::size_t start, std::size_t mid, std::size_t end) noexcept {
    return start == mid || mid == end || Traits::less_equal(x[mid - 1], x[mid]);
}

// Merges the ascending stretches x[start, mid) and x[mid, end) through buf, which must
// hold the shorter of the two.
template <class Traits>
void merge_runs(typename Traits::value_type* x, typename Traits::value_type* buf, std::size_t start,
                std::size_t mid, std::size_t end) noexcept {
    const std::size_t left = mid - start;
    const std::size_t right = end - mid;
    if (left > right) {
        // Back merge: the right stretch waits in the buffer.
        std::copy(x + mid, x + end, buf);
        std::size_t out = end;
        std::size_t li = mid;   // left elements [start, li) unmerged
        std::size_t bi = right; // buffer elements [0, bi) unmerged
        while (bi > 0 && li > start) {
            const auto b = buf[bi - 1];
            const auto l = x[li - 1];
            const bool take_buf = Traits::less_equal(l, b);
            x[--out] = take_buf ? b : l;
            bi -= take_buf;
            li -= !take_buf;
        }
        std::copy(buf, buf + bi, x + start);
    } else {
        // Front merge: the left stretch waits in the buffer.
        std::copy(x + start, x + mid, buf);
        std::size_t out = start;
        std::size_t bi = 0;     // buffer elements [bi, left) unmerged
        std::size_t ri = mid;   // right elements [ri, end) unmerged
        while (bi < left && ri < end) {
            const auto b = buf[bi];
            const auto r = x[ri];
            const bool take_buf = Traits::less_equal(b, r);
            x[out++] = take_buf ? b : r;
            bi += take_buf;
            ri += !take_buf;
        }
        std::copy(buf + bi, buf + left, x + out);
    }
}

// Rounds of the two-ended merge shorter than this are left to the one-ended loop.
inline constexpr std::size_t kBothEndsRoundMin = 8;
// Cuts merge_runs_split tries for one that fits its buffer.
inline constexpr std::size_t kSplitTries = 15;

// Merges the ascending stretches x[start, mid) and x[mid, end) through buf, which must hold
// both: they are copied out and merged back from both ends at once. Each step of a merge
// depends on the one before (the element taken decides the next load), so two ends make two
// independent chains and about twice the speed, for one more copy. The two-ended rounds take
// min(unmerged sides) / 2 steps, in which neither end can run out of a side; ties go to the
// left stretch at the front and to the right one at the back, as in one stable merge.
template <class Traits>
void merge_runs_both_ends(typename Traits::value_type* x, typename Traits::value_type* buf, std::size_t start,
                          std::size_t mid, std::size_t end) noexcept {
    const std::size_t left = mid - start;
    std::copy(x + start, x + end, buf);
    const auto* l = buf;
    const auto* r = buf + left;
    std::size_t li = 0, ri = 0, out = start;                             // front: next unmerged
    std::size_t lj = left, rj = end - mid, back = end;                    // back: ends of unmerged
    for (std::size_t steps; (steps = std::min(lj - li, rj - ri) / 2) >= kBothEndsRoundMin;) {
        for (std::size_t step = 0; step < steps; ++step) {
            const bool take_left = Traits::less_equal(l[li], r[ri]);
            x[out++] = take_left ? l[li] : r[ri];
            li += take_left;
            ri += !take_left;
            const bool take_left_back = Traits::less(r[rj - 1], l[lj - 1]);
            x[--back] = take_left_back ? l[lj - 1] : r[rj - 1];
            lj -= take_left_back;
            rj -= !take_left_back;
        }
    }
    while (li < lj && ri < rj) {
        const bool take_left = Traits::less_equal(l[li], r[ri]);
        x[out++] = take_left ? l[li] : r[ri];
        li += take_left;
        ri += !take_left;
    }
    std::copy(r + ri, r + rj, std::copy(l + li, l + lj, x + out));
}

// How many of A[0, a) lie among the first p elements of the stable merge of A[0, a) and
// B[0, b) (ties: A first), p <= a + b.
template <class Traits>
std::size_t co_rank(const typename Traits::value_type* A, std::size_t a, const typename Traits::value_type* B,
                    std::size_t b, std::size_t p) noexcept {
    std::size_t lo = p > b ? p - b : 0;
    std::size_t hi = std::min(p, a);
    while (lo < hi) {
        const std::size_t m = lo + (hi - lo) / 2;
        if (Traits::less_equal(A[m], B[p - m - 1])) lo = m + 1;
        else hi = m;
    }
    return lo;
}

// Merges A = x[start, mid) and B = x[mid, end) as two merges at once, cut where the merged
// output reaches start + p (about the middle): the first part (A[0, i) in place, B[0, j) from
// buf) from the back, the second (A[i, L) from buf, B[j, R) in place) from the front. The two
// touch disjoint memory, so their steps interleave as two independent chains. The buffer
// holds B[0, j) and A[i, L); returns false, having moved nothing, when that does not fit
// buf_len at any of a few cuts near the middle.
template <class Traits>
bool merge_runs_split(typename Traits::value_type* x, typename Traits::value_type* buf, std::size_t buf_len,
                      std::size_t start, std::size_t mid, std::size_t end) noexcept {
    using T = typename Traits::value_type;
    const std::size_t L = mid - start, R = end - mid, total = L + R;
    const T* const A = x + start;
    const T* const B = x + mid;
    std::size_t p = 0, i = 0, j = 0;
    bool fits = false;
    for (std::size_t k = 0; k < kSplitTries && !fits; ++k) {
        // Cuts at the middle, then alternately a little before and after it.
        const std::size_t shift = (k + 1) / 2 * (total / 32);
        p = k % 2 ? total / 2 - shift : total / 2 + shift;
        i = co_rank<Traits>(A, L, B, R, p);
        j = p - i;
        fits = j + (L - i) <= buf_len;
    }
    if (!fits) return false;
    std::copy(x + mid, x + mid + j, buf);
    std::copy(x + start + i, x + mid, buf + j);
    const T* const b1 = buf;       // B[0, j)
    const T* const a2 = buf + j;   // A[i, L)
    const std::size_t a2_len = L - i;
    T* const b2 = x + mid + j;     // B[j, R), in place
    const std::size_t b2_len = R - j;
    // Part 1 from the back: unmerged A[0, ai) and b1[0, bi) fill x[start, start + ai + bi).
    std::size_t ai = i, bi = j;
    // Part 2 from the front: a2[a, a2_len) and b2[b, b2_len) follow x[start + p + a + b).
    std::size_t a = 0, b = 0;
    auto step1 = [&] {
        const bool take_b = Traits::less_equal(A[ai - 1], b1[bi - 1]);
        x[start + ai + bi - 1] = take_b ? b1[bi - 1] : A[ai - 1];
        bi -= take_b;
        ai -= !take_b;
    };
    auto step2 = [&] {
        const bool take_a = Traits::less_equal(a2[a], b2[b]);
        x[start + p + a + b] = take_a ? a2[a] : b2[b];
        a += take_a;
        b += !take_a;
    };
    // In each round every side can lose at most one element per step, so none runs out.
    for (std::size_t steps; (steps = std::min({ai, bi, a2_len - a, b2_len - b})) >= kBothEndsRoundMin;) {
        for (std::size_t s = 0; s < steps; ++s) {
            step1();
            step2();
        }
    }
    while (ai > 0 && bi > 0) step1();
    while (a < a2_len && b < b2_len) step2();
    // Leftovers: part 1's A and part 2's B are already in place.
    std::copy(b1, b1 + bi, x + start);
    std::copy(a2 + a, a2 + a2_len, x + start + p + a + b);
    return true;
}

// Merges the stretches between consecutive boundaries into one ascending x[0, n) and
// shortens boundaries to [0, n).
template <class Traits>
void k_way_merge(typename Traits::value_type* x, std::size_t n, std::vector<u64>& boundaries) {
    using T = typename Traits::value_type;
    if (boundaries.size() < 3) return;
    if (boundaries.size() == 3) {
        const std::size_t a = boundaries[0], b = boundaries[1], c = boundaries[2];
        if (!already_merged<Traits>(x, a, b, c)) {
            ScratchBuffer<T> buf(std::min(b - a, c - b));
            merge_runs<Traits>(x, buf.get(), a, b, c);
        }
        boundaries.erase(boundaries.begin() + 1);
        return;
    }
    const std::size_t buf_len = n / 2 + 2;
    ScratchBuffer<T> buf(buf_len);
    while (boundaries.size() >= 3) {
        const std::size_t pairs = (boundaries.size() - 1) / 2;
        for (std::size_t i = 0; i < pairs; ++i) {
            const std::size_t start = boundaries[2 * i], mid = boundaries[2 * i + 1], end = boundaries[2 * i + 2];
            if (already_merged<Traits>(x, start, mid, end)) continue;
            // Pairs that fit the buffer together merge from both ends; the last level's
            // (the two halves of the array) is cut in two merges where the buffer allows.
            if (end - start <= buf_len)
                merge_runs_both_ends<Traits>(x, buf.get(), start, mid, end);
            else if (!merge_runs_split<Traits>(x, buf.get(), buf_len, start, mid, end))
                merge_runs<Traits>(x, buf.get(), start, mid, end);
        }
        // Drop the entries at odd positions that separated the merged pairs.
        std::size_t w = 1;
        for (std::size_t k = 2; k < boundaries.size(); ++k)
            if (k % 2 == 0 || k > 2 * pairs) boundaries[w++] = boundaries[k];
        boundaries.resize(w);
    }
}

}  // namespace tamarind
