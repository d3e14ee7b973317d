#include "entries/numpy_order_sort.hpp"

#include <utility>

#include "entries/entry_thresholds.hpp"
#include "entries/single_threaded_sort.hpp"
#include "traits/float_keys.hpp"

namespace tamarind {

namespace {

// Moves the NaNs of v[0, n) to its end, in their order, by exchanges; returns how many
// values precede them. Walking backwards, each NaN goes to the place just in front of the
// NaNs already moved, so they keep their order; the other values' order is not kept.
std::size_t move_nans_last(f64* v, std::size_t n) noexcept {
    std::size_t end = n;
    for (std::size_t i = n; i-- > 0;)
        if (v[i] != v[i]) std::swap(v[i], v[--end]);
    return end;
}

}  // namespace

void numpy_order_sort(f64* v, std::size_t n) {
    const std::size_t numbers = move_nans_last(v, n);
    if (numbers > kStF64ComparisonMax) {
        single_threaded_sort(v, numbers);
        return;
    }
    // The comparison sorts would leave the two zeros in either order.
    F64AsI64 ints(v, numbers);
    single_threaded_sort(ints.ints(), numbers);
    ints.release();
}

void numpy_order_sort(i64* v, std::size_t n) { single_threaded_sort(v, n); }

}  // namespace tamarind
