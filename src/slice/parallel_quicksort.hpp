// Pattern-defeating quicksort, parallel over the worker pool: the sequential step of
// sorts/quicksort.hpp with a fork policy that sorts the two sides of a large partition
// through pool::join, the left side on the current thread.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "pool/join.hpp"
#include "sorts/quicksort.hpp"

namespace tamarind {

// Splits through the pool: the left side runs here, the right one is offered to other
// workers.
struct PoolFork {
    static constexpr bool kParallel = true;
    template <class A, class B>
    static void join(A&& a, B&& b) {
        pool::join(a, b);
    }
};

// Sorts v[0, n) ascending under is_less, in place and unstably, splitting large partitions
// across the worker pool. Allocates nothing; a comparator panic (NaN for f64) propagates
// once every part has stopped and leaves v a permutation of its input.
template <class T, class Less>
void parallel_quicksort(T* v, std::size_t n, Less is_less) {
    const auto limit = static_cast<std::uint32_t>(std::bit_width(n));
    quicksort_step<PoolFork>(v, n, is_less, nullptr, limit);
}

}  // namespace tamarind
