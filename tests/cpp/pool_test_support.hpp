// Helpers for the worker-pool tests: a watchdog, thread counting and thread states.
#pragma once

#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "sort_test_support.hpp"

namespace pool_test {

using tamarind::testing::kSanitized;

// Sanitizer builds run the same tests on smaller inputs.
inline std::size_t scaled(std::size_t n) { return kSanitized ? n / 10 : n; }

// Runs body on its own thread; a deadlock ends the whole program instead of hanging CI.
inline void with_timeout(int seconds, const std::function<void()>& body) {
    std::packaged_task<void()> task(body);
    auto done = task.get_future();
    std::thread runner(std::move(task));
    if (done.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
        std::fprintf(stderr, "timed out after %d s (deadlock?)\n", seconds);
        std::abort();
    }
    runner.join();
    done.get();  // raises the body's failure, if any
}

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
