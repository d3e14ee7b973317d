#include "entries/single_threaded_sort.hpp"

#include <vector>

#include "comparison/comparison_sort.hpp"
#include "comparison/float_quicksort.hpp"
#include "entries/entry_thresholds.hpp"
#include "entries/radix_or_quicksort.hpp"
#include "entries/short_counts.hpp"
#include "radix/few_keys_sort.hpp"
#include "radix/rollercoaster_sort.hpp"
#include "radix/sampled_msd_sort.hpp"
#include "runs/k_way_merge.hpp"
#include "runs/lift_and_merge.hpp"
#include "runs/verge_sort_heuristic.hpp"
#include "traits/float_keys.hpp"

namespace tamarind {

void single_threaded_stretch_sort(i64* v, std::size_t m) {
    switch (i64_stretch_sort(v, m)) {
        case StretchSort::kRadix: rollercoaster_sort<I64Traits>(v, m); break;
        case StretchSort::kInCacheRadix: rollercoaster_short<I64Traits>(v, m); break;
        default: unstable_sort<I64Traits>(v, m);
    }
}

void single_threaded_sort(f64* v, std::size_t n) {
    if (n <= kStF64ComparisonMax) {
        comparison_sort<F64Traits>(v, n);
        return;
    }
    // Runs are found in key order, stretches are sorted in it (the radix sort and the merge
    // on ordered integers), so no NaN meets an IEEE comparison.
    auto fallback = few_keys_first<F64KeyOrderTraits>(lift_first<F64KeyOrderTraits>([](f64* chunk, std::size_t m) {
        auto as_ints = [&](void (*sort)(i64*, std::size_t)) {
            F64AsI64 ints(chunk, m);
            sort(ints.ints(), m);
            ints.release();
        };
        // The sampled sort takes the keys' spread from the conversion, which reads every key.
        auto sampled = [&] {
            u64 spread;
            F64AsI64 ints(chunk, m, spread);
            sampled_msd_sort<I64Traits>(ints.ints(), m, spread);
            ints.release();
        };
        switch (st_f64_stretch_sort(chunk, m)) {
            case StretchSort::kSampledRadix: sampled(); break;
            case StretchSort::kRadix: as_ints(rollercoaster_sort<I64Traits>); break;
            case StretchSort::kInCacheRadix: as_ints(rollercoaster_short<I64Traits>); break;
            default: quicksort_in_total_order(chunk, m);
        }
    }));
    std::vector<u64> boundaries = runs_or_whole_slice<F64KeyOrderTraits>(v, n, fallback);
    // The merge compares on every step of a dependency chain: on integers a comparison is
    // one instruction, worth the two passes (which vectorize) that convert the slice.
    if (boundaries.size() >= 3) {
        F64AsI64 ints(v, n);
        k_way_merge<I64Traits>(ints.ints(), n, boundaries);
        ints.release();
    }
}

void single_threaded_sort(i64* v, std::size_t n) {
    if (n <= kStI64ComparisonMax) {
        if (count_short_slice(v, n)) return;
        if (!lift_and_merge<I64Traits>(v, n, comparison_sort<I64Traits>))
            sort_short_i64(v, n, comparison_sort<I64Traits>);
        return;
    }
    auto fallback = few_keys_first<I64Traits>(lift_first<I64Traits>(single_threaded_stretch_sort));
    std::vector<u64> boundaries = runs_or_whole_slice<I64Traits>(v, n, fallback);
    k_way_merge<I64Traits>(v, n, boundaries);
}

}  // namespace tamarind
