// Single-threaded pattern-defeating quicksort against std::sort on random f64 and i64.
// Usage: bench_quicksort [n = 1000000] [runs = 11]
// Every run sorts a fresh copy of the same input; the table shows the median ns per
// element and its ratio to std::sort on the same data (below 1 is faster). The f64 rows
// also show the cost of the NaN check in the comparator against a plain '<'.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "comparison/comparison_sort.hpp"
#include "comparison/parallel_quicksort.hpp"
#include "traits/traits.hpp"

using namespace tamarind;

namespace {

struct PlainLess {
    template <class T>
    bool operator()(T a, T b) const { return a < b; }
};

// The element type's comparator, which panics on a NaN.
template <class Traits>
struct EngineLess {
    bool operator()(typename Traits::value_type a, typename Traits::value_type b) const { return Traits::is_less(a, b); }
};

// Sorts a fresh copy of input once; returns ns per element. Exits if the result is unsorted.
template <class T, class Sort>
double ns_per_element(const std::vector<T>& input, std::vector<T>& scratch, Sort sort) {
    std::copy(input.begin(), input.end(), scratch.begin());
    const auto start = std::chrono::steady_clock::now();
    sort(scratch.data(), scratch.size());
    const auto stop = std::chrono::steady_clock::now();
    if (!std::is_sorted(scratch.begin(), scratch.end())) {
        std::fprintf(stderr, "not sorted\n");
        std::exit(1);
    }
    return std::chrono::duration<double, std::nano>(stop - start).count() / static_cast<double>(input.size());
}

struct Row {
    std::string name;
    double ns;
};

template <class Traits>
void bench_type(const char* type, const std::vector<typename Traits::value_type>& input, std::size_t runs) {
    using T = typename Traits::value_type;
    // Interleave the contenders run by run so that drifting machine load hits them alike.
    std::vector<Row> rows = {
        {"std::sort (<)", 0},
        {"parallel_quicksort (engine comparator)", 0},
        {"parallel_quicksort (<)", 0},
        {"unstable_sort (engine comparator)", 0},
        {"std::sort (engine comparator)", 0},
    };
    std::vector<std::vector<double>> samples(rows.size());
    std::vector<T> scratch(input.size());
    for (std::size_t r = 0; r < runs; ++r) {
        samples[0].push_back(ns_per_element(input, scratch, [](T* v, std::size_t n) { std::sort(v, v + n); }));
        samples[1].push_back(ns_per_element(
            input, scratch, [](T* v, std::size_t n) { parallel_quicksort<Traits>(v, n); }));
        samples[2].push_back(
            ns_per_element(input, scratch, [](T* v, std::size_t n) { parallel_quicksort(v, n, PlainLess{}); }));
        samples[3].push_back(
            ns_per_element(input, scratch, [](T* v, std::size_t n) { unstable_sort<Traits>(v, n); }));
        samples[4].push_back(
            ns_per_element(input, scratch, [](T* v, std::size_t n) { std::sort(v, v + n, EngineLess<Traits>{}); }));
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::vector<double>& s = samples[i];
        std::nth_element(s.begin(), s.begin() + s.size() / 2, s.end());
        rows[i].ns = s[s.size() / 2];
    }
    std::printf("\n%s, n = %zu, median of %zu runs\n", type, input.size(), runs);
    std::printf("  %-42s %10s %10s\n", "sort", "ns/elem", "vs std");
    for (const Row& row : rows)
        std::printf("  %-42s %10.2f %10.3f\n", row.name.c_str(), row.ns, row.ns / rows[0].ns);
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
    const std::size_t runs = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 11;

    std::mt19937_64 rng(42);
    std::vector<f64> doubles(n);
    std::uniform_real_distribution<f64> uniform(-1e9, 1e9);
    for (f64& x : doubles) x = uniform(rng);
    std::vector<i64> ints(n);
    for (i64& x : ints) x = static_cast<i64>(rng());

    bench_type<F64Traits>("random f64", doubles, runs);
    bench_type<I64Traits>("random i64", ints, runs);
    return 0;
}
