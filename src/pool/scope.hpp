// scope(body): a fork-join region. body receives a Scope& on which it (and every task it
// starts) may spawn tasks that borrow what lives outside the scope; scope returns only
// after the body and all those tasks have finished. The first panic among them is stored
// and raised again once everything has finished; later ones are dropped.
#pragma once

#include <atomic>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

#include "pool/job.hpp"
#include "pool/latch.hpp"
#include "pool/registry.hpp"

namespace tamarind::pool {

class Scope {
public:
    // Owned by `owner`, a worker of its pool; the body counts as the first pending job.
    explicit Scope(WorkerThread& owner) noexcept
        : registry_(owner.registry), pending_(owner.registry, owner.index) {}
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    ~Scope() { delete panic_.load(std::memory_order_relaxed); }

    // Any thread, while the scope is open. Starts task (callable as task(Scope&) or task())
    // as a job of the scope's pool.
    template <class F>
    void spawn(F&& task);

    // Keeps the first panic; drops the others.
    void store_panic(std::exception_ptr error) {
        auto* boxed = new std::exception_ptr(std::move(error));
        std::exception_ptr* expected = nullptr;
        if (!panic_.compare_exchange_strong(expected, boxed, std::memory_order_release,
                                            std::memory_order_relaxed)) {
            delete boxed;
        }
    }

    // One pending job (the body or a task) has finished.
    void job_completed() noexcept { pending_.set(); }

    // Owner only: waits for every pending job, then raises the stored panic if there is one.
    void wait_and_rethrow(WorkerThread& owner) {
        owner.wait_until(pending_.core());
        if (std::exception_ptr* error = panic_.load(std::memory_order_acquire)) {
            std::rethrow_exception(*error);
        }
    }

private:
    template <class F>
    struct HeapJob : Job {
        template <class G>
        HeapJob(G&& g, Scope* s) : Job{&HeapJob::execute}, task(std::forward<G>(g)), scope(s) {}

        static void execute(Job* job) {
            auto* self = static_cast<HeapJob*>(job);
            Scope* scope = self->scope;
            try {
                if constexpr (std::is_invocable_v<F&, Scope&>) {
                    self->task(*scope);
                } else {
                    self->task();
                }
            } catch (...) {
                scope->store_panic(std::current_exception());
            }
            // The task and its captures go first: the scope may end as soon as it is counted.
            delete self;
            scope->job_completed();
        }

        F task;
        Scope* scope;
    };

    Registry* registry_;
    CountLatch pending_;
    std::atomic<std::exception_ptr*> panic_{nullptr};
};

template <class F>
void Scope::spawn(F&& task) {
    auto* job = new HeapJob<std::decay_t<F>>(std::forward<F>(task), this);
    // Counted before it is queued, where another thread may run and count it off at once;
    // a queue that cannot take it (a deque that cannot grow) uncounts it, or the scope
    // would wait for it for ever.
    pending_.increment();
    try {
        WorkerThread* worker = current_worker();
        if (worker != nullptr && worker->registry == registry_) {
            worker->push(job);
        } else {
            registry_->inject(job);
        }
    } catch (...) {
        delete job;
        pending_.set();
        throw;
    }
}

namespace detail {

template <class F>
auto scope_in_worker(WorkerThread& owner, F& body) {
    Scope scope(owner);
    auto run_body = [&] { return body(scope); };
    std::optional<value_t<decltype(run_body)>> result;
    try {
        result.emplace(call_for_value(run_body));
    } catch (...) {
        scope.store_panic(std::current_exception());
    }
    scope.job_completed();
    scope.wait_and_rethrow(owner);
    return std::move(*result);
}

}  // namespace detail

// The scope runs on the calling worker's pool, or on the global pool from other threads.
template <class F>
auto scope(F&& body) {
    using R = std::invoke_result_t<F&, Scope&>;
    auto op = [&] { return detail::scope_in_worker(*current_worker(), body); };
    WorkerThread* worker = current_worker();
    auto value = worker != nullptr ? op() : global_registry().in_worker(op);
    if constexpr (!std::is_void_v<R>) return value;
}

}  // namespace tamarind::pool
