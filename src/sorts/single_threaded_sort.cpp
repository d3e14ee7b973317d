#include "sorts/single_threaded_sort.hpp"

#include <vector>

#include "algo/k_way_merge.hpp"
#include "algo/verge_sort_heuristic.hpp"
#include "sorts/dlsd_sort.hpp"
#include "sorts/entry_thresholds.hpp"
#include "sorts/few_keys_sort.hpp"
#include "sorts/float_keys.hpp"
#include "sorts/rollercoaster_sort.hpp"

namespace tamarind {

void single_threaded_sort(f64* v, std::size_t n) {
    if (n <= kStF64ComparisonMax) {
        comparison_sort<F64Traits>(v, n);
        return;
    }
    // Runs are found in key order and every other stretch is sorted as keys, so the result
    // is in totalOrder and no NaN meets an IEEE comparison. The fallback is chosen once, on
    // the length of the whole slice.
    const bool rollercoaster = n >= kStF64RollercoasterMin;
    auto fallback = few_keys_first<F64KeyOrderTraits>([rollercoaster](f64* chunk, std::size_t m) {
        F64AsKeys as_keys(chunk, m);
        if (rollercoaster)
            rollercoaster_sort<U64Traits>(as_keys.keys(), m, kByteRadix);
        else
            dlsd_sort<U64Traits>(as_keys.keys(), m, kByteRadix);
        as_keys.release();
    });
    std::vector<u64> boundaries = verge_sort_heuristic<F64KeyOrderTraits>(v, n, fallback);
    // The merge compares on every step of a dependency chain: it runs on the keys, where a
    // comparison is one instruction, at the price of two passes that vectorize.
    if (boundaries.size() >= 3) {
        F64AsKeys as_keys(v, n);
        k_way_merge<U64Traits>(as_keys.keys(), n, boundaries);
        as_keys.release();
    }
}

void single_threaded_sort(i64* v, std::size_t n) {
    if (n <= kStI64ComparisonMax) {
        comparison_sort<I64Traits>(v, n);
        return;
    }
    auto fallback = few_keys_first<I64Traits>([](i64* chunk, std::size_t m) { rollercoaster_sort<I64Traits>(chunk, m, kByteRadix); });
    std::vector<u64> boundaries = verge_sort_heuristic<I64Traits>(v, n, fallback);
    k_way_merge<I64Traits>(v, n, boundaries);
}

}  // namespace tamarind
