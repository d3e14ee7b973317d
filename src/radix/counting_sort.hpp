// Counting sort for slices whose keys differ only in their low bits (integers in a small
// range): every key is counted, then each key's run is written in key order. Equal keys are
// equal bit patterns, so the slice is rebuilt from the counts alone, with no element moved
// and no partition or exchange: two passes over memory in all. The multi-threaded entry
// splits both passes over its pool (counting_sort_on in utils_mt.hpp).
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <vector>

#include "traits/traits.hpp"
#include "types/params.hpp"

namespace tamarind {

// Keys that differ in at most this many low bits (65 536 possible keys) may be counted.
inline constexpr u64 kCountingWidthMax = 16;
// ... and only in a slice with at least this many elements per possible key in each
// counting part, which keeps the counts within an eighth of a byte per element (under 2 %
// of the slice) and their clearing and summing small beside the passes over the slice.
inline constexpr std::size_t kCountingElementsPerSlot = 64;

// Whether the counting sorts take a slice of n elements whose keys differ (from any one of
// them) in the bits of `spread`.
constexpr bool counting_sort_fits(std::size_t n, u64 spread) noexcept {
    const auto width = static_cast<u64>(std::bit_width(spread));
    return width <= kCountingWidthMax && (std::size_t{1} << width) * kCountingElementsPerSlot <= n;
}

namespace detail {

// Adds the keys of v[lo, hi) to c, indexed by their bits in `low`.
template <class Traits>
void count_low_keys(const typename Traits::value_type* v, std::size_t lo, std::size_t hi, u64 low, u64* c) noexcept {
    for (std::size_t i = lo; i < hi; ++i) ++c[Traits::to_key(v[i]) & low];
}

// Where each slot's run starts (and, last, where the slice ends), from `parts` histograms
// of `slots` counts each, laid end to end.
inline std::vector<u64> run_starts(const std::vector<u64>& counts, std::size_t slots, std::size_t parts) {
    std::vector<u64> starts(slots + 1);
    u64 sum = 0;
    for (std::size_t s = 0; s < slots; ++s) {
        starts[s] = sum;
        for (std::size_t t = 0; t < parts; ++t) sum += counts[t * slots + s];
    }
    starts[slots] = sum;
    return starts;
}

// Writes positions [lo, hi) of the sorted slice: slot s's run holds the element of key
// high | s.
template <class Traits>
void write_runs(typename Traits::value_type* v, std::size_t lo, std::size_t hi, const std::vector<u64>& starts,
                u64 high) noexcept {
    // The last slot whose run starts at or before lo.
    auto s = static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), u64{lo}) - starts.begin()) - 1;
    for (std::size_t i = lo; i < hi; ++s) {
        const std::size_t end = std::min<std::size_t>(hi, starts[s + 1]);
        std::fill(v + i, v + end, Traits::from_key(high | s));
        i = end;
    }
}

}  // namespace detail

// Sorts v[0, n), given that every key equals `first` outside the bits of `spread` and
// that counting_sort_fits(n, spread).
template <class Traits>
void counting_sort(typename Traits::value_type* v, std::size_t n, u64 first, u64 spread) {
    const std::size_t slots = std::size_t{1} << std::bit_width(spread);
    const u64 low = slots - 1;
    std::vector<u64> counts(slots, 0);
    detail::count_low_keys<Traits>(v, 0, n, low, counts.data());
    detail::write_runs<Traits>(v, 0, n, detail::run_starts(counts, slots, 1), first & ~low);
}

}  // namespace tamarind
