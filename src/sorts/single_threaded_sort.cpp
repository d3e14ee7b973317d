#include "sorts/single_threaded_sort.hpp"

#include <vector>

#include "algo/k_way_merge.hpp"
#include "algo/verge_sort_heuristic.hpp"
#include "sorts/dlsd_sort.hpp"
#include "sorts/entry_thresholds.hpp"
#include "sorts/rollercoaster_sort.hpp"
#include "sorts/utils.hpp"

namespace tamarind {

namespace {

// Run detection, the fallback on every other stretch, then the merge of the stretches.
template <class Traits, class Fallback>
void presorted_radix_sort(typename Traits::value_type* v, std::size_t n, Fallback&& fallback) {
    std::vector<u64> boundaries = verge_sort_heuristic<Traits>(v, n, fallback);
    k_way_merge<Traits>(v, n, boundaries);
}

}  // namespace

void single_threaded_sort(f64* v, std::size_t n) {
    if (n > kStF64ComparisonMax) {
        // Set by the fallbacks' key scans when a NaN reached a radix path; only then can
        // IEEE comparisons in the merge or the prefix repair have left NaNs misplaced.
        bool nan_seen = false;
        if (n >= kStF64RollercoasterMin) {
            presorted_radix_sort<F64Traits>(v, n, [&](f64* chunk, std::size_t m, u64 radix) {
                rollercoaster_sort<F64Traits>(chunk, m, radix, &nan_seen);
            });
        } else {
            presorted_radix_sort<F64Traits>(v, n, [&](f64* chunk, std::size_t m, u64 radix) {
                dlsd_sort<F64Traits>(chunk, m, radix, &nan_seen);
            });
        }
        if (nan_seen) [[unlikely]]
            panic_unless_key_ordered<F64Traits>(v, n);
        return;
    }
    comparison_sort<F64Traits>(v, n);
}

void single_threaded_sort(i64* v, std::size_t n) {
    if (n > kStI64ComparisonMax) {
        presorted_radix_sort<I64Traits>(v, n, [](i64* chunk, std::size_t m, u64 radix) {
            rollercoaster_sort<I64Traits>(chunk, m, radix);
        });
        return;
    }
    comparison_sort<I64Traits>(v, n);
}

}  // namespace tamarind
