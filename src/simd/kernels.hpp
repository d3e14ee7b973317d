// Vector kernels under the comparison sorts: partition around a pivot value, sorting
// networks for short slices held in registers, and the scans the sorts' contract needs.
// One implementation per instruction set (AVX2, AVX-512), each compiled in its own
// translation unit for its own target; the best one the processor supports is chosen once
// per process (best_kernels). On processors without them (and on other architectures)
// the sorts keep their scalar code.
//
// Every kernel orders f64 by IEEE comparison (-0.0 equals +0.0) and expects no NaN: the
// sorts scan for NaN first. i64 sorts signed, u64 unsigned. Kernels move elements only
// inside the slice they are given and never lose or duplicate one: equal elements that
// differ in bits (the two zeros) may trade places, never copies.
#pragma once

#include <cstddef>
#include <type_traits>

#include "simd/cpu.hpp"
#include "traits/traits.hpp"

namespace tamarind::simd {

// Longest slice a sorting network takes.
inline constexpr std::size_t kNetworkMax = 128;

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
