// Diverting LSD radix sort: a digit width and pass count chosen from the element count
// alone. When the passes cover every significant key bit it is a plain LSD sort; when
// they do not, it sorts by the top digits only and repairs the remaining, local disorder
// with prefix_insertion_sort plus a bucket sort for each badly disordered group. It runs
// on rollercoaster_sort's one-sign i64 bucket (dlsd_sort, under run detection) and, diverted,
// on rollercoaster_small's buckets with more than kRollercoasterLsdLevelsMax levels left
// (dlsd_core).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <utility>

#include "comparison/comparison_sort.hpp"
#include "radix/counting_sort.hpp"
#include "radix/histograms.hpp"
#include "radix/key_scan.hpp"
#include "radix/lsd_sort.hpp"
#include "radix/prefix_insertion_sort.hpp"
#include "radix/voracious_sort.hpp"
#include "types/panic.hpp"
#include "types/params.hpp"

namespace tamarind {

// Diverted buckets up to this long are sorted by comparison, longer ones by radix.
inline constexpr std::size_t kDlsdBucketComparisonMax = 250;
// Radix buckets up to this long always go to voracious_sort...
inline constexpr std::size_t kDlsdBucketVoraciousMax = 3000;
// ...and so do longer ones while fewer key bits than this are known to be shared.
inline constexpr u64 kDlsdBucketLsdOffsetMin = 32;
// A choice whose buckets average at most this many elements is taken at once.
inline constexpr double kDlsdSparseRatio = 0.1;
// Above this average bucket load the next candidate width is preferred.
inline constexpr double kDlsdDenseRatio = 0.35;

struct DlsdChoice {
    u64 radix;
    u64 passes;
};

namespace detail {

// ceil(x) as an unsigned count, saturating: negative or NaN gives 0.
inline u64 saturating_count(double x) noexcept {
    if (!(x > 0.0)) return 0;
    if (x >= 18446744073709551616.0) return std::numeric_limits<u64>::max();
    return static_cast<u64>(x);
}

}  // namespace detail

// Digit width (7, 8 or 9) and number of passes for n elements: the fewest passes that
// give at least n buckets, preferring sparse buckets (see the ratio constants).
inline DlsdChoice choose_dlsd_radix(std::size_t n) {
    struct Candidate {
        u64 passes;
        double ratio;
        u64 radix;
    };
    const double size = static_cast<double>(n);
    Candidate c[3];
    for (u64 r = 7; r <= 9; ++r) {
        const double buckets = std::ldexp(1.0, static_cast<int>(r));
        u64 passes = detail::saturating_count(std::ceil(std::log2(size / buckets) / static_cast<double>(r)));
        auto load = [&](u64 k) {
            return size / std::ldexp(1.0, static_cast<int>(std::min<u64>(k * r, 4096)));
        };
        double ratio = load(passes);
        if (ratio > 1.0) {
            ++passes;
            ratio = load(passes);
        }
        c[r - 7] = {passes, ratio, r};
    }
    std::sort(c, c + 3, [](const Candidate& a, const Candidate& b) {
        if (a.passes != b.passes) return a.passes < b.passes;
        if (a.ratio != b.ratio) return a.ratio < b.ratio;
        return a.radix < b.radix;
    });
    if (c[0].passes == c[2].passes && c[2].ratio <= kDlsdSparseRatio) return {c[2].radix, c[0].passes};
    if (c[0].passes == c[1].passes && c[1].ratio <= kDlsdSparseRatio) return {c[1].radix, c[1].passes};
    if (c[0].ratio > kDlsdDenseRatio) return {c[1].radix, c[1].passes};
    return {c[0].radix, c[0].passes};
}

// Sorts v[0, n) (n >= 1). Not diverted: an LSD sort by the bottom-aligned digits of p
// (1 <= max_level <= 8). Diverted (1 <= max_level <= 5, offset + radix * max_level <= 64):
// LSD passes over the top-aligned digits below p.offset, then prefix_insertion_sort and a
// sort of each bucket it hands back.
template <class Traits>
void dlsd_core(typename Traits::value_type* v, std::size_t n, const Params& p, bool diverted) {
    using T = typename Traits::value_type;
    if (!diverted) {
        detail::bottom_aligned_lsd<Traits>(v, n, p);
        return;
    }
    {
        const HistogramSet h = partial_histograms<Traits>(v, n, p);
        detail::lsd_passes<Traits>(v, n, p, h, [&](u64 level) { return top_aligned_digit(p, level); });
    }
    // v is now ordered by the top radix * max_level key bits below the offset.
    u64 prefix_mask = 0;
    for (u64 level = 0; level < p.max_level; ++level) prefix_mask |= top_aligned_digit(p, level).mask;
    if (n < 2) return;
    const BucketList buckets = prefix_insertion_sort<Traits>(v, n, prefix_mask);

    const u64 offset = p.offset + p.radix * p.max_level;
    if (offset > 64) [[unlikely]]
        panic(messages::kOffsetPastKeyBits);
    // Every element of a bucket shares the key bits above `offset`.
    const u64 levels = (64 - offset + kByteRadix - 1) / kByteRadix;
    for (const auto& [start, end] : buckets) {
        const std::size_t size = end - start;
        T* bucket = v + start;
        if (size <= kDlsdBucketComparisonMax) {
            comparison_sort<Traits>(bucket, size);
        } else if (offset < kDlsdBucketLsdOffsetMin || size <= kDlsdBucketVoraciousMax) {
            voracious_sort<Traits>(bucket, size, Params{0, kByteRadix, offset, levels, kByteRadixRange});
        } else {
            lsd_sort<Traits>(bucket, size,
                             Params{0, kByteRadix, offset / kByteRadix * kByteRadix, levels, kByteRadixRange});
        }
    }
}

// Sorts v[0, n): by digits of choose_dlsd_radix's width where they are wider than a byte
// or too few to cover the keys, else by bytes.
template <class Traits>
void dlsd_sort(typename Traits::value_type* v, std::size_t n) {
    if (n <= kRadixComparisonMax) {
        comparison_sort<Traits>(v, n);
        return;
    }
    const DlsdChoice choice = choose_dlsd_radix(n);
    const u64 bits = key_bits<Traits>(v, n);
    const u64 byte_levels = (bits + kByteRadix - 1) / kByteRadix;
    if (byte_levels == 0) return;  // every key is 0
    const u64 needed = (bits + choice.radix - 1) / choice.radix;
    const u64 dr = choice.radix;
    // Undiverted, the passes cover every significant key bit: when the keys span few values
    // (below 2^bits), counting them gives the same slice without the histograms.
    if (choice.passes >= needed && bits <= kCountingWidthMax &&
        counting_fits(n, u64{1} << bits, kCountingElementsPerSlotLsd)) {
        CountingPlan plan = spread_plan(0, (u64{1} << bits) - 1);
        plan.four_way = plan.slots <= kCountingFourWaySlotsMax;
        counting_sort<Traits>(v, n, plan);
        return;
    }
    if (choice.passes < needed) {
        dlsd_core<Traits>(v, n, Params{0, dr, 64 - bits, choice.passes, u64{1} << dr}, true);
    } else if (dr > kByteRadix) {
        dlsd_core<Traits>(v, n, Params{0, dr, 64 - bits, needed, u64{1} << dr}, false);
    } else {
        dlsd_core<Traits>(v, n, Params{0, kByteRadix, 64 - byte_levels * kByteRadix, byte_levels, kByteRadixRange},
                          false);
    }
}

}  // namespace tamarind
