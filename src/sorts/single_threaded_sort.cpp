#include "sorts/single_threaded_sort.hpp"

#include <vector>

#include "algo/k_way_merge.hpp"
#include "algo/verge_sort_heuristic.hpp"
#include "sorts/dlsd_sort.hpp"
#include "sorts/entry_thresholds.hpp"
#include "sorts/few_keys_sort.hpp"
#include "sorts/rollercoaster_sort.hpp"
#include "sorts/utils.hpp"

namespace tamarind {

namespace {

// Run detection, the fallback (or a count, where few keys repeat) on every other stretch,
// then the merge of the stretches.
// Where a NaN may hide, the result is checked unless every fallback call vouched that
// its stretch held none.
template <class Traits, class Fallback>
void presorted_radix_sort(typename Traits::value_type* v, std::size_t n, Fallback sort) {
    FallbackNanAudit<Traits, FewKeysFirst<Traits, Fallback>> fallback{{sort}};
    std::vector<u64> boundaries = verge_sort_heuristic<Traits>(v, n, fallback);
    k_way_merge<Traits>(v, n, boundaries);
    if constexpr (Traits::kMayBeUnordered) fallback.verify(v, n);
}

}  // namespace

void single_threaded_sort(f64* v, std::size_t n) {
    if (n > kStF64ComparisonMax) {
        // The fallback is chosen once, on the length of the whole slice.
        if (n >= kStF64RollercoasterMin)
            presorted_radix_sort<F64Traits>(v, n, [](f64* chunk, std::size_t m, u64 radix, bool* nan_free) {
                rollercoaster_sort<F64Traits>(chunk, m, radix, nan_free);
            });
        else
            presorted_radix_sort<F64Traits>(v, n, [](f64* chunk, std::size_t m, u64 radix, bool* nan_free) {
                dlsd_sort<F64Traits>(chunk, m, radix, nan_free);
            });
        return;
    }
    comparison_sort<F64Traits>(v, n);
}

void single_threaded_sort(i64* v, std::size_t n) {
    if (n > kStI64ComparisonMax) {
        presorted_radix_sort<I64Traits>(v, n, [](i64* chunk, std::size_t m, u64 radix, bool* nan_free) {
            rollercoaster_sort<I64Traits>(chunk, m, radix, nan_free);
        });
        return;
    }
    comparison_sort<I64Traits>(v, n);
}

}  // namespace tamarind
