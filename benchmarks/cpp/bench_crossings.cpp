// The sorts on either side of each crossing between the vector quicksort and a scalar radix
// sort, timed on the kernel table in use (TAMARIND_DISABLE_CPU_FEATURES caps it): the
// figures behind the per-table crossings in entry_thresholds.hpp. Least ns per element of
// the runs, each on a fresh copy of the same input; results are checked against std::sort.
//   bench_crossings [runs = 15] [threads = 2]
// TAMARIND_BENCH_FILTER=substring limits the crossings run.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "comparison/comparison_sort.hpp"
#include "comparison/float_quicksort.hpp"
#include "comparison/parallel_quicksort.hpp"
#include "pool/thread_pool.hpp"
#include "radix/parallel_sampled_msd_sort.hpp"
#include "radix/peeka_entry.hpp"
#include "radix/rollercoaster_sort.hpp"
#include "radix/sampled_msd_sort.hpp"
#include "simd/kernels.hpp"
#include "traits/float_keys.hpp"

using namespace tamarind;

namespace {

template <class T>
using Sort = std::function<void(T*, std::size_t)>;

template <class T>
struct Contender {
    const char* name;
    Sort<T> sort;
};

std::string cpu_model() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    }
    return "unknown";
}

template <class T>
double least_ns_per_element(const Sort<T>& sort, const std::vector<T>& input, std::size_t runs) {
    std::vector<T> v(input.size());
    double best = 1e300;
    for (std::size_t r = 0; r < runs; ++r) {
        std::copy(input.begin(), input.end(), v.begin());
        const auto start = std::chrono::steady_clock::now();
        sort(v.data(), v.size());
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::vector<T> want = input;
    if constexpr (std::is_same_v<T, f64>) {
        std::sort(want.begin(), want.end(), [](f64 a, f64 b) { return F64KeyOrderTraits::less(a, b); });
        if (std::memcmp(want.data(), v.data(), v.size() * sizeof(T)) != 0) std::exit((std::fprintf(stderr, "unsorted\n"), 1));
    } else {
        std::sort(want.begin(), want.end());
        if (want != v) std::exit((std::fprintf(stderr, "unsorted\n"), 1));
    }
    return best * 1e9 / static_cast<double>(input.size());
}

template <class T>
void crossing(const char* name, const char* data, std::function<T(std::mt19937_64&)> gen,
              std::vector<std::size_t> lengths, std::vector<Contender<T>> contenders, std::size_t runs) {
    const char* filter = std::getenv("TAMARIND_BENCH_FILTER");
    if (filter != nullptr && std::strstr(name, filter) == nullptr) return;
    std::printf("\n%s (%s), least ns per element\n  %10s", name, data, "n");
    for (const auto& c : contenders) std::printf("  %22s", c.name);
    std::printf("\n");
    for (std::size_t n : lengths) {
        std::mt19937_64 rng(n);
        std::vector<T> input(n);
        for (T& x : input) x = gen(rng);
        // At least one run: with fewer than four asked, long inputs would otherwise get none
        // and the check would read a buffer never sorted.
        const std::size_t r = std::max<std::size_t>({1, runs / 4, std::min<std::size_t>(runs, runs * 200'000 / n)});
        std::printf("  %10zu", n);
        for (const auto& c : contenders) std::printf("  %22.2f", least_ns_per_element(c.sort, input, r));
        std::printf("\n");
        std::fflush(stdout);
    }
}

// Floats sorted as ordered integers by `sort`.
Sort<f64> as_ints(void (*sort)(i64*, std::size_t)) {
    return [sort](f64* v, std::size_t n) {
        F64AsI64 ints(v, n);
        sort(ints.ints(), n);
        ints.release();
    };
}

void sampled_as_ints(f64* v, std::size_t n) {
    u64 spread;
    F64AsI64 ints(v, n, spread);
    sampled_msd_sort<I64Traits>(ints.ints(), n, spread);
    ints.release();
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t runs = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 15;
    const std::size_t threads = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 2;
    std::printf("CPU: %s; kernels: %s\n", cpu_model().c_str(), simd::best_kernels()->name);

    auto full_i64 = [](std::mt19937_64& rng) { return static_cast<i64>(rng()); };
    auto uniform_f64 = [](std::mt19937_64& rng) { return std::uniform_real_distribution<f64>(0, 1)(rng); };
    auto normal_f64 = [](std::mt19937_64& rng) { return std::normal_distribution<f64>(0, 1)(rng); };

    const Sort<i64> quicksort_i64 = unstable_sort<I64Traits>;
    const Sort<f64> quicksort_f64 = quicksort_in_total_order;

    crossing<i64>("short int64 radix", "int64 full range", full_i64, {600, 800, 1000, 1500, 2000, 4000, 7000, 20000, 60000, 128000},
                  {{"quicksort", quicksort_i64}, {"in-cache radix", rollercoaster_short<I64Traits>}}, runs);
    crossing<i64>("int64 radix", "int64 full range", full_i64, {8192, 32768, 131072, 262144, 1000000, 2000000, 4000000, 10000000},
                  {{"quicksort", quicksort_i64}, {"radix", rollercoaster_sort<I64Traits>}}, runs);
    crossing<f64>("short float64 radix", "uniform float64", uniform_f64, {4000, 6000, 8000, 16000, 32000, 64000, 128000},
                  {{"quicksort", quicksort_f64}, {"in-cache radix", as_ints(rollercoaster_short<I64Traits>)}}, runs);
    crossing<f64>("float64 radix", "uniform float64", uniform_f64,
                  {131072, 262144, 500000, 1000000, 2000000, 5000000, 10000000, 16000000},
                  {{"quicksort", quicksort_f64}, {"radix", as_ints(rollercoaster_sort<I64Traits>)}, {"sampled", sampled_as_ints}},
                  runs);
    crossing<f64>("float64 sampled", "normal float64", normal_f64,
                  {180000, 300000, 500000, 1000000, 2000000, 5000000, 10000000, 16000000},
                  {{"quicksort", quicksort_f64}, {"sampled", sampled_as_ints}}, runs);

    // The parallel crossings, on a pool of `threads`.
    pool::ThreadPool workers = pool::ThreadPoolBuilder().num_threads(threads).build().unwrap();
    auto parallel_sampled = [&workers](f64* v, std::size_t n) {
        u64 spread;
        F64AsI64 ints(v, n, spread);
        parallel_sampled_msd_sort<I64Traits>(ints.ints(), n, workers, std::min<std::size_t>(n / 2 + 1, 500'000), spread);
        ints.release();
    };
    auto parallel_quicksort_f64 = [&workers](f64* v, std::size_t n) {
        workers.install([&] { parallel_quicksort_nan_free<F64Traits>(v, n); });
        order_signed_zeros(v, n);
    };
    using Gen = std::function<f64(std::mt19937_64&)>;
    for (auto [name, gen] : {std::pair<const char*, Gen>{"normal float64", normal_f64}, {"uniform float64", uniform_f64}}) {
        crossing<f64>("parallel float64 sampled", name, gen, {500000, 800000, 2000000, 4000000, 10000000, 16000000},
                      {{"parallel quicksort", parallel_quicksort_f64}, {"parallel sampled", parallel_sampled}}, runs);
    }
    auto parallel_radix_i64 = [&workers](i64* v, std::size_t n) { peeka_entry<I64Traits>(v, n, workers, 500'000, n); };
    auto parallel_quicksort_i64 = [&workers](i64* v, std::size_t n) {
        workers.install([&] { parallel_quicksort_nan_free<I64Traits>(v, n); });
    };
    crossing<i64>("parallel int64 radix", "int64 full range", full_i64, {8192, 32768, 131072, 500000, 1000000, 4000000, 10000000},
                  {{"parallel quicksort", parallel_quicksort_i64}, {"parallel radix", parallel_radix_i64}}, runs);
    return 0;
}
