// The worker pools: join, scope/spawn and install on pools of 1 to 8 workers, panics carried
// to the waiting thread, building and dropping pools, idle workers sleeping, and the thread
// count: an explicit request, then the two environment variables, then the processor count,
// capped at the width of the sleep counters.
#include <gtest/gtest.h>

#if defined(__linux__)
#include <sched.h>
#endif

#include <cerrno>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>

#include "pool/platform.hpp"
#include "pool/thread_count.hpp"
#include "pool/thread_pool.hpp"
#include "pool_test_support.hpp"

using namespace tamarind;
using tamarind::testing::make_pool;
using tamarind::testing::panic_message;
using std::chrono::milliseconds;

namespace {

// Recursive join sum of 1 .. n; every leaf notes the thread it ran on.
struct ParallelSum {
    std::mutex m;
    std::set<std::thread::id> threads;
    std::uint64_t operator()(std::uint64_t from, std::uint64_t n) {
        if (n <= 1024) {
            std::lock_guard<std::mutex> lock(m);
            threads.insert(std::this_thread::get_id());
            return n * from + n * (n - 1) / 2;
        }
        auto [a, b] = pool::join([&] { return (*this)(from, n / 2); }, [&] { return (*this)(from + n / 2, n - n / 2); });
        return a + b;
    }
};

struct Boom : std::runtime_error { using std::runtime_error::runtime_error; };

class PoolSizes : public ::testing::TestWithParam<std::size_t> {};
INSTANTIATE_TEST_SUITE_P(Workers, PoolSizes, ::testing::Range<std::size_t>(1, 9));

}  // namespace

