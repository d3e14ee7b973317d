// The hand-off rules of entries/handoff_rules.hpp: a slice at a rule's bound hands no job to
// a pool, one past it does (the test build counts the jobs handed to a pool from outside
// it). Also the outside thread's join: every job ends up run exactly once, on the caller or
// on a worker, however the pool's workers are scheduled.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "comparison/nan_gate.hpp"
#include "comparison/parallel_quicksort.hpp"
#include "entries/entries.hpp"
#include "entries/handoff_rules.hpp"
#include "pool/late_workers.hpp"
#include "pool_test_support.hpp"
#include "radix/peeka_sort.hpp"
#include "sort_test_support.hpp"

using namespace tamarind;
using namespace tamarind::testing;

namespace {

// Jobs that f hands to any pool.
template <class F>
std::size_t jobs_handed_off(F&& f) {
    const std::size_t before = pool::handed_off_jobs();
    f();
    return pool::handed_off_jobs() - before;
}

// Int64 keys whose first differing digit takes 8 values: the radix sort would split them
// badly on every kernel table, so sort_i64 gives them to the parallel quicksort.
std::vector<i64> clustered_keys(std::size_t n) {
    std::mt19937_64 rng(n);
    std::vector<i64> v(n);
    for (auto& x : v) x = static_cast<i64>((rng() % 8) << 40 | (rng() >> 40));
    return v;
}

// Sorts a fresh slice of length n of the pattern by `sort` and checks the result.
template <class T, class Sort>
std::function<void(std::size_t)> sorting(const char* pattern, Sort sort) {
    return [pattern, sort](std::size_t n) {
        std::vector<T> v = make_pattern<T>(pattern, n, 3);
        sort(v.data(), n);
        EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
    };
}

// One entry that reaches a pool through a rule, on input that takes the rule's path.
struct Case {
    const char* name;
    std::size_t bound;
    std::function<void(std::size_t)> run;  // sorts (or scans) a fresh slice of length n
};

std::vector<Case> cases() {
    return {
        {"rayon_sort_f64", kCallingThreadMax,
         sorting<f64>("random", [](f64* v, std::size_t n) { quicksort_on_global_pool(v, n); })},
        {"rayon_sort_i64", kCallingThreadMax,
         sorting<i64>("random", [](i64* v, std::size_t n) { quicksort_on_global_pool(v, n); })},
        {"sort_f64 below its radix path", kCallingThreadMax,
         sorting<f64>("random", [](f64* v, std::size_t n) { multi_threaded_sort(v, n); })},
        {"sort_i64's quicksort stretches on the global pool", kCallingThreadMax,
         [](std::size_t n) {
             std::vector<i64> v = clustered_keys(n);
             multi_threaded_sort(v.data(), n);
             EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
         }},
        {"sort_i64's counted stretches", kCallingThreadCountMax,
         [](std::size_t n) {
             std::mt19937_64 rng(n);
             std::vector<i64> v(n);
             for (auto& x : v) x = static_cast<i64>(rng() % 65536);
             multi_threaded_sort(v.data(), n);
             EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
         }},
        {"NaN scan", kParallelScanMin,
         [](std::size_t n) {
             std::vector<f64> v(n, 1.0);
             EXPECT_FALSE(has_nan_on_pool<F64Traits>(v.data(), n));
         }},
        {"conversion parts on the call's pool", kConversionPart,
         [](std::size_t n) {
             static pool::ThreadPool workers = make_pool(2);
             std::vector<std::atomic<int>> seen(n);
             for_each_chunk(seen.data(), n, kConversionPart, workers, [&](std::size_t, std::atomic<int>* part, std::size_t m) {
                 for (std::size_t i = 0; i < m; ++i) part[i].fetch_add(1, std::memory_order_relaxed);
             });
             EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](const std::atomic<int>& s) { return s.load() == 1; }));
         }},
    };
}

}  // namespace

// Each call starts with the workers on time: a hand-off here that waited for a processor
// (a loaded test machine) must not keep the next call on the calling thread.
TEST(PoolHandoffRules, NothingAtTheBoundReachesAPoolAndOnePastItDoes) {
    for (const Case& c : cases()) {
        pool::reset_late_workers();
        EXPECT_EQ(jobs_handed_off([&] { c.run(c.bound); }), 0u) << c.name << " at " << c.bound;
        pool::reset_late_workers();
        EXPECT_GT(jobs_handed_off([&] { c.run(c.bound + 1); }), 0u) << c.name << " at " << c.bound + 1;
    }
    pool::reset_late_workers();
}

// While the workers are late, the parallel quicksort (here without the float64 NaN scan
// in front of it, which still goes to the pool: a NaN's panic names the worker that found
// it) and sort_i64's radix sort on the global pool keep slices up to kLateCallingThreadMax
// on the calling thread, and hand longer ones off as before.
TEST(PoolHandoffRules, LateWorkersGetNothingUpToTheLateBound) {
    const Case late[] = {
        {"parallel quicksort, float64", kLateCallingThreadMax,
         sorting<f64>("random", [](f64* v, std::size_t n) { parallel_quicksort_nan_free<F64Traits>(v, n); })},
        {"rayon_sort_i64", kLateCallingThreadMax,
         sorting<i64>("random", [](i64* v, std::size_t n) { quicksort_on_global_pool(v, n); })},
        {"sort_i64 on the global pool", kLateCallingThreadMax,
         sorting<i64>("random", [](i64* v, std::size_t n) { multi_threaded_sort(v, n); })},
    };
    pool::mark_workers_late();
    for (const Case& c : late) {
        EXPECT_EQ(jobs_handed_off([&] { c.run(c.bound); }), 0u) << c.name << " at " << c.bound;
        EXPECT_GT(jobs_handed_off([&] { c.run(c.bound + 1); }), 0u) << c.name << " at " << c.bound + 1;
    }
    pool::reset_late_workers();
}

TEST(PoolHandoffRules, OutsideJoinsRunEveryJobOnceWhoeverRunsIt) {
    // Many tiny joins from outside: each second half is taken back by the caller or run by a
    // worker, never both and never neither, whichever wins each race.
    std::vector<std::thread> callers;
    std::atomic<std::uint64_t> runs{0};
    for (int t = 0; t < 3; ++t)
        callers.emplace_back([&] {
            for (int round = 0; round < static_cast<int>(pool_test::scaled(20'000)); ++round)
                pool::join([&] { runs.fetch_add(1, std::memory_order_relaxed); },
                           [&] { runs.fetch_add(std::uint64_t{1} << 20, std::memory_order_relaxed); });
        });
    for (auto& t : callers) t.join();
    const std::uint64_t joins = 3 * pool_test::scaled(20'000);
    EXPECT_EQ(runs.load(), joins + (joins << 20));
}
