// join(a, b): runs two closures, possibly at the same time on two threads, and returns
// when both have finished, with their results as a pair (void results become
// std::monostate). A panic (any exception) in either closure is raised again in the
// caller after both have finished; when both throw, a's exception wins.
//
// On a worker, b is pushed onto the worker's deque where idle workers may steal it, and a
// runs at once. From any other thread b is offered to the global pool's workers and a runs
// on the caller, which takes b back if no worker has started it by then (a worker woken
// onto a busy processor may wait a whole time slice for it) and otherwise helps with the
// pool's queued jobs until b is done.
#pragma once

#include <chrono>
#include <exception>
#include <optional>
#include <utility>

#include "pool/job.hpp"
#include "pool/late_workers.hpp"
#include "pool/latch.hpp"
#include "pool/registry.hpp"

namespace tamarind::pool {

namespace detail {

// What running a closure left: its value, or the panic it raised (kept for after b).
template <class A>
struct Outcome {
    std::optional<value_t<A>> value;
    std::exception_ptr error;
};

template <class A>
Outcome<A> run_caught(A& a) noexcept {
    Outcome<A> out;
    try {
        out.value.emplace(call_for_value(a));
    } catch (...) {
        out.error = std::current_exception();
    }
    return out;
}

// join on the given worker of the current thread.
template <class A, class B>
auto join_in_worker(WorkerThread& worker, A& a, B& b) {
    using RA = value_t<A>;
    using RB = value_t<B>;
    StackJob<B, SpinLatch> job_b(b, worker.registry, worker.index, false);
    worker.push(&job_b);

    Outcome<A> ra = run_caught(a);
    if (ra.error) {
        // b still runs (here or on its thief) before a's panic goes on; b's own is dropped.
        worker.wait_until(job_b.latch.core());
        std::rethrow_exception(ra.error);
    }

    while (!job_b.latch.probe()) {
        Job* job = worker.take_local_job();
        if (job == &job_b) {
            // Nobody stole b: run it here without the job's bookkeeping.
            RB rb = job_b.run_inline();
            return std::pair<RA, RB>(std::move(*ra.value), std::move(rb));
        }
        if (job == nullptr) {
            // b was stolen: help with other work until its thief is done.
            worker.wait_until(job_b.latch.core());
            break;
        }
        WorkerThread::execute(job);
    }
    RB rb = job_b.into_result();
    return std::pair<RA, RB>(std::move(*ra.value), std::move(rb));
}

// join on a thread outside every pool, with b offered to `registry` (the global pool).
template <class A, class B>
auto join_from_outside(Registry& registry, A& a, B& b) {
    using RA = value_t<A>;
    using RB = value_t<B>;
    StackJob<B, LockLatch> job_b(b);
    registry.inject(&job_b);

    const auto start = std::chrono::steady_clock::now();
    Outcome<A> ra = run_caught(a);
    const auto a_done = std::chrono::steady_clock::now();
    if (registry.take_back(&job_b)) {
        // No worker came for b: it runs here, as a worker's own join runs an unstolen b.
        if (ra.error) {
            try {
                job_b.run_inline();
            } catch (...) {
            }
            std::rethrow_exception(ra.error);
        }
        RB rb = job_b.run_inline();
        return std::pair<RA, RB>(std::move(*ra.value), std::move(rb));
    }
    registry.help_until(job_b.latch);
    // b, begun with a, ran past three times a's time: its worker waited for a processor.
    const auto waited = std::chrono::steady_clock::now() - a_done;
    if (waited > kLateWorker && waited > 2 * (a_done - start)) note_late_worker();
    if (ra.error) std::rethrow_exception(ra.error);
    RB rb = job_b.into_result();
    return std::pair<RA, RB>(std::move(*ra.value), std::move(rb));
}

}  // namespace detail

template <class A, class B>
auto join(A&& a, B&& b) {
    if (WorkerThread* worker = current_worker()) return detail::join_in_worker(*worker, a, b);
    return detail::join_from_outside(global_registry(), a, b);
}

}  // namespace tamarind::pool
