// Counting sort on a pool for slices whose keys differ only in their low bits (integers in
// a small range): every key is counted, then each key's run is written in key order. Equal
// keys are equal bit patterns, so the slice is rebuilt from the counts alone, with no
// element moved and no partition or exchange: two passes over memory in all.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <vector>

#include "pool/thread_pool.hpp"
#include "traits/traits.hpp"
#include "types/params.hpp"

namespace tamarind {

// Keys that differ in at most this many low bits (65 536 possible keys) may be counted.
inline constexpr u64 kCountingWidthMax = 16;
// ... and only in a slice with at least this many elements per possible key in each
// counting part, which keeps the counts within an eighth of a byte per element (under 2 %
// of the slice) and their clearing and summing small beside the passes over the slice.
inline constexpr std::size_t kCountingElementsPerSlot = 64;

// Whether counting_sort_on takes a slice of n elements whose keys differ (from any one of
// them) in the bits of `spread`.
constexpr bool counting_sort_fits(std::size_t n, u64 spread) noexcept {
    const auto width = static_cast<u64>(std::bit_width(spread));
    return width <= kCountingWidthMax && (std::size_t{1} << width) * kCountingElementsPerSlot <= n;
}

// Sorts v[0, n) on `pool`, given that every key equals `first` outside the bits of
// `spread` and that counting_sort_fits(n, spread).
template <class Traits>
void counting_sort_on(typename Traits::value_type* v, std::size_t n, u64 first, u64 spread,
                      pool::ThreadPool& pool) {
    const std::size_t slots = std::size_t{1} << std::bit_width(spread);
    const u64 low = slots - 1;
    const u64 high = first & ~low;
    const std::size_t parts =
        std::clamp<std::size_t>(n / (slots * kCountingElementsPerSlot), 1, pool.current_num_threads());
    const std::size_t part_len = (n + parts - 1) / parts;

    // Count: one histogram per part, then the totals (as slot starts) in the first.
    std::vector<u64> counts(parts * slots, 0);
    pool.scope([&](pool::Scope& scope) {
        for (std::size_t t = 0; t < parts; ++t) {
            scope.spawn([&, t] {
                const std::size_t lo = std::min(n, t * part_len);
                const std::size_t hi = std::min(n, lo + part_len);
                u64* c = counts.data() + t * slots;
                for (std::size_t i = lo; i < hi; ++i) ++c[Traits::to_key(v[i]) & low];
            });
        }
    });
    std::vector<u64> starts(slots + 1);
    u64 sum = 0;
    for (std::size_t s = 0; s < slots; ++s) {
        starts[s] = sum;
        for (std::size_t t = 0; t < parts; ++t) sum += counts[t * slots + s];
    }
    starts[slots] = sum;

    // Write: each part fills its own positions, starting inside the run that covers them.
    pool.scope([&](pool::Scope& scope) {
        for (std::size_t t = 0; t < parts; ++t) {
            scope.spawn([&, t] {
                const std::size_t lo = std::min(n, t * part_len);
                const std::size_t hi = std::min(n, lo + part_len);
                // The last slot whose run starts at or before lo.
                auto s = static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), u64{lo}) -
                                                  starts.begin()) - 1;
                for (std::size_t i = lo; i < hi; ++s) {
                    const std::size_t end = std::min<std::size_t>(hi, starts[s + 1]);
                    std::fill(v + i, v + end, Traits::from_key(high | s));
                    i = end;
                }
            });
        }
    });
}

}  // namespace tamarind
