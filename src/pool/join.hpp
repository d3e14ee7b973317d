// join(a, b): runs two closures, possibly at the same time on two threads, and returns
// when both have finished, with their results as a pair (void results become
// std::monostate). A panic (any exception) in either closure is raised again in the
// caller after both have finished; when both throw, a's exception wins.
//
// This version runs a then b on the calling thread; the work-stealing pool replaces it
// with one that offers b to other workers, keeping the same contract.
#pragma once

#include <exception>
#include <type_traits>
#include <utility>
#include <variant>

namespace tamarind::pool {

namespace detail {
template <class F>
auto call_for_value(F& f) {
    if constexpr (std::is_void_v<std::invoke_result_t<F&>>) {
        f();
        return std::monostate{};
    } else {
        return f();
    }
}
}  // namespace detail

template <class A, class B>
auto join(A&& a, B&& b) {
    using RA = decltype(detail::call_for_value(a));
    using RB = decltype(detail::call_for_value(b));
    RA ra{};
    try {
        ra = detail::call_for_value(a);
    } catch (...) {
        // b still runs before a's exception continues; its own exception is dropped.
        std::exception_ptr first = std::current_exception();
        try {
            detail::call_for_value(b);
        } catch (...) {
        }
        std::rethrow_exception(first);
    }
    RB rb = detail::call_for_value(b);
    return std::pair<RA, RB>(std::move(ra), std::move(rb));
}

}  // namespace tamarind::pool
