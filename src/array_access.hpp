// Taking the `arr` argument: type, dimensionality and dtype checks, the exclusive write
// borrow in the shared registry, and the element slice the sorts work on.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

#include "errors.hpp"

namespace tamarind::py {

template <class T>
struct ElementSlice {
    T* data;
    std::size_t len;
};

// Holds one reference to an array and its exclusive borrow; gives both back when it goes
// out of scope, on every path out of a call, unwinding included.
class TakenArray {
public:
    // Checks `object` (one-dimensional ndarray of the given type number) and borrows it.
    // A read-only or already borrowed array is a panic.
    static Result<TakenArray> take(PyObject* object, int type_num);

    TakenArray(TakenArray&& other) noexcept : array_(std::exchange(other.array_, nullptr)) {}
    TakenArray(const TakenArray&) = delete;
    TakenArray& operator=(const TakenArray&) = delete;
    TakenArray& operator=(TakenArray&&) = delete;
    ~TakenArray();

    // The element slice, or the not-contiguous TypeError for n > 0.
    template <class T>
    Result<ElementSlice<T>> slice() const {
        std::uint64_t n = 0;
        void* data = nullptr;
        if (!raw_slice(n, data)) return not_contiguous();
        return ElementSlice<T>{static_cast<T*>(data), static_cast<std::size_t>(n)};
    }

private:
    explicit TakenArray(PyObject* array) : array_(array) {}
    bool raw_slice(std::uint64_t& n, void*& data) const;
    static PyError not_contiguous();

    PyObject* array_;
};

}  // namespace tamarind::py
