// The scalar kernels: baseline code that every processor runs, the table best_kernels
// falls back on without AVX2 (or with vector code turned off, or off x86-64). The block
// partition, the branch-free small sort and plain element by element scans, with the
// element type's own order.
#include <algorithm>
#include <cstddef>

#include "simd/block_partition.hpp"
#include "simd/kernels.hpp"
#include "simd/run_scans_scalar.hpp"
#include "simd/small_sort.hpp"
#include "traits/traits.hpp"

namespace tamarind::simd {
namespace {

// The element type's order on slices free of NaN; never fails.
template <class Traits>
struct OrderOf {
    using T = typename Traits::value_type;
    bool operator()(T a, T b) const noexcept { return Traits::less(a, b); }
};

template <class Traits>
std::size_t partition_less(typename Traits::value_type* v, std::size_t n, typename Traits::value_type pivot) {
    return partition_in_blocks(v, n, pivot, OrderOf<Traits>{});
}

template <class Traits>
std::size_t partition_not_greater(typename Traits::value_type* v, std::size_t n, typename Traits::value_type pivot) {
    return swap_partition_not_greater(v, n, pivot, OrderOf<Traits>{});
}

// The small sort leaves sorted input as it is and, on strictly descending input (whose
// elements all differ), has only the reversal to give: no order scans are needed first.
template <class Traits>
void sort_short(typename Traits::value_type* v, std::size_t n) {
    small_sort<Traits>(v, n);
}

template <class Traits>
bool is_non_descending(const typename Traits::value_type* v, std::size_t n) {
    return std::is_sorted(v, v + n, OrderOf<Traits>{});
}

template <class Traits>
bool is_strictly_descending(const typename Traits::value_type* v, std::size_t n) {
    for (std::size_t i = 1; i < n; ++i) {
        if (!Traits::less(v[i], v[i - 1])) return false;
    }
    return true;
}

template <class Traits>
std::size_t non_descending_prefix(const typename Traits::value_type* v, std::size_t n) {
    if (n == 0) return 0;
    std::size_t i = 1;
    while (i < n && !Traits::less(v[i], v[i - 1])) ++i;
    return i;
}

template <class Traits>
constexpr Kernels<typename Traits::value_type> scalar_kernels_of() {
    return {
        .network_max = kSmallSortMax,
        .short_sort_base_case = kSmallSortMax,
        .partition_less = &partition_less<Traits>,
        .partition_not_greater = &partition_not_greater<Traits>,
        .sort_network = &small_sort<Traits>,
        .sort_short = &sort_short<Traits>,
        .is_non_descending = &is_non_descending<Traits>,
        .is_strictly_descending = &is_strictly_descending<Traits>,
        .non_descending_prefix = &non_descending_prefix<Traits>,
        .run_scans = scalar_run_scans<run_order_of<typename Traits::value_type>>(),
    };
}

}  // namespace

extern const KernelSet kScalarKernels;
const KernelSet kScalarKernels = {
    Isa::kScalar, "scalar", scalar_kernels_of<F64Traits>(), scalar_kernels_of<I64Traits>(), scalar_kernels_of<U64Traits>(),
    &F64Traits::has_unordered, nullptr, nullptr,
};

}  // namespace tamarind::simd
