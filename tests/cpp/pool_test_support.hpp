// Helpers for the worker-pool tests: a watchdog, thread counting and thread states.
#pragma once

#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "sort_test_support.hpp"

namespace pool_test {

using tamarind::testing::kSanitized;

inline long now_s() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Sanitizer builds run the same tests on smaller inputs.
inline std::size_t scaled(std::size_t n) { return kSanitized ? n / 10 : n; }

// Ends the program when one test runs for over two minutes, so that a deadlock fails the run
// instead of hanging CI: a listener notes when each test starts, a thread watches the clock.
inline std::atomic<long> test_started_s{0};
inline const bool kWatchdog = [] {
    struct Listener : ::testing::EmptyTestEventListener {
        void OnTestStart(const ::testing::TestInfo&) override { test_started_s = now_s(); }
        void OnTestEnd(const ::testing::TestInfo&) override { test_started_s = 0; }
    };
    ::testing::UnitTest::GetInstance()->listeners().Append(new Listener);
    std::thread([] {
        for (;; std::this_thread::sleep_for(std::chrono::seconds(1))) {
            const long started = test_started_s.load();
            if (started != 0 && now_s() - started > 120) std::fprintf(stderr, "timed out (deadlock?)\n"), std::abort();
        }
    }).detach();
    return true;
}();

// Thread ids of this process (entries of /proc/self/task).
inline std::vector<long> task_ids() {
    std::vector<long> ids;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (dirent* entry = ::readdir(dir)) if (entry->d_name[0] != '.') ids.push_back(std::atol(entry->d_name));
        ::closedir(dir);
    }
    return ids;
}

inline std::size_t thread_count() { return task_ids().size(); }

// Polls until pred() holds or the time is up; returns pred().
template <class Pred>
bool eventually(Pred pred, int seconds = 20) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (; !pred(); std::this_thread::sleep_for(std::chrono::milliseconds(5)))
        if (std::chrono::steady_clock::now() > end) return false;
    return true;
}

// The scheduler state letter of thread `tid` ('R' running, 'S' sleeping, ...).
inline char thread_state(long tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() ? '?' : text[close + 2];
}

}  // namespace pool_test
