// The kernels under the comparison sorts, run detection and the multi-way partition:
// partition around a pivot value, sorts of short slices without a data-dependent branch,
// the scans the sorts' contract needs, the run scans, and the classification among
// splitters. One table per instruction set: the scalar one (kernels_scalar.cpp, baseline
// code that every processor runs), AVX2 and AVX-512 (each compiled in its own translation
// unit for its own target; the AVX-512 table takes AVX2's order, run and NaN scans, which
// are faster on it, see dispatch.cpp). best_kernels picks the widest the processor supports, once per process, and always finds one: the sorts have a single code
// path, on whichever table it is.
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
#include "types/element.hpp"

namespace tamarind::simd {

// Longest slice a vector sorting network takes: AVX-512's, whose 32 registers hold 32
// vectors of 8 (AVX2's takes 128). On Zen 5, 256 against 128 took the AVX-512 quicksort of
// random float64 from 1.54 to 1.26 ns per element at 10^3, 3.93 to 2.60 at 10^5 and 4.88 to
// 3.84 at 10^6 (int64 1.48 to 1.31, 3.55 to 2.39, 4.53 to 3.70); 512, in two halves, was
// slower below 10^4 and no faster above.
inline constexpr std::size_t kNetworkMax = 256;
// Sorts up to this long use the table's short_sort_base_case. Measured on AVX2 int64: the
// base case of 64 is 15% ahead at 10^3, 10% at 10^4 and 2% at 20 000, 3% behind at 40 000.
inline constexpr std::size_t kShortQuicksortMax = 1 << 15;

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
    // Longest slice sort_network and sort_short take (the base case of the quicksort on
    // this table): at most kNetworkMax, less for the scalar one.
    std::size_t network_max;
    // The base case the quicksort prefers in sorts of up to kShortQuicksortMax elements, at
    // most network_max: where the exchanges of a network are dear (AVX2 has no 64-bit
    // integer min or max), a short sort does better with one more partition level and
    // networks half as long.
    std::size_t short_sort_base_case;
    // Moves the elements of v[0, n) that are less than pivot to the front; returns how many.
    std::size_t (*partition_less)(T* v, std::size_t n, T pivot);
    // The same for the elements not greater than pivot (less or equal).
    std::size_t (*partition_not_greater)(T* v, std::size_t n, T pivot);
    // Sorts v[0, n), n <= network_max, without a data-dependent branch.
    void (*sort_network)(T* v, std::size_t n);
    // Sorts v[0, n), n <= network_max, leaving non-descending input unchanged (bit for bit:
    // equal -0.0 and +0.0 too) and reversing strictly descending input.
    void (*sort_short)(T* v, std::size_t n);
    // Whether no element of v[0, n) is less than the one before it.
    bool (*is_non_descending)(const T* v, std::size_t n);
    // Whether every element of v[0, n) is less than the one before it.
    bool (*is_strictly_descending)(const T* v, std::size_t n);
    // The length of the longest prefix of v[0, n) in which no element is less than the one
    // before it (n when the whole slice is non-descending).
    std::size_t (*non_descending_prefix)(const T* v, std::size_t n);
    // The run scans, in run_order_of<T>.
    RunScans<T> run_scans;
};

// The multi-way partition's classification of elements among up to kClassifyMax sorted
// splitters (partition/multiway_partition.hpp): out[i] = how many of the k splitters lie
// below v[i] in NumPy's order (f64: -0.0 equal to +0.0, NaNs equal to one another and above
// every number; i64 signed), or kClassifyTie where v[i] equals one of them. `splitters` holds
// kClassifyMax + 1 signed keys: the k splitters' (the f64 order as integers, NaN the largest),
// ascending, then the largest i64 in the rest.
inline constexpr std::size_t kClassifyMax = 15;
inline constexpr unsigned char kClassifyTie = 0xFF;
template <class T>
using ClassifyKernel = void (*)(const T* v, std::size_t n, const i64* splitters, std::size_t k, unsigned char* out);

struct KernelSet {
    Isa isa;
    const char* name;
    Kernels<f64> f64s;
    Kernels<i64> i64s;
    Kernels<u64> u64s;
    // Whether v[0, n) holds a NaN.
    bool (*has_nan)(const f64* v, std::size_t n);
    // The classification above, or null where the table has none (the scalar one: the
    // partition's splitter table classifies there).
    ClassifyKernel<f64> classify_f64;
    ClassifyKernel<i64> classify_i64;

    template <class T>
    const Kernels<T>& of() const noexcept {
        if constexpr (std::is_same_v<T, f64>) return f64s;
        else if constexpr (std::is_same_v<T, i64>) return i64s;
        else return u64s;
    }
    template <class T>
    ClassifyKernel<T> classify() const noexcept {
        if constexpr (std::is_same_v<T, f64>) return classify_f64;
        else return classify_i64;
    }
};

#if defined(__x86_64__)
// The AVX2 table's NaN scan, which the AVX-512 table shares (kernels_avx512.cpp says why).
bool avx2_has_nan(const f64* v, std::size_t n);
#endif

// The kernels of one instruction set, or null when this processor (or this build's
// architecture) lacks it; *why_not (when given) then says which. The scalar kernels are
// always there.
const KernelSet* kernels_for(Isa isa, const char** why_not = nullptr) noexcept;

// The widest kernels this processor runs (the scalar ones at least), decided on the first
// call; never null.
const KernelSet* best_kernels() noexcept;

}  // namespace tamarind::simd
