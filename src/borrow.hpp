// The process-wide borrow registry shared by every extension that follows the same
// protocol: a capsule on NumPy's multiarray module points at a SharedBorrowApi record.
// The first extension that needs it creates it; the others use that one.
#pragma once

#include <Python.h>

#include <cstdint>

#include "errors.hpp"

namespace tamarind::py {

// Fixed C layout, shared with other extensions.
struct SharedBorrowApi {
    std::uint64_t version;
    void* registry;
    int (*acquire)(void* registry, PyObject* array);
    int (*acquire_mut)(void* registry, PyObject* array);
    void (*release)(void* registry, PyObject* array);
    void (*release_mut)(void* registry, PyObject* array);
};

// Return codes of acquire and acquire_mut.
inline constexpr int kBorrowOk = 0;
inline constexpr int kAlreadyBorrowed = -1;
inline constexpr int kNotWriteable = -2;
// Only this module's registry returns it: the registry could not grow.
inline constexpr int kRegistryOutOfMemory = -3;

// The record, found or created once per process; a failed attempt is tried again later.
Result<const SharedBorrowApi*> borrow_api();

}  // namespace tamarind::py
