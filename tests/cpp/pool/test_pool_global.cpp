// The global pool when its threads cannot be started: the first use panics, the threads
// that did start are stopped, and every later use panics the same way. One test per
// program, since the global pool is built once per process.
#include <gtest/gtest.h>

#include <cerrno>

#include "pool/platform.hpp"
#include "pool/thread_pool.hpp"
#include "pool_test_support.hpp"

using namespace tamarind;

TEST(GlobalPool, FailedBuildPanicsOnEveryUseAndStopsStartedThreads) {
    ::setenv("RAYON_NUM_THREADS", "4", 1);
    const std::size_t baseline = pool_test::thread_count();
    pool::platform::fail_thread_starts_after(2);
    const std::string expected = "The global thread pool has not been initialized.: "
                                 "ThreadPoolBuildError { kind: IOError(Os { code: " +
                                 std::to_string(EAGAIN);
    const std::string messages[] = {tamarind::testing::panic_message([] { pool::current_num_threads(); }),
                                    tamarind::testing::panic_message([] { pool::join([] {}, [] {}); })};
    for (const std::string& message : messages) EXPECT_EQ(message.rfind(expected, 0), 0u) << message;
    pool::platform::fail_thread_starts_after(-1);
    EXPECT_TRUE(pool_test::eventually([&] { return pool_test::thread_count() <= baseline; }));
}
