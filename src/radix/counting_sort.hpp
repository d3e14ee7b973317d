// Counting sort, for slices whose keys take few values: every key is counted, then each
// value's run is written in key order. Equal keys are equal bit patterns, so the slice is
// rebuilt from the counts alone, with no element moved and no partition or exchange: two
// passes over memory in all. It runs where a radix sort finds the keys in a narrow range:
// at the entries of the rollercoaster and parallel sorts (from the keys' spread, both
// passes split over the pool in the parallel one), in the LSD sorts (from their
// histograms), and under few_keys_sort, which maps its few keys to slots by hash.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <vector>

#include "pool/thread_pool.hpp"
#include "radix/four_way_counts.hpp"
#include "traits/traits.hpp"
#include "types/params.hpp"

namespace tamarind {

// Keys are counted only while they take at most this many values (65 536, 16 bits)...
inline constexpr u64 kCountingWidthMax = 16;
inline constexpr u64 kCountingSlotsMax = u64{1} << kCountingWidthMax;
// ...and the slice holds enough elements per value that the counts stay small beside it:
// at the entries, at least this many in each counting part, which keeps the counts within
// an eighth of a byte per element (under 2 % of the slice); in the LSD sorts, whose
// alternative is a scatter pass per level, one.
inline constexpr std::size_t kCountingElementsPerSlot = 64;
inline constexpr std::size_t kCountingElementsPerSlotLsd = 1;
// Short slices, which the entries would otherwise sort by comparison, need no more than
// that either: the counts and the slice stay in cache.
inline constexpr std::size_t kCountingElementsPerSlotShort = 1;
// The LSD sorts count up to this many values into four interleaved tables
// (four_way_counts.hpp); the entries, whose slices hold many elements per value, into one
// (a quarter of the counters for each of their parts).
inline constexpr u64 kCountingFourWaySlotsMax = 1024;

// The one rule for counting: at most kCountingSlotsMax values, and at least per_slot
// elements for each.
constexpr bool counting_fits(std::size_t n, u64 slots, std::size_t per_slot) noexcept {
    return slots <= kCountingSlotsMax && slots * per_slot <= n;
}

// Which keys a counting sort expects and where each value's count goes: every key equals
// `high` outside the low bits `window` (a mask 2^b - 1) and lies within them in [base,
// base + slots); slot s counts key high + base + s.
struct CountingPlan {
    u64 window;
    u64 base;
    u64 slots;
    u64 high;
    bool four_way = false;  // counted into four tables (at most kCountingFourWaySlotsMax slots)

