// Least-significant-digit-first radix sort through one scratch buffer, or a count of the
// keys where the levels that need a pass span few values. It runs on rollercoaster_small's
// buckets with at most kRollercoasterLsdLevelsMax levels left, on dlsd_core's long buckets
// that share many key bits, and as dlsd's undiverted passes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

#include "radix/counting_sort.hpp"
#include "radix/histograms.hpp"
#include "types/params.hpp"
#include "types/scratch.hpp"

namespace tamarind {

namespace detail {

// counting_sort over the span that the levels of p needing a pass (h, bottom-aligned)
// cover, where it fits: the outcome of those passes whenever it applies. The span comes
// from the histogram of the first such level; the keys are checked against it as they are
// counted.
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
    const u64 span = (high - low + 1) << shift;
    if (n == 0 || !counting_fits(n, span, kCountingElementsPerSlotLsd)) return false;
    const u64 window = (u64{1} << (shift + p.radix)) - 1;
    const CountingPlan plan{window, low << shift, span, Traits::to_key(v[0]) & ~window,
                            span <= kCountingFourWaySlotsMax};
    return counting_sort<Traits, PlanKeys::Checked>(v, n, plan);
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
            buf = std::make_unique<ScratchBuffer<T>>(n, ScratchReuse::kThreadSpare);
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
