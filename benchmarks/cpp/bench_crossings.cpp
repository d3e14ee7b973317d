// The sorts on either side of each crossing between the vector quicksort and a scalar radix
// sort, timed on the kernel table in use (TAMARIND_DISABLE_CPU_FEATURES caps it): the
// figures behind the rows of kCrossingRows in entry_thresholds.hpp. Least ns per element of
// the runs, each on a fresh copy of the same input; results are checked against std::sort.
// It ends with one line per crossing: where these figures put it (the first length from
// which the radix path wins at every longer length measured) and where the row in use does
// (TAMARIND_CROSSINGS names another row).
//   bench_crossings [runs = 15] [threads = 2]
// TAMARIND_BENCH_FILTER=substring limits the crossings run.
#include <algorithm>
#include <bit>
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
#include "entries/crossing_rows.hpp"
#include "pool/thread_pool.hpp"
#include "radix/counting_sort.hpp"
#include "radix/key_scan.hpp"
#include "radix/parallel_sampled_msd_sort.hpp"
#include "radix/peeka_entry.hpp"
#include "radix/rollercoaster_sort.hpp"
#include "radix/sampled_msd_sort.hpp"
#include "simd/kernels.hpp"
#include "traits/float_keys.hpp"
#include "types/scratch.hpp"

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
    // NumPy asks for huge pages on large arrays; a plain vector would leave the radix
    // sides' scatter to TLB misses no user's array pays.
    ScratchBuffer<T> buffer(input.size());
    T* const v = buffer.get();
    double best = 1e300;
    for (std::size_t r = 0; r < runs; ++r) {
        std::copy(input.begin(), input.end(), v);
        const auto start = std::chrono::steady_clock::now();
        sort(v, input.size());
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::vector<T> want = input;
    if constexpr (std::is_same_v<T, f64>) {
        std::sort(want.begin(), want.end(), [](f64 a, f64 b) { return F64KeyOrderTraits::less(a, b); });
        if (std::memcmp(want.data(), v, want.size() * sizeof(T)) != 0) std::exit((std::fprintf(stderr, "unsorted\n"), 1));
    } else {
        std::sort(want.begin(), want.end());
        if (!std::equal(want.begin(), want.end(), v)) std::exit((std::fprintf(stderr, "unsorted\n"), 1));
    }
    return best * 1e9 / static_cast<double>(input.size());
}

// One crossing's table: ns[contender][length]; empty where the filter left it out.
struct Figures {
    std::vector<std::size_t> lengths;
    std::vector<std::string> names;
    std::vector<std::vector<double>> ns;

    std::size_t contender(const char* name) const {
        return static_cast<std::size_t>(std::find(names.begin(), names.end(), name) - names.begin());
    }
};

