// The counting loop of every histogram and counting sort: consecutive elements go to four
// tables in turn, so that a run of equal slots does not wait on one counter's previous
// increment (a store-to-load chain per element), and the tables are summed afterwards.
#pragma once

#include <cstddef>

#include "types/element.hpp"

namespace tamarind {

// Calls visit(i, w) for every i in [lo, hi), w = 0..3 in turn for each group of four and 0
// for the tail. visit is inlined, so w is a constant in each call.
template <class Visit>
inline void visit_four_ways(std::size_t lo, std::size_t hi, Visit&& visit) {
    std::size_t i = lo;
    for (; i + 4 <= hi; i += 4) {
        visit(i, 0);
        visit(i + 1, 1);
        visit(i + 2, 2);
        visit(i + 3, 3);
    }
    for (; i < hi; ++i) visit(i, 0);
}

// Adds one to tables[w * stride + slot_of(i)] for every i in [lo, hi), w as visit_four_ways
// gives it. slot_of may gather more as it goes (key widths, spreads).
template <class SlotOf>
inline void count_four_ways(u64* tables, std::size_t stride, std::size_t lo, std::size_t hi, SlotOf&& slot_of) {
    visit_four_ways(lo, hi, [&](std::size_t i, std::size_t w) { ++tables[w * stride + slot_of(i)]; });
}

// counts[s] = the four tables' counters of slot s added, for s in [0, slots).
inline void sum_four_ways(const u64* tables, std::size_t stride, std::size_t slots, u64* counts) noexcept {
    for (std::size_t s = 0; s < slots; ++s)
        counts[s] = tables[s] + tables[stride + s] + tables[2 * stride + s] + tables[3 * stride + s];
}

}  // namespace tamarind
