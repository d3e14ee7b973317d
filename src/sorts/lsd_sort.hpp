// Least-significant-digit-first radix sort through one scratch buffer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>

#include "sorts/histograms.hpp"
#include "types/params.hpp"
#include "types/scratch.hpp"

namespace tamarind {

namespace detail {

// The LSD loop shared by lsd_sort and dlsd_core: for levels max_level - 1 down to
// p.level, one stable scatter per level whose histogram has two or more non-empty
// buckets, ping-ponging between v and buf; the result ends up back in v.
template <class Traits, class DigitOf>
void lsd_passes(typename Traits::value_type* v, typename Traits::value_type* buf, std::size_t n,
                const Params& p, const HistogramSet& h, DigitOf digit_of) {
    using T = typename Traits::value_type;
    T* from = v;
    T* to = buf;
    u64 heads[kMaxRadixRange + 1];
    std::unique_ptr<u64[]> wide_heads;
    u64* hd = heads;
    if (p.radix_range > kMaxRadixRange) {
        wide_heads.reset(new u64[p.radix_range + 1]);
        hd = wide_heads.get();
    }
    for (u64 level = p.max_level; level-- > p.level;) {
        const u64* counts = h[level];
        if (!level_needs_pass(counts, p.radix_range)) continue;
        const Digit digit = digit_of(level);
        prefix_sums_into(counts, p.radix_range, hd);
        scatter_by_digit<Traits>(from, to, n, hd, digit, p.radix_range);
        std::swap(from, to);
    }
    if (from != v) std::copy(from, from + n, v);
}

}  // namespace detail

// Sorts v[0, n) (n >= 1) by the bottom-aligned digits of levels p.max_level - 1 down to
// p.level. Needs 1 <= p.max_level <= 8 and p.radix_range == 2^p.radix.
template <class Traits>
void lsd_sort(typename Traits::value_type* v, std::size_t n, const Params& p) {
    using T = typename Traits::value_type;
    ScratchBuffer<T> buf(n);
    const HistogramSet h = full_histograms<Traits>(v, n, p);
    detail::lsd_passes<Traits>(v, buf.get(), n, p, h,
                               [&](u64 level) { return bottom_aligned_digit(p, level); });
}

}  // namespace tamarind
