#include "pool/sleep.hpp"

#include <algorithm>

#include "pool/platform.hpp"

namespace tamarind::pool {

Sleep::Sleep(std::size_t num_threads, const Injector& injector)
    : num_threads_(num_threads),
      injector_(injector),
      words_(std::make_unique<WakeWord[]>(num_threads)) {
    // A processor of its own for every worker, or none: with more workers than processors
    // some would share one anyway, and the scheduler spreads them better.
    if (num_threads == 0 || platform::allowed_processor(num_threads - 1) < 0) return;
    for (std::size_t i = 0; i < num_threads; ++i) words_[i].home = platform::allowed_processor(i);
}

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

void Sleep::go_home(std::size_t worker_index) noexcept {
    if (platform::confine_to_processor(words_[worker_index].home)) platform::end_confinement();
}

bool Sleep::is_home(int cpu) const noexcept {
    if (cpu < 0) return false;
    for (std::size_t i = 0; i < num_threads_; ++i) {
        if (words_[i].home == cpu) return true;
    }
    return false;
}

void Sleep::sleep(IdleState& idle, CoreLatch& latch) noexcept {
    if (!latch.get_sleepy()) return;  // latch set: the caller's loop ends
    WakeWord& me = words_[idle.worker_index];
    std::atomic<std::uint32_t>& word = me.asleep;

    // The wake word goes up before the latch says "sleeping" and before the sleeper is
    // counted, so a setter or publisher that sees either finds the word to clear.
    word.store(1, std::memory_order_seq_cst);
    if (!latch.fall_asleep()) {
        word.store(0, std::memory_order_relaxed);
        idle.rounds = 0;
        idle.jobs_counter = IdleState::kInvalidCounter;
        return;
    }

    std::uint64_t c = counters_.load(std::memory_order_seq_cst);
    for (;;) {
        if (jobs_counter(c) != idle.jobs_counter) {
            // A job was published after we got sleepy: search once more, then try again.
            word.store(0, std::memory_order_relaxed);
            idle.rounds = kRoundsUntilSleepy;
            idle.jobs_counter = IdleState::kInvalidCounter;
            latch.wake_up();
            return;
        }
        if (counters_.compare_exchange_weak(c, c + kOneSleeping, std::memory_order_seq_cst)) {
            break;
        }
    }

    // Asleep on its own processor, so that it wakes there (see sleep.hpp).
    const bool confined = me.home >= 0 && platform::confine_to_processor(me.home);
    // An outside caller may have injected a job just before we were counted.
    if (!injector_.is_empty()) word.store(0, std::memory_order_relaxed);
    while (word.load(std::memory_order_acquire) == 1) platform::wait_on_address(word, 1);
    if (confined) platform::end_confinement();

    // The sleeper takes itself off the sleeping count, so wakers never race it below zero.
    counters_.fetch_sub(kOneSleeping, std::memory_order_seq_cst);
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
    // Sleepers whose processor is not the waker's first: one woken there could start only
    // once the waker, which goes on working, gives the processor up.
    const int here = num_threads_ > 1 ? platform::current_processor() : -1;
    for (std::size_t i = 0; n > 0 && i < num_threads_; ++i) {
        if (words_[i].home == here && here >= 0) continue;
        if (wake_specific_thread(i)) --n;
    }
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
