// The multi-threaded radix sort: peeka_sort on pools of 1 to 4 workers with chunk sizes
// that force many chunks and nested bucket tasks, the key-width entry, and the whole-slice
// entry at its thresholds, including both NaN outcomes. Suites carry "Parallel" in their
// names so that they also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <limits>

#include "pool/platform.hpp"
#include "pool/thread_pool.hpp"
#include "sort_test_support.hpp"
#include "sorts/mt_radix_sort.hpp"
#include "sorts/utils_mt.hpp"

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
    using Traits = typename TraitsOf<T>::type;
    expect_sorts_like_std(in, [&](T* v, std::size_t n) { peeka_entry<Traits>(v, n, 8, workers, chunk_size, total_len); },
                          what);
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
    peeka_entry<I64Traits>(zeros.data(), n, 8, workers, 10'000, n);
    EXPECT_TRUE(std::all_of(zeros.begin(), zeros.end(), [](i64 x) { return x == std::numeric_limits<i64>::min(); }));
    // Widths that leave a narrower last digit (60 bits: 4), and a single short digit.
    for (int bits : {60, 57, 9, 3}) {
        std::vector<i64> v(n);
        for (auto& x : v) x = std::numeric_limits<i64>::min() + static_cast<i64>(rng() >> (64 - bits));
        check_peeka(v, workers, 10'000, n, "bits=" + std::to_string(bits));
    }
    // The scan notes NaNs; it does not fail on them.
    std::vector<f64> f = make_pattern<f64>("random", n, 4);
    bool nan_free = false;
    peeka_entry<F64Traits>(f.data(), n, 8, workers, 10'000, n, &nan_free);
    EXPECT_TRUE(nan_free);
    f[n - 1] = kPosNaN;
    peeka_entry<F64Traits>(f.data(), n, 8, workers, 10'000, n, &nan_free);
    EXPECT_FALSE(nan_free);
    EXPECT_TRUE(std::isnan(f.back()));
}

// NaN on the multi-threaded path: placed by key, the call succeeds; where the merge
// cannot place one, or in a small bucket that a comparison sort
// finishes on a pool worker (the panic crosses the pool), the comparator's panic. Either
// way the array keeps its elements.
TEST(MtRadixSortParallel, NaNOutcomes) {
    auto sort = [](f64* v, std::size_t n) { mt_radix_sort(v, n); };
    std::vector<f64> v = make_pattern<f64>("random", kMtF64ComparisonBelow, 11);
    v[3] = kPosNaN, v[5] = kNegNaN;
    ASSERT_EQ(sort_outcome(v, sort), "no panic");
    EXPECT_EQ(std::bit_cast<u64>(v.front()), std::bit_cast<u64>(kNegNaN));
    EXPECT_EQ(std::bit_cast<u64>(v.back()), std::bit_cast<u64>(kPosNaN));
    for (std::size_t i = 2; i + 1 < v.size(); ++i) ASSERT_LE(v[i - 1], v[i]);

    // An ascending run, then a stretch whose radix sort puts its NaN last.
    std::mt19937_64 rng(12);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = i < 500'000 ? static_cast<f64>(i) : static_cast<f64>(rng() % 1'000'000) - 1.5;
    v[650'000] = kPosNaN;
    EXPECT_EQ(sort_outcome(v, sort), kNoneUnwrap) << "merge";

    v = make_pattern<f64>("random", kMtF64ComparisonBelow, 14);
    v[7] = v[70'000] = kPosNaN;
    EXPECT_EQ(sort_outcome(v, sort), kNoneUnwrap) << "small bucket";
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
