// Least-significant-digit-first radix sort through one scratch buffer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

#include "radix/histograms.hpp"
#include "types/params.hpp"
#include "types/scratch.hpp"

namespace tamarind {

// LSD passes whose digits span at most this many key values (and no more than the slice
// length) are done by counting every key: keys and bit patterns correspond one to one, so
// the counts alone give the sorted slice, with no scatter and no scratch buffer.
inline constexpr u64 kCountingSpanMax = u64{1} << 16;
// Spans up to this many values are counted into four interleaved tables, so that runs of
// equal keys do not serialise on one counter.
inline constexpr u64 kCountingSplitSpanMax = 1024;

namespace detail {

// If the keys of v[0, n) all agree with v[0]'s outside the low bits `window` (a mask
// 2^b - 1) and lie within them in [base, base + span), where span is at most
// kCountingSpanMax and at most n, rewrites v in key order from a count of each key and
// returns true: what any sort by those bits leaves, since equal keys are equal elements.
// Otherwise returns false with v unchanged.
template <class Traits>
bool counting_sort_window(typename Traits::value_type* v, std::size_t n, u64 window, u64 base, u64 span) {
    if (n == 0 || span > kCountingSpanMax || span > n) return false;
    const u64 first = Traits::to_key(v[0]);
    const std::size_t ways = span <= kCountingSplitSpanMax ? 4 : 1;
    std::vector<u64> tables(ways * span);
    u64 outside = 0;  // bits on which some key differs from the first
    std::size_t i = 0;
    if (ways == 4) {
        u64* c = tables.data();
        for (; i + 4 <= n; i += 4) {
            const u64 k0 = Traits::to_key(v[i]), k1 = Traits::to_key(v[i + 1]);
            const u64 k2 = Traits::to_key(v[i + 2]), k3 = Traits::to_key(v[i + 3]);
            outside |= (k0 ^ first) | (k1 ^ first) | (k2 ^ first) | (k3 ^ first);
            const u64 d0 = (k0 & window) - base, d1 = (k1 & window) - base;
            const u64 d2 = (k2 & window) - base, d3 = (k3 & window) - base;
            // Checked before the counters are touched (offsets below base wrap to large).
            if ((d0 >= span) | (d1 >= span) | (d2 >= span) | (d3 >= span)) return false;
            ++c[d0];
            ++c[span + d1];
            ++c[2 * span + d2];
            ++c[3 * span + d3];
        }
    }
    for (; i < n; ++i) {
        const u64 k = Traits::to_key(v[i]);
        outside |= k ^ first;
        const u64 d = (k & window) - base;
        if (d >= span) return false;
        ++tables[d];
    }
    if ((outside & ~window) != 0) return false;

    const u64 prefix = (first & ~window) + base;
    std::size_t at = 0;
    for (u64 d = 0; d < span; ++d) {
        u64 c = tables[d];
        for (std::size_t w = 1; w < ways; ++w) c += tables[w * span + d];
        if (c == 0) continue;
        std::fill_n(v + at, c, Traits::from_key(prefix + d));
        at += c;
    }
    return true;
}

// counting_sort_window over the span that the levels of p needing a pass (h,
// bottom-aligned) cover: the outcome of those passes whenever it applies.
template <class Traits>
bool counting_finish(typename Traits::value_type* v, std::size_t n, const Params& p, const HistogramSet& h) {
    u64 top = p.max_level;
    for (u64 level = p.level; level < p.max_level; ++level) {
        if (level_needs_pass(h[level], p.radix_range)) {
            top = level;
            break;
        }
    }
    if (top == p.max_level) return false;
    const u64* counts = h[top];
    u64 low = 0, high = p.radix_range - 1;
    while (counts[low] == 0) ++low;
    while (counts[high] == 0) --high;
    const u64 shift = (p.max_level - 1 - top) * p.radix;
    if (shift + p.radix >= 64) return false;
    return counting_sort_window<Traits>(v, n, (u64{1} << (shift + p.radix)) - 1, low << shift,
                                        (high - low + 1) << shift);
}

// The LSD loop shared by lsd_sort and dlsd_core: for levels max_level - 1 down to
// p.level, one stable scatter per level whose histogram has two or more non-empty
// buckets, ping-ponging between v and a scratch buffer (taken only once a pass needs it);
// the result ends up back in v.
template <class Traits, class DigitOf>
void lsd_passes(typename Traits::value_type* v, std::size_t n, const Params& p, const HistogramSet& h,
                DigitOf digit_of) {
    using T = typename Traits::value_type;
    std::unique_ptr<ScratchBuffer<T>> buf;
    T* from = v;
    T* to = nullptr;
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
        if (!buf) {
            buf = std::make_unique<ScratchBuffer<T>>(n);
            to = buf->get();
        }
        const Digit digit = digit_of(level);
        prefix_sums_into(counts, p.radix_range, hd);
        scatter_by_digit<Traits>(from, to, n, hd, digit, p.radix_range);
        std::swap(from, to);
    }
    if (from != v) std::copy(from, from + n, v);
}

// lsd_passes by the bottom-aligned digits of p, or counting_finish where it applies.
template <class Traits>
void bottom_aligned_lsd(typename Traits::value_type* v, std::size_t n, const Params& p) {
    const HistogramSet h = full_histograms<Traits>(v, n, p);
    if (counting_finish<Traits>(v, n, p, h)) return;
    lsd_passes<Traits>(v, n, p, h, [&](u64 level) { return bottom_aligned_digit(p, level); });
}

}  // namespace detail

// Sorts v[0, n) (n >= 1) by the bottom-aligned digits of levels p.max_level - 1 down to
// p.level. Needs 1 <= p.max_level <= 8 and p.radix_range == 2^p.radix.
template <class Traits>
void lsd_sort(typename Traits::value_type* v, std::size_t n, const Params& p) {
    detail::bottom_aligned_lsd<Traits>(v, n, p);
}

}  // namespace tamarind
