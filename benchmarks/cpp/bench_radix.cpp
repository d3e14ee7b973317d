// Times single_threaded_sort against std::sort, ns per element, median of a few runs on
// fresh copies of the same input. Each result is also checked against std::sort.
//   bench_radix [sizes...]      e.g. bench_radix 100000 1000000 (default 1e5 1e6 1e7)
// TAMARIND_BENCH_FILTER=substring limits the distributions run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "entries/single_threaded_sort.hpp"

using namespace tamarind;

namespace {

template <class T>
using Gen = std::function<std::vector<T>(std::size_t, std::mt19937_64&)>;

template <class T>
struct Dist {
    const char* name;
    Gen<T> gen;
};

template <class T>
std::vector<T> nearly_sorted(std::vector<T> v, std::mt19937_64& rng) {
    std::sort(v.begin(), v.end());
    const std::size_t swaps = v.size() / 100;
    for (std::size_t k = 0; k < swaps; ++k) std::swap(v[rng() % v.size()], v[rng() % v.size()]);
    return v;
}

std::vector<f64> uniform_f64(std::size_t n, std::mt19937_64& rng) {
    std::uniform_real_distribution<f64> d(0.0, 1.0);
    std::vector<f64> v(n);
    for (auto& x : v) x = d(rng);
    return v;
}
std::vector<i64> uniform_i64(std::size_t n, std::mt19937_64& rng) {
    std::vector<i64> v(n);
    for (auto& x : v) x = static_cast<i64>(rng());
    return v;
}

template <class T>
std::vector<Dist<T>> shapes(Gen<T> random) {
    return {
        {"sorted", [=](std::size_t n, std::mt19937_64& r) { auto v = random(n, r); std::sort(v.begin(), v.end()); return v; }},
        {"reversed", [=](std::size_t n, std::mt19937_64& r) { auto v = random(n, r); std::sort(v.begin(), v.end(), std::greater<T>()); return v; }},
        {"nearly_sorted", [=](std::size_t n, std::mt19937_64& r) { return nearly_sorted(random(n, r), r); }},
        {"few_unique_16", [=](std::size_t n, std::mt19937_64& r) { auto pool = random(16, r); std::vector<T> v(n); for (auto& x : v) x = pool[r() % 16]; return v; }},
        {"all_equal", [=](std::size_t n, std::mt19937_64& r) { return std::vector<T>(n, random(1, r)[0]); }},
    };
}

std::vector<Dist<f64>> f64_dists() {
    std::vector<Dist<f64>> d = {
        {"uniform", uniform_f64},
        {"normal", [](std::size_t n, std::mt19937_64& r) { std::normal_distribution<f64> g; std::vector<f64> v(n); for (auto& x : v) x = g(r); return v; }},
    };
    for (auto& s : shapes<f64>(uniform_f64)) d.push_back(s);
    return d;
}
std::vector<Dist<i64>> i64_dists() {
    std::vector<Dist<i64>> d = {
        {"uniform_full", uniform_i64},
        {"range_0_1000", [](std::size_t n, std::mt19937_64& r) { std::vector<i64> v(n); for (auto& x : v) x = static_cast<i64>(r() % 1001); return v; }},
    };
    for (auto& s : shapes<i64>(uniform_i64)) d.push_back(s);
    return d;
}

double now_ns() {
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

template <class T, class Sort>
double median_ns(const std::vector<T>& input, int runs, Sort sort) {
    std::vector<double> t;
    std::vector<T> v;
    for (int i = 0; i < runs; ++i) {
        v = input;
        const double t0 = now_ns();
        sort(v);
        t.push_back(now_ns() - t0);
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2] / static_cast<double>(input.size());
}

template <class T>
void run(const char* type, const std::vector<Dist<T>>& dists, const std::vector<std::size_t>& sizes, const char* filter) {
    for (const auto& d : dists) {
        if (filter && !std::strstr(d.name, filter)) continue;
        for (std::size_t n : sizes) {
            std::mt19937_64 rng(n * 7919 + 17);
            const std::vector<T> input = d.gen(n, rng);
            const int runs = n >= 10000000 ? 3 : n >= 1000000 ? 5 : 11;
            std::vector<T> want = input, got = input;
            std::sort(want.begin(), want.end());
            single_threaded_sort(got.data(), got.size());
            const bool ok = std::memcmp(want.data(), got.data(), n * sizeof(T)) == 0;
            const double ours = median_ns(input, runs, [](std::vector<T>& v) { single_threaded_sort(v.data(), v.size()); });
            const double theirs = median_ns(input, runs, [](std::vector<T>& v) { std::sort(v.begin(), v.end()); });
            std::printf("%-4s %-14s %9zu  tamarind %7.2f  std::sort %7.2f  ratio %5.2f  %s\n", type, d.name, n, ours,
                        theirs, theirs / ours, ok ? "ok" : "WRONG");
            std::fflush(stdout);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::size_t> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(static_cast<std::size_t>(std::atof(argv[i])));
    if (sizes.empty()) sizes = {100000, 1000000, 10000000};
    const char* filter = std::getenv("TAMARIND_BENCH_FILTER");
    std::printf("ns/element, median; ratio = std::sort / tamarind\n");
    run<f64>("f64", f64_dists(), sizes, filter);
    run<i64>("i64", i64_dists(), sizes, filter);
}
