// Vector kernels under the comparison sorts and run detection: partition around a pivot
// value, sorting networks for short slices held in registers, the scans the sorts'
// contract needs, and the run scans. One implementation per instruction set (AVX2,
// AVX-512), each compiled in its own translation unit for its own target; the best one the
// processor supports is chosen once per process (best_kernels). On processors without them
// (and on other architectures) the sorts keep their scalar code.
//
// Every kernel but the run scans orders f64 by IEEE comparison (-0.0 equals +0.0) and
// expects no NaN: the sorts scan for NaN first. i64 sorts signed, u64 unsigned. Kernels
// move elements only inside the slice they are given and never lose or duplicate one:
// equal elements that differ in bits (the two zeros) may trade places, never copies.
//
// The run scans order each element type by its run order (run_order_of): f64 by key
// (IEEE 754 totalOrder: -0.0 before +0.0, NaNs at the ends by sign, equal means the same
// bits), i64 signed, u64 unsigned; any bit pattern is fine there.
#pragma once

#include <cstddef>
#include <type_traits>

#include "simd/cpu.hpp"
#include "traits/traits.hpp"

namespace tamarind::simd {

// Longest slice a sorting network takes.
inline constexpr std::size_t kNetworkMax = 128;

// The pair tests of run detection: x[j] <= x[j + 1], x[j + 1] <= x[j], x[j] == x[j + 1].
enum class PairTest { kAscending, kDescending, kEqual };
inline constexpr std::size_t kPairTests = 3;

// The order run detection scans each element type in (see the top of this file).
template <class T>
struct RunOrder;
template <>
struct RunOrder<f64> {
    using type = F64KeyOrderTraits;
};
template <>
struct RunOrder<i64> {
    using type = I64Traits;
};
template <>
struct RunOrder<u64> {
    using type = U64Traits;
};
template <class T>
using run_order_of = typename RunOrder<T>::type;

// One pair test under Order, which never fails.
template <class Order, PairTest test>
inline bool pair_holds(typename Order::value_type a, typename Order::value_type b) noexcept {
    if constexpr (test == PairTest::kAscending) return Order::less_equal(a, b);
    else if constexpr (test == PairTest::kDescending) return Order::less_equal(b, a);
    else return Order::equal(a, b);
}

// How far a run of pairs passing one test extends, for each test (indexed by PairTest).
template <class T>
struct RunScans {
    // The first j >= k (k < n) with j + 1 == n or (v[j], v[j + 1]) failing the test.
    using Forward = std::size_t (*)(const T* v, std::size_t k, std::size_t n);
    // The least j in [s, k] such that every pair (v[i - 1], v[i]), j < i <= k, passes.
    using Backward = std::size_t (*)(const T* v, std::size_t s, std::size_t k);
    Forward forward[kPairTests];
    Backward backward[kPairTests];
};

template <class T>
struct Kernels {
    // Moves the elements of v[0, n) that are less than pivot to the front; returns how many.
    std::size_t (*partition_less)(T* v, std::size_t n, T pivot);
    // The same for the elements not greater than pivot (less or equal).
    std::size_t (*partition_not_greater)(T* v, std::size_t n, T pivot);
    // Sorts v[0, n), n <= kNetworkMax, without a data-dependent branch.
    void (*sort_network)(T* v, std::size_t n);
    // Whether no element of v[0, n) is less than the one before it.
    bool (*is_non_descending)(const T* v, std::size_t n);
    // Whether every element of v[0, n) is less than the one before it.
    bool (*is_strictly_descending)(const T* v, std::size_t n);
    // The run scans, in run_order_of<T>.
    RunScans<T> run_scans;
};

struct KernelSet {
    Isa isa;
    const char* name;
    Kernels<f64> f64s;
    Kernels<i64> i64s;
    Kernels<u64> u64s;
    // Whether v[0, n) holds a NaN.
    bool (*has_nan)(const f64* v, std::size_t n);

    template <class T>
    const Kernels<T>& of() const noexcept {
        if constexpr (std::is_same_v<T, f64>) return f64s;
        else if constexpr (std::is_same_v<T, i64>) return i64s;
        else return u64s;
    }
};

// The kernels of one instruction set, or null when this processor (or this build's
// architecture) lacks it; *why_not (when given) then says which.
const KernelSet* kernels_for(Isa isa, const char** why_not = nullptr) noexcept;

// The widest kernels this processor runs, or null for none; decided on the first call.
const KernelSet* best_kernels() noexcept;

// The order of a traits type for slices checked free of NaN, carrying the kernels the
// sorts run on: the comparison sorts use them wherever they meet this comparator.
template <class Traits>
struct KernelLess {
    using traits_type = Traits;
    using value_type = typename Traits::value_type;
    const Kernels<value_type>* kernels;
    bool operator()(value_type a, value_type b) const noexcept { return Traits::less(a, b); }
};

template <class Less>
inline constexpr bool kHasKernels = false;
template <class Traits>
inline constexpr bool kHasKernels<KernelLess<Traits>> = true;

}  // namespace tamarind::simd

namespace tamarind {

template <class Traits>
inline constexpr bool kIsOrderedLess<simd::KernelLess<Traits>> = true;

// A slice handed on with KernelLess has been checked already.
template <class Traits>
void check_ordered(const typename Traits::value_type*, std::size_t, const simd::KernelLess<Traits>&) noexcept {}

}  // namespace tamarind
