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

// Merges the ascending stretches x[start, mid) and x[mid, end) through buf, which must
// hold the shorter of the two.
template <class Traits>
void merge_runs(typename Traits::value_type* x, typename Traits::value_type* buf, std::size_t start,
                std::size_t mid, std::size_t end) noexcept {
    if (start < mid && mid < end && Traits::less_equal(x[mid - 1], x[mid])) return;
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

// Merges the stretches between consecutive boundaries into one ascending x[0, n) and
// shortens boundaries to [0, n).
template <class Traits>
void k_way_merge(typename Traits::value_type* x, std::size_t n, std::vector<u64>& boundaries) {
    using T = typename Traits::value_type;
    if (boundaries.size() < 3) return;
    if (boundaries.size() == 3) {
        const std::size_t a = boundaries[0], b = boundaries[1], c = boundaries[2];
        ScratchBuffer<T> buf(std::min(b - a, c - b));
        merge_runs<Traits>(x, buf.get(), a, b, c);
        boundaries.erase(boundaries.begin() + 1);
        return;
    }
    ScratchBuffer<T> buf(n / 2 + 2);
    while (boundaries.size() >= 3) {
        const std::size_t pairs = (boundaries.size() - 1) / 2;
        for (std::size_t i = 0; i < pairs; ++i)
            merge_runs<Traits>(x, buf.get(), boundaries[2 * i], boundaries[2 * i + 1],
                               boundaries[2 * i + 2]);
        // Drop the entries at odd positions that separated the merged pairs.
        std::size_t w = 1;
        for (std::size_t k = 2; k < boundaries.size(); ++k)
            if (k % 2 == 0 || k > 2 * pairs) boundaries[w++] = boundaries[k];
        boundaries.resize(w);
    }
}

}  // namespace tamarind
