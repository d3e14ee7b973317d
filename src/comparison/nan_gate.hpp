// The NaN gate in front of the comparison sorts on an element type's own order. IEEE
// comparison has no answer for a NaN, so an f64 slice of two or more elements that holds
// one cannot be sorted by comparison: the gate stops the call with the comparator's panic
// (kNoneUnwrap) before any element moves. A single element is never compared, so it
// passes. Below the gate the sorts run on KernelOrder, which cannot fail; integer element
// types have nothing to scan and pass without a look.
#pragma once

#include <cstddef>

#include "entries/handoff_rules.hpp"
#include "pool/join.hpp"
#include "simd/kernels.hpp"
#include "traits/traits.hpp"
#include "types/panic.hpp"

namespace tamarind {

// Whether v[0, n) holds an element the IEEE comparison cannot order (a NaN), by the kernel
// table's scan.
template <class Traits>
bool has_nan(const typename Traits::value_type* v, std::size_t n) {
    if constexpr (Traits::kMayBeUnordered) {
        return simd::best_kernels()->has_nan(v, n);
    } else {
        return false;
    }
}

// has_nan, spread over the pool in halves above kParallelScanMin elements.
template <class Traits>
bool has_nan_on_pool(const typename Traits::value_type* v, std::size_t n) {
    if (n <= kParallelScanMin) return has_nan<Traits>(v, n);
    const std::size_t half = n / 2;
    bool left = false;
    bool right = false;
    pool::join([&] { left = has_nan_on_pool<Traits>(v, half); },
               [&] { right = has_nan_on_pool<Traits>(v + half, n - half); });
    return left || right;
}

// The gate: panics if v[0, n), n >= 2, holds a NaN; nothing has moved then.
template <class Traits>
void check_no_nan(const typename Traits::value_type* v, std::size_t n) {
    if (n >= 2 && has_nan<Traits>(v, n)) [[unlikely]]
        panic(kNoneUnwrap);
}

// The same gate for a slice about to be sorted on the pool: a long slice is scanned there
// (a worker is woken first, so that its wake-up overlaps the scan's start). Integers fork
// nothing onto the pool for it.
template <class Traits>
void check_no_nan_on_pool(const typename Traits::value_type* v, std::size_t n) {
    if constexpr (Traits::kMayBeUnordered) {
        if (n < 2) return;
        const bool scan_on_pool = n > kParallelScanMin;
        if (scan_on_pool) pool::wake_for_work_soon();
        const bool found = scan_on_pool ? has_nan_on_pool<Traits>(v, n) : has_nan<Traits>(v, n);
        if (found) [[unlikely]]
            panic(kNoneUnwrap);
    }
}

}  // namespace tamarind
