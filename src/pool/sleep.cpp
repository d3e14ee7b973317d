#include "pool/sleep.hpp"

#include <algorithm>

#include "pool/platform.hpp"

namespace tamarind::pool {

Sleep::Sleep(std::size_t num_threads, const Injector& injector)
    : num_threads_(num_threads),
      injector_(injector),
      words_(std::make_unique<WakeWord[]>(num_threads)) {}

void Sleep::yield() noexcept { platform::yield_now(); }

IdleState Sleep::start_looking(std::size_t worker_index) noexcept {
    counters_.fetch_add(kOneIdle, std::memory_order_seq_cst);
    return IdleState{worker_index};
}

void Sleep::work_found() noexcept {
    const std::uint64_t before = counters_.fetch_sub(kOneIdle, std::memory_order_seq_cst);
    // More work may follow the job just found; bring a couple of sleepers back to look.
    wake_any_threads(std::min(sleeping(before), kMaxWakesOnWorkFound));
}

void Sleep::stop_looking() noexcept { counters_.fetch_sub(kOneIdle, std::memory_order_seq_cst); }

std::uint64_t Sleep::announce_sleepy() noexcept {
    std::uint64_t c = counters_.load(std::memory_order_seq_cst);
    for (;;) {
        if (jobs_counter(c) & 1) return jobs_counter(c);  // someone is sleepy already
        if (counters_.compare_exchange_weak(c, c + kOneJobEvent, std::memory_order_seq_cst)) {
            return jobs_counter(c) + 1;
        }
    }
}

// The scheduler wakes a thread on the processor it last ran on when that one is free. Two
// workers asleep on one processor are woken onto it together, and when the thread that
// woke them holds the only other one (the caller waiting for the pool runs there until it
// blocks) they share that processor for milliseconds after the other has gone idle: the
// pool then runs at half speed, which measured +40% to +100% on a first call after an idle
// stretch on a 2-processor machine. So workers fall asleep on different processors.
void Sleep::sleep_apart(std::size_t me) noexcept {
    int cpu = platform::current_processor();
    if (cpu < 0) return;
    auto taken = [&](int c) {
        for (std::size_t i = 0; i < num_threads_; ++i) {
            if (i != me && words_[i].processor.load(std::memory_order_relaxed) == c) return true;
        }
        return false;
    };
    // Where the move lands is the scheduler's choice; one more try covers a landing next to
    // another sleeper, and more than that would cost wake-ups more than it saves.
    for (int attempt = 0; attempt < 2 && taken(cpu); ++attempt) {
        if (!platform::move_off_processor(cpu)) break;
        cpu = platform::current_processor();
    }
    words_[me].processor.store(cpu, std::memory_order_relaxed);
}

void Sleep::sleep(IdleState& idle, CoreLatch& latch) noexcept {
    if (!latch.get_sleepy()) return;  // latch set: the caller's loop ends
    sleep_apart(idle.worker_index);
    std::atomic<std::uint32_t>& word = words_[idle.worker_index].asleep;

    // The wake word goes up before the latch says "sleeping" and before the sleeper is
    // counted, so a setter or publisher that sees either finds the word to clear.
    word.store(1, std::memory_order_seq_cst);
    if (!latch.fall_asleep()) {
        word.store(0, std::memory_order_relaxed);
        words_[idle.worker_index].processor.store(-1, std::memory_order_relaxed);
        idle.rounds = 0;
        idle.jobs_counter = IdleState::kInvalidCounter;
        return;
    }

    std::uint64_t c = counters_.load(std::memory_order_seq_cst);
    for (;;) {
        if (jobs_counter(c) != idle.jobs_counter) {
            // A job was published after we got sleepy: search once more, then try again.
            word.store(0, std::memory_order_relaxed);
            words_[idle.worker_index].processor.store(-1, std::memory_order_relaxed);
            idle.rounds = kRoundsUntilSleepy;
            idle.jobs_counter = IdleState::kInvalidCounter;
            latch.wake_up();
            return;
        }
        if (counters_.compare_exchange_weak(c, c + kOneSleeping, std::memory_order_seq_cst)) {
            break;
        }
    }

    // An outside caller may have injected a job just before we were counted.
    if (!injector_.is_empty()) word.store(0, std::memory_order_relaxed);
    while (word.load(std::memory_order_acquire) == 1) platform::wait_on_address(word, 1);

    // The sleeper takes itself off the sleeping count, so wakers never race it below zero.
    counters_.fetch_sub(kOneSleeping, std::memory_order_seq_cst);
    words_[idle.worker_index].processor.store(-1, std::memory_order_relaxed);
    idle.rounds = 0;
    idle.jobs_counter = IdleState::kInvalidCounter;
    latch.wake_up();
}

void Sleep::new_jobs(std::uint32_t num_jobs, bool queue_was_empty) noexcept {
    // Make the jobs counter even again if someone is getting sleepy, so it searches again
    // instead of falling asleep past the job just published.
    std::uint64_t c = counters_.load(std::memory_order_seq_cst);
    for (;;) {
        if ((jobs_counter(c) & 1) == 0) break;
        if (counters_.compare_exchange_weak(c, c + kOneJobEvent, std::memory_order_seq_cst)) {
            c += kOneJobEvent;
            break;
        }
    }
    const std::uint64_t sleepers = sleeping(c);
    if (sleepers == 0) return;
    const std::uint64_t awake_idle = idle(c) > sleepers ? idle(c) - sleepers : 0;
    if (!queue_was_empty) {
        wake_any_threads(std::min<std::uint64_t>(num_jobs, sleepers));
    } else if (awake_idle < num_jobs) {
        // The idle threads that are awake will find the rest.
        wake_any_threads(std::min<std::uint64_t>(num_jobs - awake_idle, sleepers));
    }
}

void Sleep::wake_any_threads(std::uint64_t n) noexcept {
    for (std::size_t i = 0; n > 0 && i < num_threads_; ++i) {
        if (wake_specific_thread(i)) --n;
    }
}

bool Sleep::wake_specific_thread(std::size_t i) noexcept {
    std::atomic<std::uint32_t>& word = words_[i].asleep;
    if (word.load(std::memory_order_relaxed) == 0) return false;
    if (word.exchange(0, std::memory_order_seq_cst) != 1) return false;
    platform::wake_by_address_single(word);
    return true;
}

}  // namespace tamarind::pool
