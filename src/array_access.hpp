// Taking the `arr` argument: type, dimensionality and dtype checks, the exclusive write
// borrow in the shared registry, and the element slice the sorts work on.
#pragma once

#include <Python.h>

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "errors.hpp"

namespace tamarind::py {

template <class T>
struct ElementSlice {
    T* data;
    std::size_t len;
};

// How an array is borrowed: exclusively, to be sorted in place, or shared, only to be read
// (the partition helper's source, which may be read-only).
enum class Access { kWrite, kRead };

// Holds one reference to an array and its borrow; gives both back when it goes out of
// scope, on every path out of a call, unwinding included.
class TakenArray {
public:
    // Checks `object` (one-dimensional ndarray of the given type number) and borrows it;
    // `name` is the parameter that the type error's note names. A read-only array taken
    // for writing, or an array borrowed in a conflicting way, is a panic.
    static Result<TakenArray> take(PyObject* object, int type_num, Access access = Access::kWrite,
                                   const char* name = "arr");

    TakenArray(TakenArray&& other) noexcept
        : array_(std::exchange(other.array_, nullptr)), access_(other.access_) {}
    TakenArray(const TakenArray&) = delete;
    TakenArray& operator=(const TakenArray&) = delete;
    TakenArray& operator=(TakenArray&&) = delete;
    ~TakenArray() { give_back(); }
    // Gives the borrow and the reference back now; the destructor then does nothing.
    void give_back();

    // The element slice, or the not-contiguous TypeError for n > 0.
    template <class T>
    Result<ElementSlice<T>> slice() const {
        std::uint64_t n = 0;
        void* data = nullptr;
        if (!raw_slice(n, data)) return not_contiguous();
        return ElementSlice<T>{static_cast<T*>(data), static_cast<std::size_t>(n)};
    }

private:
    TakenArray(PyObject* array, Access access) : array_(array), access_(access) {}
    bool raw_slice(std::uint64_t& n, void*& data) const;
    static PyError not_contiguous();

    PyObject* array_;
    Access access_;
};

// Lets go of the interpreter lock for a scope while `held` stay borrowed, and takes it back
// when the scope ends, also while an exception unwinds. The borrows are listed meanwhile: a
// fork by another thread copies them into a child where this thread does not exist, and
// the child gives them back (drop_orphaned_borrows).
class GilReleased {
public:
    explicit GilReleased(std::span<TakenArray> held);
    GilReleased(const GilReleased&) = delete;
    GilReleased& operator=(const GilReleased&) = delete;
    ~GilReleased();

private:
    friend void drop_orphaned_borrows();
    std::span<TakenArray> held_;
    pthread_t owner_;
    PyThreadState* state_ = nullptr;
};

// In a child just forked, with the interpreter lock: gives back the borrows that threads
// other than this one held without the lock. No such thread runs in the child, so nothing
// else ever would.
void drop_orphaned_borrows();

}  // namespace tamarind::py
