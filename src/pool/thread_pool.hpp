// Worker pools. ThreadPoolBuilder builds a dedicated ThreadPool of a given size; the free
// functions join, scope and current_num_threads use the pool the calling thread works
// for, or the global pool from any other thread.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>
#include <variant>

#include "pool/build_error.hpp"
#include "pool/join.hpp"
#include "pool/registry.hpp"
#include "pool/scope.hpp"

namespace tamarind::pool {

class ThreadPool {
public:
    ThreadPool(ThreadPool&& other) noexcept
        : registry_(std::exchange(other.registry_, nullptr)), owned_(other.owned_) {}
    ThreadPool& operator=(ThreadPool&& other) noexcept {
        if (this != &other) {
            end();
            registry_ = std::exchange(other.registry_, nullptr);
            owned_ = other.owned_;
        }
        return *this;
    }

    // A handle on the global pool (built if need be; panics as global_registry does when it
    // cannot be), for code written against a ThreadPool. Dropping it leaves the pool running.
    static ThreadPool global() { return ThreadPool(&global_registry(), false); }
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // Signals the workers to end and returns at once; the last worker to leave frees the
    // pool's state. The pool must have no work in flight.
    ~ThreadPool() { end(); }

    // Runs f on a worker of this pool and returns its result (inline when the caller
    // already is one of its workers). A panic in f is raised again here.
    template <class F>
    auto install(F&& f) {
        using R = std::invoke_result_t<F&>;
        if constexpr (std::is_void_v<R>) {
            registry_->in_worker(f);
        } else {
            return registry_->in_worker(f);
        }
    }

    template <class A, class B>
    auto join(A&& a, B&& b) {
        auto op = [&] { return detail::join_in_worker(*current_worker(), a, b); };
        return registry_->in_worker(op);
    }

    template <class F>
    auto scope(F&& body) {
        using R = std::invoke_result_t<F&, Scope&>;
        auto op = [&] { return detail::scope_in_worker(*current_worker(), body); };
        if constexpr (std::is_void_v<R>) {
            registry_->in_worker(op);
        } else {
            return registry_->in_worker(op);
        }
    }

    std::size_t current_num_threads() const noexcept { return registry_->num_threads(); }

    // Whether this is a handle on the global pool, which the free functions (join, scope)
    // reach from any thread outside a pool without an install.
    bool is_global() const noexcept { return !owned_; }

private:
    friend class ThreadPoolBuilder;
    explicit ThreadPool(Registry* registry, bool owned = true) noexcept : registry_(registry), owned_(owned) {}

    void end() noexcept {
        if (registry_ == nullptr || !owned_) return;
        registry_->terminate();
        registry_->release();
        registry_ = nullptr;
    }

    Registry* registry_;
    bool owned_;  // a built pool, ended with its handle; not the global one
};

// A built pool or the reason it could not be built.
class BuildResult {
public:
    explicit BuildResult(ThreadPool pool) : v_(std::move(pool)) {}
    explicit BuildResult(ThreadPoolBuildError error) : v_(error) {}

    bool ok() const noexcept { return v_.index() == 0; }
    ThreadPool& value() { return std::get<0>(v_); }
    const ThreadPoolBuildError& error() const { return std::get<1>(v_); }

    // The pool; panics with "called `Result::unwrap()` on an `Err` value: <error>" if none.
    ThreadPool unwrap() &&;

private:
    std::variant<ThreadPool, ThreadPoolBuildError> v_;
};

class ThreadPoolBuilder {
public:
    // 0 (the default) takes the count from the environment or the processor count.
    ThreadPoolBuilder& num_threads(std::size_t n) noexcept {
        num_threads_ = n;
        return *this;
    }

    // Starts the workers. If one cannot be started, those already started are told to end
    // and the result holds an IOError.
    BuildResult build() const;

private:
    std::size_t num_threads_ = 0;
};

// Threads of the pool the calling thread works for; of the global pool (built if need be)
// from any other thread.
std::size_t current_num_threads();

}  // namespace tamarind::pool