TEST_P(PoolSizes, DeepJoinSumsAndStealsWork) {
    const std::size_t workers = GetParam();
    auto tp = make_pool(workers);
    const std::uint64_t n = pool_test::scaled(4'000'000);
    ParallelSum sum;
    EXPECT_EQ(tp.install([&] { return sum(1, n); }), n * (n + 1) / 2);
    EXPECT_LE(sum.threads.size(), workers);
    // Idle again, the workers block rather than yield in a loop.
    const long me = static_cast<long>(::syscall(SYS_gettid));
    EXPECT_TRUE(pool_test::eventually([&] {
        const std::vector<long> ids = pool_test::task_ids();
        return std::none_of(ids.begin(), ids.end(), [&](long tid) { return tid != me && pool_test::thread_state(tid) == 'R'; });
    }));
    if (workers < 2) return;
    // The first half waits until the second has started. The second sits on this worker's
    // deque while the first blocks it, so only a steal by another worker can start it: no
    // luck of the scheduler is involved. The wait's end turns a pool that never steals into
    // a failure rather than a hang.
    std::atomic<bool> started{false};
    const auto [waited, thief] = tp.install([&] {
        return pool::join(
            [&] {
                const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
                while (!started.load() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(milliseconds(1));
                return std::make_pair(started.load(), std::this_thread::get_id());
            },
            [&] {
                started = true;
                return std::this_thread::get_id();
            });
    });
    EXPECT_TRUE(waited.first) << "no job was stolen";
    EXPECT_NE(waited.second, thief);
}

TEST_P(PoolSizes, NestedScopesFinishEveryTaskBeforeReturning) {
    auto tp = make_pool(GetParam());
    std::atomic<int> done{0};
    // A tree of tasks, fan-out 4 and depth 4, each spawned from its parent task, plus a
    // scope opened inside every leaf.
    std::function<void(pool::Scope&, int)> grow = [&](pool::Scope& s, int depth) {
        if (depth == 0)
            return pool::scope([&](pool::Scope& inner) { inner.spawn([&] { done.fetch_add(1, std::memory_order_relaxed); }); });
        for (int i = 0; i < 4; ++i) s.spawn([&, depth](pool::Scope& s2) { grow(s2, depth - 1); });
    };
    EXPECT_EQ(tp.scope([&](pool::Scope& s) { return grow(s, 4), 42; }), 42);
    EXPECT_EQ(done.load(), 256);
}

TEST_P(PoolSizes, InstallFromAWorker) {
    const std::size_t workers = GetParam();
    auto tp = make_pool(workers);
    auto other = make_pool(9 - workers);
    tp.install([&] {
        // Into its own pool: runs right here (a blocking wait would deadlock a 1-worker pool).
        const auto me = std::this_thread::get_id();
        EXPECT_EQ(tp.install([] { return std::this_thread::get_id(); }), me);
        EXPECT_EQ(pool::current_num_threads(), workers);
        // Into another pool: runs on one of its workers, and its panic comes back here.
        EXPECT_EQ(other.install([] { return pool::current_num_threads(); }), 9 - workers);
        EXPECT_NE(other.install([] { return std::this_thread::get_id(); }), me);
        EXPECT_THROW(other.install([] { throw Boom("other pool"); }), Boom);
        // Tasks of a scope installing into their own pool do not deadlock either.
        std::atomic<int> n{0};
        pool::scope([&](pool::Scope& s) { for (int i = 0; i < 16; ++i) s.spawn([&] { tp.install([&] { ++n; }); }); });
        EXPECT_EQ(n.load(), 16);
    });
}

// A join raises either half's panic, after both halves ended; a scope raises one of its
// tasks' panics, or its body's, after every other task ended.
TEST_P(PoolSizes, PanicsComeBackAfterEveryOtherTask) {
    auto tp = make_pool(GetParam());
    tp.install([] {
        std::atomic<bool> other_half{false};
        const auto slow = [&] { std::this_thread::sleep_for(milliseconds(20)); other_half = true; };
        EXPECT_THROW(pool::join([] { throw Boom("a"); }, slow), Boom);
        EXPECT_TRUE(other_half.exchange(false)) << "b did not finish before a's panic";
        EXPECT_THROW(pool::join(slow, [] { throw std::bad_alloc(); }), std::bad_alloc);
        EXPECT_TRUE(other_half.exchange(false)) << "a did not finish before b's panic";
        EXPECT_THROW(pool::join([] { throw Boom("a"); }, [] { throw std::logic_error("b"); }), Boom);
        // A tamarind panic keeps its message on the way.
        EXPECT_EQ(panic_message([] { pool::join([] {}, [] { panic("from a worker"); }); }), "from a worker");
    });
    for (const int panicking : {0, 1, 2}) {  // 0: the body panics
        std::atomic<int> finished{0};
        try {
            tp.scope([&](pool::Scope& s) {
                for (int i = 0; i < 40; ++i)
                    s.spawn([&, i] {
                        if (i < panicking) throw Boom("task " + std::to_string(i));
                        std::this_thread::sleep_for(milliseconds(2));
                        finished.fetch_add(1);
                    });
                if (panicking == 0) throw Boom("task body");
            });
            ADD_FAILURE() << "no panic";
        } catch (const Boom& e) {
            EXPECT_EQ(finished.load(), 40 - panicking) << "raised before the others ended";
            EXPECT_EQ(std::string(e.what()).rfind("task ", 0), 0u);
        }
    }
    // The pool stays usable after panics.
    EXPECT_EQ(tp.join([] { return 1; }, [] { return 2; }), std::make_pair(1, 2));
}

TEST(Pool, OutsideThreadsShareTheGlobalPool) {
    std::vector<std::thread> callers;
    std::atomic<int> ok{0};
    for (int t = 0; t < 6; ++t)
        callers.emplace_back([&] {
            const std::uint64_t n = pool_test::scaled(200'000);
            ParallelSum sum;
            for (int round = 0; round < 10; ++round) {
                const auto [outside, total] = pool::join([] { return pool::current_num_threads(); }, [&] { return sum(1, n); });
                ok += outside == pool::current_num_threads() && total == n * (n + 1) / 2;
            }
        });
    for (auto& t : callers) t.join();
    EXPECT_EQ(ok.load(), 60);
}

// Dropped pools and a failed build leave no threads behind.
TEST(Pool, ThreadLifecycle) {
    const std::size_t baseline = pool_test::thread_count();
    for (int i = 0; i < (pool_test::kSanitized ? 40 : 200); ++i) {
        auto tp = make_pool(1 + i % 4);
        EXPECT_EQ(tp.join([] { return 1; }, [] { return 2; }).second, 2);
        if (i % 3 == 0) auto moved = std::move(tp);  // dropping the moved-from handle does nothing
    }
    EXPECT_TRUE(pool_test::eventually([&] { return pool_test::thread_count() <= baseline; }))
        << pool_test::thread_count() << " threads, " << baseline << " before";

    pool::platform::fail_thread_starts_after(3);
    auto result = pool::ThreadPoolBuilder().num_threads(6).build();
    pool::platform::fail_thread_starts_after(-1);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().kind, pool::ThreadPoolBuildErrorKind::IOError);
    EXPECT_EQ(result.error().os_error, EAGAIN);
    EXPECT_TRUE(pool_test::eventually([&] { return pool_test::thread_count() <= baseline; }));
}

#if defined(__linux__)
// Workers of a pool no larger than the processors sleep each on a processor of its own
// (woken, they land apart), and work finds them with their whole set back.
TEST(Pool, WorkersSleepApartAndWakeWithTheirProcessors) {
    cpu_set_t all;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    if (CPU_COUNT(&all) < 2) GTEST_SKIP() << "one processor: nothing to keep apart";
    const std::vector<long> before = pool_test::task_ids();
    auto tp = make_pool(2);
    std::vector<long> workers;
    ASSERT_TRUE(pool_test::eventually([&] {
        workers.clear();
        for (long tid : pool_test::task_ids())
            if (std::find(before.begin(), before.end(), tid) == before.end()) workers.push_back(tid);
        return workers.size() == 2;
    }));
    auto allowed = [](long tid) {
        cpu_set_t set;
        CPU_ZERO(&set);
        sched_getaffinity(static_cast<pid_t>(tid), sizeof set, &set);
        return set;
    };
    EXPECT_TRUE(pool_test::eventually([&] {
        cpu_set_t a = allowed(workers[0]), b = allowed(workers[1]);
        return pool_test::thread_state(workers[0]) == 'S' && pool_test::thread_state(workers[1]) == 'S' &&
               CPU_COUNT(&a) == 1 && CPU_COUNT(&b) == 1 && !CPU_EQUAL(&a, &b);
    }));
    std::mutex m;
    std::vector<cpu_set_t> seen;
    auto record = [&] {
        const cpu_set_t set = allowed(0);
        std::lock_guard<std::mutex> lock(m);
        seen.push_back(set);
    };
    tp.join(record, record);
    for (const cpu_set_t& set : seen) EXPECT_TRUE(CPU_EQUAL(&set, &all));
}

// A confined thread runs on its one processor, and ending the confinement gives it back the
// set of processors it had; a processor outside that set is refused.
TEST(Platform, ConfinementMovesTheThreadAndGivesBackItsProcessors) {
    std::thread([] {
        cpu_set_t before, after;
        ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
        const int last = pool::platform::allowed_processor(CPU_COUNT(&before) - 1);
        ASSERT_GE(last, 0);
        EXPECT_EQ(pool::platform::allowed_processor(CPU_COUNT(&before)), -1);
        ASSERT_TRUE(pool::platform::confine_to_processor(last));
        EXPECT_EQ(pool::platform::current_processor(), last);
        pool::platform::end_confinement();
        ASSERT_EQ(sched_getaffinity(0, sizeof after, &after), 0);
        EXPECT_TRUE(CPU_EQUAL(&before, &after));

        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(last, &one);
        ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
        EXPECT_FALSE(pool::platform::confine_to_processor(last == 0 ? 1 : last - 1));
        ASSERT_EQ(sched_getaffinity(0, sizeof after, &after), 0);
        EXPECT_TRUE(CPU_EQUAL(&one, &after));
    }).join();
}
#endif

// The owner pushes far past the deque's first capacity, popping some back, while thieves
// steal: every job leaves exactly once, by one end or the other. Under ThreadSanitizer this
// is where a growing buffer races a steal reading the old one.
TEST(PoolConcurrent, DequeGrowsWhileThievesSteal) {
    constexpr std::size_t kJobs = 20'000;
    std::vector<pool::Job> jobs(kJobs);  // only their addresses travel through the deque
    std::vector<std::atomic<int>> taken(kJobs);
    auto take = [&](pool::Job* job) { taken[static_cast<std::size_t>(job - jobs.data())].fetch_add(1); };
    pool::JobDeque deque;
    std::atomic<bool> owner_done{false};
    std::vector<std::thread> thieves;
    for (int t = 0; t < 3; ++t)
        thieves.emplace_back([&] {
            for (;;) {
                const bool last_look = owner_done.load();
                const pool::Stolen s = deque.steal();
                if (s.status == pool::StealStatus::kSuccess) take(s.job);
                else if (s.status == pool::StealStatus::kEmpty && last_look) return;
            }
        });
    for (std::size_t next = 0; next < kJobs;) {
        for (std::size_t k = 0; k < 300 && next < kJobs; ++k) deque.push(&jobs[next++]);
        for (int k = 0; k < 100; ++k)
            if (pool::Job* job = deque.pop()) take(job);
    }
    while (pool::Job* job = deque.pop()) take(job);
    owner_done = true;
    for (auto& t : thieves) t.join();
    for (std::size_t i = 0; i < kJobs; ++i) ASSERT_EQ(taken[i].load(), 1) << "job " << i;
}

TEST(ThreadCount, ParsesOnlyPlainUnsignedDecimals) {
    const std::pair<std::string_view, std::optional<std::size_t>> rows[] = {
        {"3", 3}, {"+3", 3}, {"0", 0}, {"007", 7}, {"18446744073709551615", 18446744073709551615ULL},
        {"18446744073709551616", std::nullopt},  // overflows a machine word
        {"", std::nullopt}, {"+", std::nullopt}, {"-", std::nullopt}, {"-3", std::nullopt},
        {" 3", std::nullopt}, {"3 ", std::nullopt}, {"3a", std::nullopt}, {"++3", std::nullopt},
    };
    for (const auto& [text, value] : rows) EXPECT_EQ(pool::parse_thread_count(text), value) << '"' << text << '"';
}

TEST(ThreadCount, ResolvesInTheDocumentedOrder) {
    constexpr std::optional<std::string_view> unset = std::nullopt;
    struct Row { std::size_t requested; std::optional<std::string_view> num_threads, num_cpus; std::size_t processors, expected; };
    const Row rows[] = {
        {8, "3", "5", 4, 8},  // an explicit request ignores the environment
        {0, "3", unset, 4, 3},
        {0, "0", "5", 4, 4},  // 0 means the processor count, not the next variable
        {0, "abc", unset, 4, 4},
        {0, "-3", "5", 4, 5},  // unparsable falls through to the second variable
        {0, "", "5", 4, 5}, {0, unset, "5", 4, 5}, {0, unset, "0", 4, 4}, {0, unset, unset, 4, 4},
        {0, unset, unset, 0, 1},  // a system reporting no processors still gets one thread
        {70000, unset, unset, 4, 65535}, {0, "70000", unset, 4, 65535}, {0, unset, "18446744073709551615", 4, 65535},
    };
    for (const Row& r : rows)
        EXPECT_EQ(pool::resolve_num_threads(r.requested, r.num_threads, r.num_cpus, r.processors), r.expected)
            << "requested " << r.requested << " RAYON_NUM_THREADS=" << r.num_threads.value_or("<unset>")
            << " RAYON_RS_NUM_CPUS=" << r.num_cpus.value_or("<unset>");
}
