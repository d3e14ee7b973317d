// Multi-threaded radix sort of a whole slice, in place: on a worker pool built for the
// call, run detection with peeka_sort on every unsorted stretch and a merge of the
// stretches. Compiled once for f64 and once for i64 (mt_radix_sort.cpp). Slices below the
// comparison thresholds are the parallel comparison sort's (the module's entry chooses;
// that sort lives in slice/, which builds on this folder).
#pragma once

#include <cstddef>

#include "traits/traits.hpp"

namespace tamarind {

// f64 slices below this length take the parallel comparison sort instead.
inline constexpr std::size_t kMtF64ComparisonBelow = 800'000;
// i64 slices below this length take the parallel comparison sort instead.
inline constexpr std::size_t kMtI64ComparisonBelow = 10'000'000;

// Chunk length of the parallel partition for an f64 slice of n elements (a chunk count
// from 5 000 000 000 elements on, which is why the last row is small).
constexpr std::size_t mt_f64_chunk_size(std::size_t n) noexcept {
    if (n < 1'000'000) return 100'000;
    if (n < 5'000'000) return 200'000;
    if (n < 20'000'000) return 500'000;
    if (n < 500'000'000) return 400'000;
    if (n < 5'000'000'000ULL) return 500'000;
    return 5'000;
}

// The same for i64.
constexpr std::size_t mt_i64_chunk_size(std::size_t n) noexcept {
    if (n < 60'000'000) return 500'000;
    if (n < 5'000'000'000ULL) return 700'000;
    return 5'000;
}

// The processor count, or 4 when the platform reports none.
std::size_t mt_thread_count() noexcept;

// f64: a NaN met by a comparison ends the call with a panic; a NaN that only radix passes
// met ends it with the same panic unless the result is in key order (-0.0 equal to +0.0).
void mt_radix_sort(f64* v, std::size_t n);

// i64: cannot fail except for a pool that cannot be built.
void mt_radix_sort(i64* v, std::size_t n);

}  // namespace tamarind
