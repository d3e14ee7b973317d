// The multi-threaded radix sort: peeka_sort on pools of 1 to 4 workers with chunk sizes
// that force many chunks and nested bucket tasks, the key-width entry, and the whole-slice
// entry at its thresholds, including NaN. Suites carry "Parallel" in their
// names so that they also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <limits>

#include "entries/mt_radix_sort.hpp"
#include "pool/platform.hpp"
#include "pool/thread_pool.hpp"
#include "radix/peeka_entry.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

template <class T>
class PeekaSortParallel : public ::testing::Test {};
using EntryTypes = ::testing::Types<f64, i64>;
TYPED_TEST_SUITE(PeekaSortParallel, EntryTypes);

pool::ThreadPool make_pool(std::size_t threads) {
    return pool::ThreadPoolBuilder().num_threads(threads).build().unwrap();
}

template <class T>
void check_peeka(const std::vector<T>& in, pool::ThreadPool& workers, std::size_t chunk_size,
                 std::size_t total_len, const std::string& what) {
    const auto sort = [&](T* v, std::size_t n) { peeka_entry<traits_of<T>>(v, n, workers, chunk_size, total_len); };
    EXPECT_TRUE(sorted_permutation(in, sorted_with_guards(in, sort))) << what;
}

}  // namespace

TYPED_TEST(PeekaSortParallel, PatternsOnOneToFourWorkers) {
    const std::size_t n = kSanitized ? 140'000 : 300'007;
    const std::vector<std::string> patterns = {"random",   "few_distinct", "one_top_digit", "small_range", "extremes",
                                               "duplicates", "sorted",     "reversed",      "all_equal",   "sawtooth"};
    for (std::size_t threads : {1, 2, 4}) {
        pool::ThreadPool workers = make_pool(threads);
        for (const std::string& pattern : patterns) {
            // Small chunks give many chunk tasks, a dense graph and bucket tasks that split again.
            for (std::size_t chunk : {std::size_t{7'000}, std::size_t{100'000}, n}) {
                if (kSanitized && chunk == n) continue;
                check_peeka(make_pattern<TypeParam>(pattern, n, threads), workers, chunk, n,
                            pattern + " threads=" + std::to_string(threads) + " chunk=" + std::to_string(chunk));
            }
        }
        // From 5 000 000 000 elements on, chunk_size counts chunks of the whole array.
        for (std::size_t chunks : {std::size_t{5'000}, std::size_t{500'000}})
            check_peeka(make_pattern<TypeParam>("random", n, chunks), workers, chunks, std::size_t{5'000'000'000ULL},
                        "chunks=" + std::to_string(chunks));
    }
}

TEST(PeekaEntryParallel, KeyWidthCases) {
    pool::ThreadPool workers = make_pool(2);
    std::mt19937_64 rng(21);
    const std::size_t n = kSanitized ? 140'000 : 300'000;
    // Every key 0: returned untouched.
    std::vector<i64> zeros(n, std::numeric_limits<i64>::min());
    peeka_entry<I64Traits>(zeros.data(), n, workers, 10'000, n);
    EXPECT_TRUE(std::all_of(zeros.begin(), zeros.end(), [](i64 x) { return x == std::numeric_limits<i64>::min(); }));
    // Widths that leave a narrower last digit (60 bits: 4), and a single short digit.
    for (int bits : {60, 57, 9, 3}) {
        std::vector<i64> v(n);
        for (auto& x : v) x = std::numeric_limits<i64>::min() + static_cast<i64>(rng() >> (64 - bits));
        check_peeka(v, workers, 10'000, n, "bits=" + std::to_string(bits));
    }
}

// NaN and signed zeros on the multi-threaded path: ordered by key wherever they sit, and
// the call never panics.
TEST(MtRadixSortParallel, NaNInTotalOrder) {
    auto sort = [](f64* v, std::size_t n) { mt_radix_sort(v, n); };
    std::vector<std::vector<f64>> cases;
    cases.push_back(make_pattern<f64>("random", kMtF64ComparisonBelow, 11));
    cases.back()[3] = kPosNaN, cases.back()[5] = kNegNaN, cases.back()[7] = kPosNaN;
    // An ascending run with NaNs at its ends, then a stretch of mixed zeros and NaNs.
    std::vector<f64> runs(kMtF64ComparisonBelow);
    std::mt19937_64 rng(12);
    for (std::size_t i = 0; i < runs.size(); ++i)
        runs[i] = i < 500'000 ? static_cast<f64>(i) : (rng() % 3 == 0 ? kPosNaN : rng() % 2 ? 0.0 : -0.0);
    runs[0] = kNegNaN, runs[499'999] = kPosNaN;
    cases.push_back(runs);
    for (std::size_t c = 0; c < cases.size(); ++c) {
        std::vector<f64> v = cases[c];
        ASSERT_EQ(sort_outcome(v, sort), "no panic") << "case " << c;
        EXPECT_TRUE(sorted_permutation(cases[c], v, true)) << "case " << c;
    }
}

TEST(MtRadixSortParallel, PoolThatCannotBeBuiltPanicsBeforeSorting) {
    std::vector<f64> v = make_pattern<f64>("random", kMtF64ComparisonBelow, 15);
    const std::vector<f64> before = v;
    pool::platform::fail_thread_starts_after(1);
    std::string message;
    try {
        mt_radix_sort(v.data(), v.size());
    } catch (const Panic& e) {
        message = e.message();
    }
    pool::platform::fail_thread_starts_after(-1);
    EXPECT_EQ(message.rfind("called `Result::unwrap()` on an `Err` value: ThreadPoolBuildError { kind: IOError(", 0), 0u)
        << message;
    EXPECT_EQ(v, before);
}
