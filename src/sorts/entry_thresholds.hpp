// The lengths at which the entries change algorithm, in one table. single_threaded_sort
// and mt_radix_sort read them from here; the C++ tests use the names, and the Python tests
// parse this file to sort one below and at each, so moving a value moves the tests with it.
// Keep each on one line as `inline constexpr std::size_t kName = value;`.
#pragma once

#include <cstddef>

namespace tamarind {

// sort_f64_st: slices up to this long are sorted by comparison.
inline constexpr std::size_t kStF64ComparisonMax = 300;
// sort_f64_st: from this long the radix fallback is rollercoaster_sort, below it dlsd_sort.
inline constexpr std::size_t kStF64RollercoasterMin = 800;
// sort_i64_st: slices up to this long are sorted by comparison.
inline constexpr std::size_t kStI64ComparisonMax = 7000;
// sort_f64: slices below this long take the parallel comparison sort on the global pool.
inline constexpr std::size_t kMtF64ComparisonBelow = 800'000;
// sort_i64: slices below this long take the parallel comparison sort on the global pool.
inline constexpr std::size_t kMtI64ComparisonBelow = 10'000'000;

static_assert(kStF64ComparisonMax < kStF64RollercoasterMin, "dlsd_sort covers the lengths between");

}  // namespace tamarind
