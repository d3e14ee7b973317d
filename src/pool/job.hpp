// A job: a pointer to its execute function, embedded at the front of the record that holds
// the closure, its latch and its result. Queues move bare Job pointers, so a job costs one
// pointer in a deque slot and no allocation when it lives on the stack of its waiter.
#pragma once

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace tamarind::pool {

struct Job {
    // Runs the job. Must catch everything the closure throws (the waiter raises it) and
    // touch the job no more once it has set the job's latch: the waiter may free it then.
    void (*execute_fn)(Job*);
};

namespace detail {

// Calls f, mapping a void result to std::monostate so results can be stored uniformly.
template <class F>
auto call_for_value(F& f) {
    if constexpr (std::is_void_v<std::invoke_result_t<F&>>) {
        f();
        return std::monostate{};
    } else {
        return f();
    }
}

template <class F>
using value_t = decltype(call_for_value(std::declval<F&>()));

}  // namespace detail

// A job that lives in its waiter's stack frame and refers to the waiter's closure. The
// latch L says when the result may be read; L::set must not touch the latch after it has
// released the waiter.
template <class F, class L>
struct StackJob : Job {
    using Value = detail::value_t<F>;

    template <class... LatchArgs>
    explicit StackJob(F& f, LatchArgs&&... latch_args)
        : Job{&StackJob::execute}, func(&f), latch(std::forward<LatchArgs>(latch_args)...) {}

    static void execute(Job* job) {
        auto* self = static_cast<StackJob*>(job);
        try {
            self->value.emplace(detail::call_for_value(*self->func));
        } catch (...) {
            self->error = std::current_exception();
        }
        self->latch.set();
    }

    // Runs the closure on the current thread after the job was taken back from the deque;
    // whatever it throws passes straight to the caller.
    Value run_inline() { return detail::call_for_value(*func); }

    // The value, or the captured exception raised again. Only after the latch is set.
    Value into_result() {
        if (error) std::rethrow_exception(error);
        return std::move(*value);
    }

    F* func;
    L latch;
    std::optional<Value> value;
    std::exception_ptr error;
};

}  // namespace tamarind::pool