template <class T>
Figures crossing(const char* name, const char* data, std::function<T(std::mt19937_64&)> gen,
                 std::vector<std::size_t> lengths, std::vector<Contender<T>> contenders, std::size_t runs) {
    const char* filter = std::getenv("TAMARIND_BENCH_FILTER");
    if (filter != nullptr && std::strstr(name, filter) == nullptr) return {};
    Figures out{lengths, {}, std::vector<std::vector<double>>(contenders.size())};
    std::printf("\n%s (%s), least ns per element\n  %10s", name, data, "n");
    for (const auto& c : contenders) {
        std::printf("  %22s", c.name);
        out.names.emplace_back(c.name);
    }
    std::printf("\n");
    for (std::size_t n : lengths) {
        std::mt19937_64 rng(n);
        std::vector<T> input(n);
        for (T& x : input) x = gen(rng);
        // At least one run: with fewer than four asked, long inputs would otherwise get none
        // and the check would read a buffer never sorted.
        const std::size_t r = std::max<std::size_t>({1, runs / 4, std::min<std::size_t>(runs, runs * 200'000 / n)});
        std::printf("  %10zu", n);
        for (std::size_t c = 0; c < contenders.size(); ++c) {
            out.ns[c].push_back(least_ns_per_element(contenders[c].sort, input, r));
            std::printf("  %22.2f", out.ns[c].back());
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    return out;
}

// A crossing of the row, the figures that place it, and whom its radix path races there.
struct CrossingLine {
    const char* field;
    std::size_t RadixCrossings::*value;
    const Figures* figures;
    const char* radix;
    std::vector<const char*> rivals;
};

std::string length_text(std::size_t n) { return n == kNever ? "never" : std::to_string(n); }

// Where the figures put a crossing: the first measured length from which the radix path beats
// every rival at every longer length measured.
std::string figures_put(const CrossingLine& line) {
    const Figures& f = *line.figures;
    if (f.lengths.empty()) return "not run";
    std::size_t from = f.lengths.size();
    while (from > 0) {
        const std::size_t i = from - 1;
        bool wins = true;
        for (const char* rival : line.rivals) wins = wins && f.ns[f.contender(line.radix)][i] < f.ns[f.contender(rival)][i];
        if (!wins) break;
        from = i;
    }
    if (from == f.lengths.size()) return "past " + std::to_string(f.lengths.back()) + " (loses at the longest)";
    return (from == 0 ? "at or below " : "") + std::to_string(f.lengths[from]);
}

// Counts keys of a range no wider than the slice is long, as count_short_slice does past its
// crossing.
void range_count(i64* v, std::size_t n) {
    const u64 first = I64Traits::to_key(v[0]);
    const u64 window = (u64{1} << std::bit_width(key_bits_and_spread<I64Traits>(v, n, first).spread)) - 1;
    u64 lo = window, hi = 0;
    for (std::size_t i = 0; i < n; ++i) {
        lo = std::min(lo, I64Traits::to_key(v[i]) & window);
        hi = std::max(hi, I64Traits::to_key(v[i]) & window);
    }
    counting_sort<I64Traits>(v, n, CountingPlan{window, lo, hi - lo + 1, first & ~window});
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
    std::printf("CPU: %s; kernels: %s; crossing row: %s\n", cpu_model().c_str(), simd::best_kernels()->name,
                crossing_row().name);

    auto full_i64 = [](std::mt19937_64& rng) { return static_cast<i64>(rng()); };
    auto uniform_f64 = [](std::mt19937_64& rng) { return std::uniform_real_distribution<f64>(0, 1)(rng); };
    auto normal_f64 = [](std::mt19937_64& rng) { return std::normal_distribution<f64>(0, 1)(rng); };

    const Sort<i64> quicksort_i64 = unstable_sort<I64Traits>;
    const Sort<f64> quicksort_f64 = quicksort_in_total_order;

    const Figures short_i64 = crossing<i64>("short int64 radix", "int64 full range", full_i64, {600, 800, 1000, 1500, 2000, 4000, 7000, 20000, 60000, 128000},
                  {{"quicksort", quicksort_i64}, {"in-cache radix", rollercoaster_short<I64Traits>}}, runs);
    const Figures i64_radix = crossing<i64>("int64 radix", "int64 full range", full_i64, {8192, 32768, 131072, 262144, 1000000, 2000000, 4000000, 10000000},
                  {{"quicksort", quicksort_i64}, {"radix", rollercoaster_sort<I64Traits>}}, runs);
    const Figures short_f64 = crossing<f64>("short float64 radix", "uniform float64", uniform_f64, {4000, 6000, 8000, 16000, 32000, 64000, 128000},
                  {{"quicksort", quicksort_f64}, {"in-cache radix", as_ints(rollercoaster_short<I64Traits>)}}, runs);
    const Figures f64_radix = crossing<f64>("float64 radix", "uniform float64", uniform_f64,
                  {131072, 262144, 500000, 1000000, 2000000, 5000000, 10000000, 16000000},
                  {{"quicksort", quicksort_f64}, {"radix", as_ints(rollercoaster_sort<I64Traits>)}, {"sampled", sampled_as_ints}},
                  runs);
    const Figures f64_sampled = crossing<f64>("float64 sampled", "normal float64", normal_f64,
                  {180000, 300000, 500000, 1000000, 2000000, 5000000, 10000000, 16000000},
                  {{"quicksort", quicksort_f64}, {"sampled", sampled_as_ints}}, runs);
    // The radix sort whose in-place steps of the whole slice distribute by blocks, against
    // one whose steps all swap elements (buckets shorter than the slice swap in both).
    auto with_blocks_from = [](std::size_t (*from)(std::size_t)) {
        return [from](i64* v, std::size_t n) {
            set_block_distribution_min(from(n));
            rollercoaster_sort<I64Traits>(v, n);
            set_block_distribution_min(crossing_row().at.block_distribution);
        };
    };
    const Figures blocks = crossing<i64>("block distribution", "int64 full range", full_i64, {131072, 262144, 500000, 1000000, 2000000, 4000000, 10000000, 20000000},
                  {{"swaps", with_blocks_from([](std::size_t) { return kNever; })},
                   {"blocks", with_blocks_from([](std::size_t n) { return n; })}}, runs);
    const Figures range_counts = crossing<i64>(
        "int64 range count", "int64 in [0, 512)", [](std::mt19937_64& rng) { return static_cast<i64>(rng() % 512); },
        {512, 1000, 2000, 4000, 7000}, {{"quicksort", quicksort_i64}, {"count", range_count}}, runs);

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
    const std::vector<Contender<f64>> parallel_f64{{"parallel quicksort", parallel_quicksort_f64},
                                                   {"parallel sampled", parallel_sampled}};
    const std::vector<std::size_t> parallel_lengths{500000, 800000, 2000000, 4000000, 10000000, 16000000};
    const Figures mt_normal =
        crossing<f64>("parallel float64 sampled", "normal float64", normal_f64, parallel_lengths, parallel_f64, runs);
    const Figures mt_uniform =
        crossing<f64>("parallel float64 sampled", "uniform float64", uniform_f64, parallel_lengths, parallel_f64, runs);
    auto parallel_radix_i64 = [&workers](i64* v, std::size_t n) { peeka_entry<I64Traits>(v, n, workers, 500'000, n); };
    auto parallel_quicksort_i64 = [&workers](i64* v, std::size_t n) {
        workers.install([&] { parallel_quicksort_nan_free<I64Traits>(v, n); });
    };
    const Figures mt_i64 = crossing<i64>("parallel int64 radix", "int64 full range", full_i64, {8192, 32768, 131072, 500000, 1000000, 4000000, 10000000},
                  {{"parallel quicksort", parallel_quicksort_i64}, {"parallel radix", parallel_radix_i64}}, runs);

    const CrossingLine lines[] = {
        {"i64_short_radix", &RadixCrossings::i64_short_radix, &short_i64, "in-cache radix", {"quicksort"}},
        {"st_i64_radix", &RadixCrossings::st_i64_radix, &i64_radix, "radix", {"quicksort"}},
        {"st_f64_short_radix", &RadixCrossings::st_f64_short_radix, &short_f64, "in-cache radix", {"quicksort"}},
        {"st_f64_radix", &RadixCrossings::st_f64_radix, &f64_radix, "radix", {"quicksort"}},
        {"st_f64_sampled", &RadixCrossings::st_f64_sampled, &f64_sampled, "sampled", {"quicksort"}},
        {"st_f64_sampled_over_digits", &RadixCrossings::st_f64_sampled_over_digits, &f64_radix, "sampled",
         {"quicksort", "radix"}},
        {"mt_f64_sampled", &RadixCrossings::mt_f64_sampled, &mt_normal, "parallel sampled", {"parallel quicksort"}},
        {"mt_f64_sampled_even", &RadixCrossings::mt_f64_sampled_even, &mt_uniform, "parallel sampled",
         {"parallel quicksort"}},
        {"mt_i64_radix", &RadixCrossings::mt_i64_radix, &mt_i64, "parallel radix", {"parallel quicksort"}},
        {"i64_range_count", &RadixCrossings::i64_range_count, &range_counts, "count", {"quicksort"}},
        {"block_distribution", &RadixCrossings::block_distribution, &blocks, "blocks", {"swaps"}},
    };
    std::printf("\nCrossings: where these figures put them, and where row %s does\n", crossing_row().name);
    for (const CrossingLine& line : lines)
        std::printf("  %-28s figures %-36s row %s\n", line.field, figures_put(line).c_str(),
                    length_text(crossing_row().at.*line.value).c_str());
    return 0;
}
