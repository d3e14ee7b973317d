// The comparison sorts on short random slices: ns per sort against std::sort and against
// the same sorts driven through a comparator, which takes their generic path (insertion
// sort below 21 elements, the quicksort with the checking comparator above).
// Usage: bench_small_sort [runs = 21]
// Each timing sorts a batch of fresh slices (different random contents, so the branch
// predictor cannot learn one), kept small enough to stay in cache; the table shows the
// median ns per sort and its ratio to std::sort (below 1 is faster).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "comparison/comparison_sort.hpp"
#include "comparison/insertion_sort.hpp"
#include "comparison/parallel_quicksort.hpp"
#include "traits/traits.hpp"

using namespace tamarind;

namespace {

// Elements per batch: about 256 KiB of f64 or i64.
constexpr std::size_t kBatchElements = 32 * 1024;

// The element type's comparator as a caller's: the sorts that take a comparator run the
// plain quicksort on it, as they did before the branch-free paths.
template <class Traits>
struct OpaqueLess {
    bool operator()(typename Traits::value_type a, typename Traits::value_type b) const {
        return Traits::is_less(a, b);
    }
};

// How the single-threaded entry sorts a short slice, on a comparator.
template <class T, class Less>
void entry_sort(T* v, std::size_t n, Less less) {
    if (n <= 20) {
        insertion_sort(v, n, less);
    } else {
        unstable_sort(v, n, less);
    }
}

// Sorts every slice of a fresh copy of the batch once; returns ns per sort.
template <class T, class Sort>
double ns_per_sort(const std::vector<T>& batch, std::vector<T>& scratch, std::size_t n, Sort sort) {
    std::copy(batch.begin(), batch.end(), scratch.begin());
    const std::size_t count = batch.size() / n;
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t k = 0; k < count; ++k) sort(scratch.data() + k * n, n);
    const auto stop = std::chrono::steady_clock::now();
    for (std::size_t k = 0; k < count; ++k) {
        if (!std::is_sorted(scratch.begin() + k * n, scratch.begin() + (k + 1) * n)) {
            std::fprintf(stderr, "not sorted\n");
            std::exit(1);
        }
    }
    return std::chrono::duration<double, std::nano>(stop - start).count() / static_cast<double>(count);
}

template <class Traits>
void bench_type(const char* type, std::size_t n, std::size_t runs, std::mt19937_64& rng) {
    using T = typename Traits::value_type;
    const std::size_t count = std::max<std::size_t>(64, kBatchElements / n);
    std::vector<T> batch(count * n);
    for (T& x : batch) {
        if constexpr (std::is_same_v<T, f64>) {
            x = std::uniform_real_distribution<f64>(-1e9, 1e9)(rng);
        } else {
            x = static_cast<T>(rng());
        }
    }
    std::vector<T> scratch(batch.size());

    const char* names[] = {"std::sort", "entry sort, generic path", "entry sort", "parallel_quicksort, generic path",
                           "parallel_quicksort"};
    constexpr std::size_t kRows = std::size(names);
    std::vector<double> samples[kRows];
    // Interleave the contenders run by run so that drifting machine load hits them alike.
    for (std::size_t r = 0; r < runs; ++r) {
        samples[0].push_back(ns_per_sort(batch, scratch, n, [](T* v, std::size_t m) { std::sort(v, v + m); }));
        samples[1].push_back(ns_per_sort(batch, scratch, n,
                                         [](T* v, std::size_t m) { entry_sort(v, m, OpaqueLess<Traits>{}); }));
        samples[2].push_back(
            ns_per_sort(batch, scratch, n, [](T* v, std::size_t m) { comparison_sort<Traits>(v, m); }));
        samples[3].push_back(ns_per_sort(
            batch, scratch, n, [](T* v, std::size_t m) { parallel_quicksort(v, m, OpaqueLess<Traits>{}); }));
        samples[4].push_back(ns_per_sort(batch, scratch, n,
                                         [](T* v, std::size_t m) { parallel_quicksort<Traits>(v, m); }));
    }
    double median[kRows];
    for (std::size_t i = 0; i < kRows; ++i) {
        std::vector<double>& s = samples[i];
        std::nth_element(s.begin(), s.begin() + s.size() / 2, s.end());
        median[i] = s[s.size() / 2];
    }
    for (std::size_t i = 0; i < kRows; ++i) {
        std::printf("  %-4s %5zu  %-34s %10.1f %8.3f\n", type, n, names[i], median[i], median[i] / median[0]);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t runs = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 21;
    std::mt19937_64 rng(42);
    std::printf("random input, median of %zu runs\n", runs);
    std::printf("  %-4s %5s  %-34s %10s %8s\n", "type", "n", "sort", "ns/sort", "vs std");
    for (std::size_t n : {16, 21, 32, 64, 128, 300}) {
        bench_type<F64Traits>("f64", n, runs, rng);
        bench_type<I64Traits>("i64", n, runs, rng);
    }
    return 0;
}
