// The kernels under the comparison sorts: partition around a pivot value, sorts of short
// slices without a data-dependent branch, and the scans the sorts' contract needs. One
// table per instruction set: the scalar one (kernels_scalar.cpp, baseline code that every
// processor runs), AVX2 and AVX-512 (each compiled in its own translation unit for its own
// target). best_kernels picks the widest the processor supports, once per process, and
// always finds one: the sorts have a single code path, on whichever table it is.
//
// Every kernel orders f64 by IEEE comparison (-0.0 equals +0.0) and expects no NaN: the
// sorts scan for NaN first. i64 sorts signed, u64 unsigned. Kernels move elements only
// inside the slice they are given and never lose or duplicate one: equal elements that
// differ in bits (the two zeros) may trade places, never copies.
#pragma once

#include <cstddef>
#include <type_traits>

#include "simd/cpu.hpp"
#include "types/element.hpp"

namespace tamarind::simd {

// Longest slice the vector sorting networks take.
inline constexpr std::size_t kNetworkMax = 128;

template <class T>
struct Kernels {
    // Longest slice sort_network and sort_short take (the base case of the quicksort on
    // this table): kNetworkMax for the vector tables, less for the scalar one.
    std::size_t network_max;
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
// architecture) lacks it; *why_not (when given) then says which. The scalar kernels are
// always there.
const KernelSet* kernels_for(Isa isa, const char** why_not = nullptr) noexcept;

// The widest kernels this processor runs (the scalar ones at least), decided on the first
// call; never null.
const KernelSet* best_kernels() noexcept;

}  // namespace tamarind::simd
