#include "comparison/parallel_quicksort.hpp"
#include "entries/entries.hpp"
#include "entries/mt_radix_sort.hpp"
#include "radix/few_keys_sort.hpp"
#include "traits/traits.hpp"

namespace tamarind {

namespace {

template <class T>
void sort_below_mt_radix(T* v, std::size_t n) {
    // A slice of a few distinct values is counted. Any NaN makes the count decline before
    // it moves anything (sampled, or not among the sampled keys), and the quicksort then
    // raises on it as it would have.
    if (few_keys_sort<traits_of<T>>(v, n)) return;
    parallel_quicksort<traits_of<T>>(v, n);
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
