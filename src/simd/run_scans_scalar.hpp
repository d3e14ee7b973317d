// The run scans without vector instructions beyond the x86-64 baseline: the entries the
// scalar kernel table holds (scalar_run_scans<run_order_of<T>>), and the scans of any
// other order a test instantiates run detection with. Blocks of eight pairs are tested
// without short-circuit, then the last pairs one by one.
#pragma once

#include <bit>
#include <cstddef>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "simd/kernels.hpp"

namespace tamarind::simd {

// Pairs per block of the scalar scans.
inline constexpr std::size_t kScalarRunStepPairs = 8;

// Whether the eight pairs (x[j], x[j + 1]), j < 8, all pass `test` under Order.
template <class Order, PairTest test>
inline bool scalar_pairs_hold(const typename Order::value_type* x) noexcept {
    using T = typename Order::value_type;
    if constexpr (test == PairTest::kEqual && std::is_same_v<Order, run_order_of<T>>) {
#if defined(__SSE2__)
        // Equality in the run orders is equality of bits, sixteen bytes at a time; neighbours
        // all equal means all equal to x[0].
        const __m128i first = _mm_set1_epi64x(std::bit_cast<long long>(x[0]));
        auto at = [&](int j) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + j)); };
        __m128i ok = _mm_cmpeq_epi8(first, at(1));
        for (int j = 3; j < 9; j += 2) ok = _mm_and_si128(ok, _mm_cmpeq_epi8(first, at(j)));
        return _mm_movemask_epi8(ok) == 0xFFFF;
#endif
    }
    bool ok = true;
    for (std::size_t j = 0; j < kScalarRunStepPairs; ++j) ok &= pair_holds<Order, test>(x[j], x[j + 1]);
    return ok;
}

template <class Order, PairTest test>
std::size_t scalar_run_forward(const typename Order::value_type* x, std::size_t k, std::size_t n) noexcept {
    while (k + kScalarRunStepPairs + 1 <= n && scalar_pairs_hold<Order, test>(x + k)) k += kScalarRunStepPairs;
    while (k + 1 < n && pair_holds<Order, test>(x[k], x[k + 1])) ++k;
    return k;
}

template <class Order, PairTest test>
std::size_t scalar_run_backward(const typename Order::value_type* x, std::size_t s, std::size_t k) noexcept {
    while (k >= s + kScalarRunStepPairs && scalar_pairs_hold<Order, test>(x + k - kScalarRunStepPairs))
        k -= kScalarRunStepPairs;
    while (k > s && pair_holds<Order, test>(x[k - 1], x[k])) --k;
    return k;
}

template <class Order>
constexpr RunScans<typename Order::value_type> scalar_run_scans() {
    using P = PairTest;
    return {{&scalar_run_forward<Order, P::kAscending>, &scalar_run_forward<Order, P::kDescending>,
             &scalar_run_forward<Order, P::kEqual>},
            {&scalar_run_backward<Order, P::kAscending>, &scalar_run_backward<Order, P::kDescending>,
             &scalar_run_backward<Order, P::kEqual>}};
}

template <class Order>
inline constexpr RunScans<typename Order::value_type> kScalarRunScans = scalar_run_scans<Order>();

}  // namespace tamarind::simd
