// Histogram sweeps, prefix sums and the stable scatter pass of the radix sorts.
// Everything here is a pure function of its arguments apart from the destination it
// writes, so any number of threads may run these on disjoint chunks at once.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "radix/four_way_counts.hpp"
#include "traits/traits.hpp"
#include "types/panic.hpp"
#include "types/params.hpp"

namespace tamarind {

// max_level histograms of radix_range counters each, index 0 the most significant level.
class HistogramSet {
public:
    HistogramSet(std::size_t levels, std::size_t range)
        : counts_(new u64[levels * range]()), levels_(levels), range_(range) {}

    u64* operator[](std::size_t level) noexcept { return counts_.get() + level * range_; }
    const u64* operator[](std::size_t level) const noexcept { return counts_.get() + level * range_; }
    std::size_t levels() const noexcept { return levels_; }

private:
    std::unique_ptr<u64[]> counts_;
    std::size_t levels_;
    std::size_t range_;
};

namespace detail {

// One sweep adding every element to the L histograms of the digits (key >> base) cut
// into L digits of `radix` bits, the last one lowest.
template <class Traits, unsigned L>
void count_levels(const typename Traits::value_type* v, std::size_t n, HistogramSet& h,
                  u64 radix, u64 base) {
    const u64 mask = (u64{1} << radix) - 1;
    u64* c[L];
    u64 shifts[L];
    for (unsigned l = 0; l < L; ++l) {
        c[l] = h[l];
        shifts[l] = base + (L - 1 - l) * radix;
    }
    std::size_t i = 0;
    for (; i + 2 <= n; i += 2) {
        const u64 k0 = Traits::to_key(v[i]);
        const u64 k1 = Traits::to_key(v[i + 1]);
        for (unsigned l = 0; l < L; ++l) {
            ++c[l][(k0 >> shifts[l]) & mask];
            ++c[l][(k1 >> shifts[l]) & mask];
        }
    }
    for (; i < n; ++i) {
        const u64 k = Traits::to_key(v[i]);
        for (unsigned l = 0; l < L; ++l) ++c[l][(k >> shifts[l]) & mask];
    }
}

template <class Traits>
void count_levels_dispatch(const typename Traits::value_type* v, std::size_t n, HistogramSet& h,
                           u64 radix, u64 base) {
    switch (h.levels()) {
        case 1: return count_levels<Traits, 1>(v, n, h, radix, base);
        case 2: return count_levels<Traits, 2>(v, n, h, radix, base);
        case 3: return count_levels<Traits, 3>(v, n, h, radix, base);
        case 4: return count_levels<Traits, 4>(v, n, h, radix, base);
        case 5: return count_levels<Traits, 5>(v, n, h, radix, base);
        case 6: return count_levels<Traits, 6>(v, n, h, radix, base);
        case 7: return count_levels<Traits, 7>(v, n, h, radix, base);
        case 8: return count_levels<Traits, 8>(v, n, h, radix, base);
        default: return;  // no caller asks for 0 or more than 8 levels
    }
}

}  // namespace detail

// Counts the bottom-aligned digit of every level 0 .. max_level - 1 in one sweep.
template <class Traits>
HistogramSet full_histograms(const typename Traits::value_type* v, std::size_t n, const Params& p) {
    HistogramSet h(p.max_level, p.radix_range);
    detail::count_levels_dispatch<Traits>(v, n, h, p.radix, 0);
    return h;
}

// Partial histograms ask for at most this many levels.
inline constexpr u64 kPartialHistogramMaxLevels = 5;

// Counts the max_level digits just below the first p.offset key bits in one sweep.
template <class Traits>
HistogramSet partial_histograms(const typename Traits::value_type* v, std::size_t n,
                                const Params& p) {
    if (p.max_level > kPartialHistogramMaxLevels) [[unlikely]]
        panic(messages::kPartialHistogramTooManyLevels);
    HistogramSet h(p.max_level, p.radix_range);
    const u64 wanted = p.radix * p.max_level;
    const u64 base = 64 - p.offset < wanted ? 0 : 64 - p.offset - wanted;
    detail::count_levels_dispatch<Traits>(v, n, h, p.radix, base);
    return h;
}

// Skip rule: a level whose histogram has fewer than two non-zero counters needs no pass.
inline bool level_needs_pass(const u64* h, std::size_t range) noexcept {
    unsigned seen = 0;
    for (std::size_t d = 0; d < range; ++d) {
        seen += h[d] != 0;
        if (seen == 2) return true;
    }
    return false;
}

// Running totals of h[0, range) into sums[0, range]: bucket d's heads is sums[d], its
// tail sums[d + 1].
inline void prefix_sums_into(const u64* h, std::size_t range, u64* sums) noexcept {
    u64 total = 0;
    sums[0] = 0;
    for (std::size_t d = 0; d < range; ++d) {
        total += h[d];
        sums[d + 1] = total;
    }
}

// Scatters of at least this many elements into at most this many non-empty buckets
// write from both ends of each bucket.
inline constexpr std::size_t kTwoStreamScatterMin = 256;
inline constexpr std::size_t kTwoStreamScatterMaxBuckets = 32;

// Stable scatter of src[0, n) into dst by digit; heads[d] must be where bucket d starts
// in dst (from prefix_sums of the same digit's histogram over src, `range` buckets) and is
// left at its end.
//
// With few buckets in use, the front of src is written forward from each bucket's start
// and the back, read from the end, backward from each bucket's end: the two streams meet
// exactly, the order within a bucket is the source order, and the two cursor arrays are
// independent, so runs of equal digits do not serialise on one counter.
template <class Traits>
void scatter_by_digit(const typename Traits::value_type* src, typename Traits::value_type* dst,
                      std::size_t n, u64* heads, Digit digit, std::size_t range) noexcept {
    const u64 mask = digit.mask;
    const u64 shift = digit.shift;
    auto digit_of = [&](typename Traits::value_type x) { return (Traits::to_key(x) & mask) >> shift; };
    auto one_stream = [&] {
        std::size_t i = 0;
        for (; i + 4 <= n; i += 4) {
            const auto a = src[i], b = src[i + 1], c = src[i + 2], e = src[i + 3];
            dst[heads[digit_of(a)]++] = a;
            dst[heads[digit_of(b)]++] = b;
            dst[heads[digit_of(c)]++] = c;
            dst[heads[digit_of(e)]++] = e;
        }
        for (; i < n; ++i) dst[heads[digit_of(src[i])]++] = src[i];
    };
    if (range > kMaxRadixRange || n < kTwoStreamScatterMin) return one_stream();
    u64 ends[kMaxRadixRange];
    u64 bucket_end[kMaxRadixRange];
    std::size_t used = 0;
    for (std::size_t d = 0; d < range; ++d) {
        ends[d] = d + 1 < range ? heads[d + 1] : n;
        used += ends[d] != heads[d];
    }
    // Many buckets already spread the writes; twice as many streams would only thrash L1.
    if (used > kTwoStreamScatterMaxBuckets) return one_stream();
    std::copy(ends, ends + range, bucket_end);
    std::size_t i = 0;
    std::size_t j = n;  // the back stream has done src[j, n)
    for (; i + 4 <= j; i += 2, j -= 2) {
        const auto a = src[i], b = src[i + 1], c = src[j - 1], e = src[j - 2];
        dst[heads[digit_of(a)]++] = a;
        dst[--ends[digit_of(c)]] = c;
        dst[heads[digit_of(b)]++] = b;
        dst[--ends[digit_of(e)]] = e;
    }
    for (; i < j; ++i) dst[heads[digit_of(src[i])]++] = src[i];
    std::copy(bucket_end, bucket_end + range, heads);
}

// Slices from this long are counted into four interleaved histograms, so that runs of
// equal digits do not serialise on one counter.
inline constexpr std::size_t kSplitHistogramMin = 2048;

// Counts digit d of every element of v[0, n) into counts[d] (counts must hold `range`
// counters; they are overwritten). A digit not below `range` is an index out of bounds.
template <class Traits>
void digit_histogram(const typename Traits::value_type* v, std::size_t n, u64* counts,
                     std::size_t range, Digit digit) {
    const u64 mask = digit.mask;
    const u64 shift = digit.shift;
    std::memset(counts, 0, range * sizeof(u64));
    if ((mask >> shift) >= range) [[unlikely]] {
        // Only reachable with a digit wider than the bucket count: check every index.
        for (std::size_t i = 0; i < n; ++i) {
            const u64 d = digit.of(Traits::to_key(v[i]));
            if (d >= range)
                panic(std::string(messages::kIndexOutOfBounds) + std::to_string(range) +
                      std::string(messages::kIndexOutOfBoundsIndex) + std::to_string(d));
            ++counts[d];
        }
        return;
    }
    if (n < kSplitHistogramMin || range > kMaxRadixRange) {
        for (std::size_t i = 0; i < n; ++i) ++counts[(Traits::to_key(v[i]) & mask) >> shift];
        return;
    }
    u64 tables[4 * kMaxRadixRange];
    for (std::size_t w = 0; w < 4; ++w) std::memset(tables + w * kMaxRadixRange, 0, range * sizeof(u64));
    count_four_ways(tables, kMaxRadixRange, 0, n, [&](std::size_t i) { return (Traits::to_key(v[i]) & mask) >> shift; });
    sum_four_ways(tables, kMaxRadixRange, range, counts);
}

}  // namespace tamarind
