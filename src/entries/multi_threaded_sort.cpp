#include <algorithm>
#include <cmath>

#include "comparison/parallel_quicksort.hpp"
#include "entries/entries.hpp"
#include "entries/mt_radix_sort.hpp"
#include "entries/radix_or_quicksort.hpp"
#include "entries/short_counts.hpp"
#include "radix/few_keys_sort.hpp"
#include "runs/lift_and_merge.hpp"
#include "runs/verge_sort_heuristic.hpp"
#include "traits/float_keys.hpp"
#include "traits/traits.hpp"

namespace tamarind {

namespace {

// Settles a slice already in order (all equal included) or reversed by one scan, as the
// single-threaded entry's run detection does, before the count of few keys and the NaN scan
// read it again. The scan is in key order, where a NaN can only stand at either end: one
// there raises before anything moves, as the NaN gate would.
bool in_order_or_reversed(f64* v, std::size_t n) {
    if (n < 2) return true;
    const Order order = check_order<F64KeyOrderTraits>(v, n);
    if (order == Order::Neither) return false;
    if (std::isnan(v[0]) || std::isnan(v[n - 1])) [[unlikely]]
        panic(kNoneUnwrap);
    if (order == Order::Descending) std::reverse(v, v + n);
    return true;
}

// Slices below the radix paths: a few distinct values, or (int64) a narrow range, are
// counted; int64 keys that spread evenly take the in-cache radix sort on the calling thread
// (sort_short_i64), others the parallel quicksort. Any NaN makes the count of few keys decline
// before it moves anything (sampled, or not among the sampled keys), and the quicksort
// then raises on it as it would have.
void sort_below_mt_radix(f64* v, std::size_t n) {
    if (in_order_or_reversed(v, n)) return;
    if (few_keys_sort<F64Traits>(v, n)) return;
    // The gate before lift_and_merge, which moves elements: a NaN raises with none moved.
    check_no_nan_on_pool<F64Traits>(v, n);
    if (lift_and_merge<F64Traits>(v, n, [](f64* w, std::size_t m) { parallel_quicksort_nan_free<F64Traits>(w, m); })) return;
    parallel_quicksort_nan_free<F64Traits>(v, n);
}

void sort_below_mt_radix(i64* v, std::size_t n) {
    if (count_short_slice(v, n)) return;
    if (lift_and_merge<I64Traits>(v, n, [](i64* w, std::size_t m) { parallel_quicksort<I64Traits>(w, m); })) return;
    sort_short_i64(v, n, [](i64* w, std::size_t m) { parallel_quicksort<I64Traits>(w, m); });
}

}  // namespace

void multi_threaded_sort(f64* v, std::size_t n) {
    if (n >= kMtF64ComparisonBelow) {
        mt_radix_sort(v, n);
        return;
    }
    sort_below_mt_radix(v, n);
}

void multi_threaded_sort(i64* v, std::size_t n) {
    if (n >= kMtI64ComparisonBelow) {
        mt_radix_sort(v, n);
        return;
    }
    if (n >= kMtI64GlobalRadixMin) {
        radix_sort_on_global_pool(v, n);
        return;
    }
    sort_below_mt_radix(v, n);
}

void quicksort_on_global_pool(f64* v, std::size_t n) { parallel_quicksort<F64Traits>(v, n); }
void quicksort_on_global_pool(i64* v, std::size_t n) { parallel_quicksort<I64Traits>(v, n); }

}  // namespace tamarind
