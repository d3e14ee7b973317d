// Owned references and once-per-process values for the Python boundary.
#pragma once

#include <Python.h>

#include <atomic>
#include <mutex>
#include <utility>

namespace tamarind::py {

// One owned (strong) reference; dropped when the holder goes out of scope, also while
// an exception unwinds.
class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* owned) : p_(owned) {}
    static Ref borrow(PyObject* borrowed) {
        Py_XINCREF(borrowed);
        return Ref(borrowed);
    }
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        Ref(std::move(other)).swap(*this);
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const { return p_; }
    PyObject* release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }
    void swap(Ref& other) noexcept { std::swap(p_, other.p_); }

private:
    PyObject* p_ = nullptr;
};

// Locks a mutex that guards a one-time initialisation. While waiting for another thread
// that is initialising, this thread lets go of the interpreter, so that the initialiser
// (whose imports may need the interpreter) can finish.
class InitLock {
public:
    explicit InitLock(std::mutex& m) : lock_(m, std::try_to_lock) {
        if (!lock_.owns_lock()) {
            Py_BEGIN_ALLOW_THREADS
            lock_.lock();
            Py_END_ALLOW_THREADS
        }
    }

private:
    std::unique_lock<std::mutex> lock_;
};

}  // namespace tamarind::py