    u64 key_of(std::size_t s) const noexcept { return high + base + s; }
};

// The plan for keys that equal `first` outside the bits of `spread`: a slot for every value
// of the low bit_width(spread) bits. Needs bit_width(spread) < 64.
inline CountingPlan spread_plan(u64 first, u64 spread) noexcept {
    const u64 slots = u64{1} << std::bit_width(spread);
    return {slots - 1, 0, slots, first & ~(slots - 1), false};
}

// The entries' rule: whether a slice of n elements whose keys differ in the bits of
// `spread` is counted.
constexpr bool counting_sort_fits(std::size_t n, u64 spread) noexcept {
    const auto width = static_cast<u64>(std::bit_width(spread));
    return width <= kCountingWidthMax && counting_fits(n, u64{1} << width, kCountingElementsPerSlot);
}

// Whether the keys are known to follow the plan (derived from all of them) or are checked
// as they are counted (the plan derived from part of what they hold).
enum class PlanKeys { Known, Checked };

namespace detail {

// Counters one count by `plan` works in: a spare slot past the last where keys are checked,
// times four where it interleaves; at least slots + 1, so that the run starts fit in place.
template <PlanKeys kKeys>
std::size_t count_space(const CountingPlan& plan) noexcept {
    const std::size_t stride = plan.slots + (kKeys == PlanKeys::Checked ? 1 : 0);
    return plan.four_way ? 4 * stride : std::max<std::size_t>(stride, plan.slots + 1);
}

// Counts the keys of v[lo, hi) into counts[0, plan.slots), counts being count_space zeroed
// counters. Checked: false, with the counts unspecified, when a key does not follow the plan.
template <class Traits, PlanKeys kKeys>
bool count_plan_keys(const typename Traits::value_type* v, std::size_t lo, std::size_t hi, const CountingPlan& plan,
                     u64* counts) noexcept {
    // Copies: a counter store could alias the plan's fields and force a reload per key.
    const u64 slots = plan.slots, window = plan.window, base = plan.base, high = plan.high;
    u64 outside = 0;  // bits on which some key differs from high
    u64 past = 0;     // nonzero once a slot past the last turned up
    auto slot_of = [&](std::size_t i) {
        const u64 key = Traits::to_key(v[i]);
        const u64 s = (key & window) - base;
        if constexpr (kKeys == PlanKeys::Known) {
            return s;
        } else {
            // Offsets below base wrap to large: every stray key lands in the spare slot.
            outside |= key ^ high;
            past |= s >= slots;
            return std::min(s, slots);
        }
    };
    if (plan.four_way) {
        const std::size_t stride = slots + (kKeys == PlanKeys::Checked ? 1 : 0);
        count_four_ways(counts, stride, lo, hi, slot_of);
        sum_four_ways(counts, stride, slots, counts);  // slot s reads only its own first counter
    } else {
        for (std::size_t i = lo; i < hi; ++i) ++counts[slot_of(i)];
    }
    if constexpr (kKeys == PlanKeys::Checked) return past == 0 && (outside & ~window) == 0;
    return true;
}

// Turns counts[0, slots) into where each slot's run starts, and counts[slots] into where the
// slice ends.
inline void starts_in_place(u64* counts, std::size_t slots) noexcept {
    u64 sum = 0;
    for (std::size_t s = 0; s < slots; ++s) {
        const u64 c = counts[s];
        counts[s] = sum;
        sum += c;
    }
    counts[slots] = sum;
}

}  // namespace detail

// Writes positions [lo, hi) of a slice rebuilt from counts: slot s's run, [starts[s],
// starts[s + 1]), holds the element of key key_of(s).
template <class Traits, class KeyOf>
void write_runs(typename Traits::value_type* v, std::size_t lo, std::size_t hi, const u64* starts, std::size_t slots,
                KeyOf&& key_of) noexcept {
    // The last slot whose run starts at or before lo.
    auto s = static_cast<std::size_t>(std::upper_bound(starts, starts + slots + 1, u64{lo}) - starts) - 1;
    for (std::size_t i = lo; i < hi; ++s) {
        const std::size_t end = std::min<std::size_t>(hi, starts[s + 1]);
        std::fill(v + i, v + end, Traits::from_key(key_of(s)));
        i = end;
    }
}

// Sorts v[0, n) by counting its keys as `plan` says. Known keys always succeed; checked
// ones return false, with v untouched, when one of them does not follow the plan.
template <class Traits, PlanKeys kKeys = PlanKeys::Known>
bool counting_sort(typename Traits::value_type* v, std::size_t n, const CountingPlan& plan) {
    std::vector<u64> counts(detail::count_space<kKeys>(plan), 0);
    if (!detail::count_plan_keys<Traits, kKeys>(v, 0, n, plan, counts.data())) return false;
    detail::starts_in_place(counts.data(), plan.slots);
    write_runs<Traits>(v, 0, n, counts.data(), plan.slots, [&](std::size_t s) { return plan.key_of(s); });
    return true;
}

// counting_sort of known keys with both passes split over `pool`, in parts of at least
// kCountingElementsPerSlot elements per slot.
template <class Traits>
void counting_sort_on(typename Traits::value_type* v, std::size_t n, const CountingPlan& plan,
                      pool::ThreadPool& pool) {
    const std::size_t slots = plan.slots;
    const std::size_t parts =
        std::clamp<std::size_t>(n / (slots * kCountingElementsPerSlot), 1, pool.current_num_threads());
    const std::size_t part_len = (n + parts - 1) / parts;
    // Runs `pass(lo, hi, t)` on every part at once.
    auto on_parts = [&](auto&& pass) {
        pool.scope([&](pool::Scope& scope) {
            for (std::size_t t = 0; t < parts; ++t) {
                scope.spawn([&, t] {
                    const std::size_t lo = std::min(n, t * part_len);
                    pass(lo, std::min(n, lo + part_len), t);
                });
            }
        });
    };
    const std::size_t space = detail::count_space<PlanKeys::Known>(plan);  // per part, end to end
    std::vector<u64> counts(parts * space, 0);
    on_parts([&](std::size_t lo, std::size_t hi, std::size_t t) {
        detail::count_plan_keys<Traits, PlanKeys::Known>(v, lo, hi, plan, counts.data() + t * space);
    });
    // Where each slot's run starts (and, last, where the slice ends), over every part.
    std::vector<u64> starts(slots + 1);
    u64 sum = 0;
    for (std::size_t s = 0; s < slots; ++s) {
        starts[s] = sum;
        for (std::size_t t = 0; t < parts; ++t) sum += counts[t * space + s];
    }
    starts[slots] = sum;
    on_parts([&](std::size_t lo, std::size_t hi, std::size_t) {
        write_runs<Traits>(v, lo, hi, starts.data(), slots, [&](std::size_t s) { return plan.key_of(s); });
    });
}

}  // namespace tamarind
