// Branch-free sort for short slices, the scalar kernels' sorting network: sorting networks
// of compare-exchanges on groups of up to 16 elements, then balanced bidirectional merges
// through a stack buffer. Runs as the scalar table's base case and short sort
// (kernels_scalar.cpp), and on every table for the comparison sort's shortest slices.
//
// On random input a comparison sort of a few dozen elements spends most of its time in
// mispredicted branches (insertion sort misses about once per element). Here no branch
// depends on the data: a compare-exchange is a min/max pair (minsd/maxsd for f64, cmov
// for integers) and a merge step selects its source and advances its cursors by the
// comparison's result.
//
// The order is the element type's own (Traits::less and Traits::ordered_min_max), which
// never fails: the slice must hold no NaN.
#pragma once

#include <array>
#include <cstddef>
#include <utility>

#include "traits/traits.hpp"

namespace tamarind::simd {

// Longest slice small_sort takes: four network groups of at most 16 merged twice.
inline constexpr std::size_t kSmallSortMax = 64;

namespace small_sort_detail {

struct Exchange {
    unsigned char lo, hi;
};

// Optimal-size networks for 8 and 16 inputs (19 and 60 compare-exchanges).
inline constexpr Exchange kNetwork8[] = {
    {0, 2}, {1, 3}, {4, 6}, {5, 7}, {0, 4}, {1, 5}, {2, 6}, {3, 7}, {0, 1}, {2, 3},
    {4, 5}, {6, 7}, {2, 4}, {3, 5}, {1, 4}, {3, 6}, {1, 2}, {3, 4}, {5, 6},
};

inline constexpr Exchange kNetwork16[] = {
    {0, 13}, {1, 12}, {2, 15}, {3, 14}, {4, 8},   {5, 6},   {7, 11},  {9, 10},   // layer 1
    {0, 5},  {1, 7},  {2, 9},  {3, 4},  {6, 13},  {8, 14},  {10, 15}, {11, 12},  // layer 2
    {0, 1},  {2, 3},  {4, 5},  {6, 8},  {7, 9},   {10, 11}, {12, 13}, {14, 15},  // layer 3
    {0, 2},  {1, 3},  {4, 10}, {5, 11}, {6, 7},   {8, 9},   {12, 14}, {13, 15},  // layer 4
    {1, 2},  {3, 12}, {4, 6},  {5, 7},  {8, 10},  {9, 11},  {13, 14},            // layer 5
    {1, 4},  {2, 6},  {5, 8},  {7, 10}, {9, 13},  {11, 14},                      // layer 6
    {2, 4},  {3, 6},  {9, 12}, {11, 13},                                         // layer 7
    {3, 5},  {6, 8},  {7, 9},  {10, 12},                                         // layer 8
    {3, 4},  {5, 6},  {7, 8},  {9, 10}, {11, 12},                                // layer 9
    {6, 7},  {8, 9},                                                             // layer 10
};

// The exchanges of a network with both ends below n. Run on n inputs, they sort them:
// padded up to the network's size with a greatest value, the padding would never move,
// so the exchanges that touch it do nothing and may be left out.
template <std::size_t n, const auto& kNetwork>
constexpr auto restrict_network() {
    constexpr std::size_t kCount = [] {
        std::size_t count = 0;
        for (const Exchange& e : kNetwork) count += e.hi < n;
        return count;
    }();
    std::array<Exchange, kCount> out{};
    std::size_t k = 0;
    for (const Exchange& e : kNetwork) {
        if (e.hi < n) out[k++] = e;
    }
    return out;
}

// The network for exactly n inputs, n <= 16: 1, 3, 5, 9, 12, 16, 19 exchanges up to
// n = 8, then 26, 31, 36, 40, 46, 51, 56, 60.
template <std::size_t n>
constexpr auto network_for() {
    if constexpr (n <= 8) {
        return restrict_network<n, kNetwork8>();
    } else {
        return restrict_network<n, kNetwork16>();
    }
}
template <std::size_t n>
inline constexpr auto kNetworkFor = network_for<n>();

// Each compare-exchange puts the smaller of the pair first without a branch; equal elements
// stay where they are, so a sorted group passes through a network unchanged, bit for bit.
template <const auto& kExchanges, class Traits, class T, std::size_t... I>
[[gnu::always_inline]] inline void run_network(T* r, std::index_sequence<I...>) {
    (Traits::ordered_min_max(r[kExchanges[I].lo], r[kExchanges[I].hi]), ...);
}

// Sorts src[0, n) into dst[0, n) (they may be the same). The group sits in locals with
// constant indices only, which the compiler keeps in registers; element by element copies
// keep it from joining them into vector moves that would stall on store forwarding. Not
// inlined, so that each size saves only the registers it uses.
template <std::size_t n, class Traits, class T, std::size_t... I>
[[gnu::noinline]] void sort_group(const T* src, T* dst, std::index_sequence<I...>) {
    T r[n] = {src[I]...};
    run_network<kNetworkFor<n>, Traits>(r, std::make_index_sequence<kNetworkFor<n>.size()>{});
    ((dst[I] = r[I]), ...);
}

template <std::size_t n, class Traits, class T>
[[gnu::always_inline]] inline void sort_group(const T* src, T* dst) {
    sort_group<n, Traits>(src, dst, std::make_index_sequence<n>{});
}

// Sorts src[0, n) into dst[0, n), n <= 16, through the network made for n.
template <class Traits, class T>
void sort_short_group(const T* src, std::size_t n, T* dst) {
    switch (n) {
        case 2: return sort_group<2, Traits>(src, dst);
        case 3: return sort_group<3, Traits>(src, dst);
        case 4: return sort_group<4, Traits>(src, dst);
        case 5: return sort_group<5, Traits>(src, dst);
        case 6: return sort_group<6, Traits>(src, dst);
        case 7: return sort_group<7, Traits>(src, dst);
        case 8: return sort_group<8, Traits>(src, dst);
        case 9: return sort_group<9, Traits>(src, dst);
        case 10: return sort_group<10, Traits>(src, dst);
        case 11: return sort_group<11, Traits>(src, dst);
        case 12: return sort_group<12, Traits>(src, dst);
        case 13: return sort_group<13, Traits>(src, dst);
        case 14: return sort_group<14, Traits>(src, dst);
        case 15: return sort_group<15, Traits>(src, dst);
        case 16: return sort_group<16, Traits>(src, dst);
        default: return;  // 0 or 1 element
    }
}

// Merges the sorted halves src[0, n/2) and src[n/2, n) into dst[0, n), branch-free: one
// cursor pair takes the smallest remaining element from the front while another takes
// the largest from the back, n/2 steps each. Ties go to the left half at the front and
// to the right half at the back, so the two ends agree and already ordered halves come
// out unchanged. Because the left half is the shorter one, neither end can run past a
// half before its last step, so every read stays inside src.
template <class Traits, class T>
void merge_halves(const T* src, std::size_t n, T* dst) {
    const std::size_t half = n / 2;
    const T* left = src;
    const T* right = src + half;
    const T* left_end = src + half;
    const T* right_end = src + n;
    T* out = dst;
    T* out_end = dst + n;
    for (std::size_t k = 0; k < half; ++k) {
        const bool take_right = Traits::less(*right, *left);
        *out++ = take_right ? *right : *left;
        right += take_right;
        left += !take_right;

        const bool take_left = Traits::less(right_end[-1], left_end[-1]);
        *--out_end = take_left ? left_end[-1] : right_end[-1];
        left_end -= take_left;
        right_end -= !take_left;
    }
    // An odd count leaves one element, in whichever half still has one.
    if (n % 2 != 0) *out = *(left < left_end ? left : right);
}

}  // namespace small_sort_detail

// Sorts v[0, n), n <= kSmallSortMax, ascending in the order of Traits without a
// data-dependent branch; v must hold no NaN. Already ordered input is left unchanged.
template <class Traits>
void small_sort(typename Traits::value_type* v, std::size_t n) {
    using T = typename Traits::value_type;
    using namespace small_sort_detail;
    if (n < 2) return;
    if (n <= 16) {
        sort_short_group<Traits>(v, n, v);
        return;
    }
    T buffer[kSmallSortMax];
    const std::size_t half = n / 2;
    if (n <= 32) {
        sort_short_group<Traits>(v, half, buffer);
        sort_short_group<Traits>(v + half, n - half, buffer + half);
        merge_halves<Traits>(buffer, n, v);
        return;
    }
    // Quarters of 8 to 16 elements, split so that every merge is between balanced halves.
    const std::size_t quarter_l = half / 2;
    const std::size_t quarter_r = (n - half) / 2;
    sort_short_group<Traits>(v, quarter_l, v);
    sort_short_group<Traits>(v + quarter_l, half - quarter_l, v + quarter_l);
    sort_short_group<Traits>(v + half, quarter_r, v + half);
    sort_short_group<Traits>(v + half + quarter_r, n - half - quarter_r, v + half + quarter_r);
    merge_halves<Traits>(v, half, buffer);
    merge_halves<Traits>(v + half, n - half, buffer + half);
    merge_halves<Traits>(buffer, n, v);
}

}  // namespace tamarind::simd
