#include "borrow.hpp"

#include <cstdlib>
#include <mutex>
#include <new>
#include <numeric>
#include <string>
#include <vector>

#include "numpy_api.hpp"

namespace tamarind::py {
namespace {

constexpr const char* kCapsuleName = "_RUST_NUMPY_BORROW_CHECKING_API";

// One view of a buffer: the byte range it touches, its data pointer and the gcd of its
// byte strides. Views whose data pointers differ by a non-multiple of the combined
// gcd interleave without sharing elements.
struct BorrowKey {
    std::uintptr_t start, end, data;
    std::intptr_t gcd;
    bool operator==(const BorrowKey&) const = default;
};

// One borrow of one view. Shared borrows count up from 1; -1 marks the one exclusive
// borrow of that view.
struct Borrow {
    std::uintptr_t base;  // the object that owns the memory
    BorrowKey key;
    std::int64_t count;
};

// Few arrays are borrowed at any one time, so a flat list scanned under the lock beats
// maps keyed by base address; it keeps its capacity, so a call allocates nothing.
struct BorrowRegistry {
    std::mutex mutex;
    std::vector<Borrow> borrows;

    BorrowRegistry() { borrows.reserve(64); }

    Borrow* find(std::uintptr_t base, const BorrowKey& key) {
        for (Borrow& b : borrows)
            if (b.base == base && b.key == key) return &b;
        return nullptr;
    }
    void remove(Borrow* b) {
        *b = borrows.back();
        borrows.pop_back();
    }
};

std::intptr_t gcd_magnitude(std::intptr_t a, std::intptr_t b) {
    // gcd(0, x) is |x|; std::gcd already works on magnitudes.
    return static_cast<std::intptr_t>(std::gcd(a, b));
}

bool conflicts(const BorrowKey& a, const BorrowKey& b) {
    if (b.start >= a.end || a.start >= b.end) return false;
    std::intptr_t g = gcd_magnitude(a.gcd, b.gcd);
    std::uintptr_t distance = a.data > b.data ? a.data - b.data : b.data - a.data;
    // Two zero-stride views: no divisor; they conflict when they start at the same place.
    if (g == 0) return distance == 0;
    return distance % static_cast<std::uintptr_t>(g) == 0;
}

// The object that owns the memory: follow `base` while it is an array.
std::uintptr_t base_address(PyObject* array) {
    const NumpyApi& api = NumpyApi::cached();
    PyObject* current = array;
    while (true) {
        PyObject* base = fields(current)->base;
        if (base == nullptr) return reinterpret_cast<std::uintptr_t>(current);
        if (!api.is_array(base)) return reinterpret_cast<std::uintptr_t>(base);
        current = base;
    }
}

BorrowKey borrow_key(PyObject* array) {
    const ArrayFields* a = fields(array);
    const auto data = reinterpret_cast<std::uintptr_t>(a->data);
    if (a->nd == 0) return {data, data, data, 1};
    bool empty = false;
    std::uintptr_t low = data, high = data;
    for (int i = 0; i < a->nd; ++i) {
        if (a->dimensions[i] == 0) empty = true;
        // Wrapping arithmetic, as pointer offsets of a valid view never overflow anyway.
        std::uintptr_t extent = static_cast<std::uintptr_t>(a->dimensions[i] - 1) *
                                static_cast<std::uintptr_t>(a->strides[i]);
        if (static_cast<std::intptr_t>(extent) < 0) low += extent;
        else high += extent;
    }
    std::intptr_t gcd = a->strides[0];
    for (int i = 1; i < a->nd; ++i) gcd = gcd_magnitude(gcd, a->strides[i]);
    if (empty) return {data, data, data, gcd};
    return {low, high + static_cast<std::uintptr_t>(NumpyApi::cached().element_size(a->descr)), data, gcd};
}

bool conflicts_with_any(const BorrowRegistry& reg, std::uintptr_t base, const BorrowKey& key, bool exclusive_only) {
    for (const Borrow& b : reg.borrows)
        if (b.base == base && (exclusive_only ? b.count < 0 : b.count != 0) && conflicts(key, b.key)) return true;
    return false;
}

// The opening of every registry operation: the array's base and key, read before the
// lock is taken (they only read the array), and the registry under its lock.
struct Operation {
    BorrowRegistry& reg;
    std::uintptr_t base;
    BorrowKey key;
    std::unique_lock<std::mutex> lock;
};

Operation open_operation(void* registry, PyObject* array) {
    auto& reg = *static_cast<BorrowRegistry*>(registry);
    const std::uintptr_t base = base_address(array);
    const BorrowKey key = borrow_key(array);
    return {reg, base, key, std::unique_lock(reg.mutex)};
}

int acquire_shared(void* registry, PyObject* array) noexcept {
    auto [reg, base, key, lock] = open_operation(registry, array);
    if (Borrow* same = reg.find(base, key)) {
        if (same->count < 0 || same->count == INT64_MAX) return kAlreadyBorrowed;
        ++same->count;
        return kBorrowOk;
    }
    if (conflicts_with_any(reg, base, key, /*exclusive_only=*/true)) return kAlreadyBorrowed;
    try {
        reg.borrows.push_back({base, key, 1});
    } catch (const std::bad_alloc&) {
        return kRegistryOutOfMemory;
    }
    return kBorrowOk;
}

int acquire_exclusive(void* registry, PyObject* array) noexcept {
    if ((fields(array)->flags & kWriteable) == 0) return kNotWriteable;
    auto [reg, base, key, lock] = open_operation(registry, array);
    if (reg.find(base, key) != nullptr) return kAlreadyBorrowed;
    if (conflicts_with_any(reg, base, key, /*exclusive_only=*/false)) return kAlreadyBorrowed;
    try {
        reg.borrows.push_back({base, key, -1});
    } catch (const std::bad_alloc&) {
        return kRegistryOutOfMemory;
    }
    return kBorrowOk;
}

// Releasing what was never borrowed is a broken protocol; these functions cannot report
// it, so they end the process.
void release_shared(void* registry, PyObject* array) noexcept {
    auto [reg, base, key, lock] = open_operation(registry, array);
    Borrow* b = reg.find(base, key);
    if (b == nullptr) std::abort();
    if (--b->count == 0) reg.remove(b);
}

void release_exclusive(void* registry, PyObject* array) noexcept {
    auto [reg, base, key, lock] = open_operation(registry, array);
    Borrow* only = nullptr;
    std::size_t views = 0;
    for (Borrow& b : reg.borrows)
        if (b.base == base) {
            only = &b;
            ++views;
        }
    if (views == 0) std::abort();
    // The last borrow of a buffer goes whatever its key; otherwise the exact view must exist.
    Borrow* b = views == 1 ? only : reg.find(base, key);
    if (b == nullptr) std::abort();
    reg.remove(b);
}

void destroy_capsule(PyObject* capsule) {
    auto* api = static_cast<SharedBorrowApi*>(PyCapsule_GetPointer(capsule, kCapsuleName));
    if (api == nullptr) {
        PyErr_Clear();
        return;
    }
    delete static_cast<BorrowRegistry*>(api->registry);
    delete api;
}

std::mutex g_mutex;
std::atomic<const SharedBorrowApi*> g_api{nullptr};

Result<Ref> create_capsule(PyObject* multiarray) {
    auto* api = new SharedBorrowApi{1, new BorrowRegistry(), acquire_shared, acquire_exclusive,
                                    release_shared, release_exclusive};
    Ref capsule(PyCapsule_New(api, kCapsuleName, destroy_capsule));
    if (!capsule) {
        delete static_cast<BorrowRegistry*>(api->registry);
        delete api;
        return PyError::fetch();
    }
    if (PyObject_SetAttrString(multiarray, kCapsuleName, capsule.get()) != 0) return PyError::fetch();
    return capsule;
}

}  // namespace

Result<const SharedBorrowApi*> borrow_api() {
    if (const SharedBorrowApi* api = g_api.load(std::memory_order_acquire)) return api;
    InitLock lock(g_mutex);
    if (const SharedBorrowApi* api = g_api.load(std::memory_order_relaxed)) return api;

    Result<Ref> multiarray = import_multiarray();
    if (!multiarray.ok()) return std::move(multiarray.error());
    Ref capsule(PyObject_GetAttrString(multiarray.value().get(), kCapsuleName));
    if (capsule) {
        if (Py_TYPE(capsule.get()) != &PyCapsule_Type) return cast_error(capsule.get(), "PyCapsule");
    } else {
        PyErr_Clear();
        Result<Ref> created = create_capsule(multiarray.value().get());
        if (!created.ok()) return std::move(created.error());
        capsule = std::move(created.value());
    }
    auto* api = static_cast<const SharedBorrowApi*>(PyCapsule_GetPointer(capsule.get(), kCapsuleName));
    if (api == nullptr) return PyError::fetch();
    if (api->version < 1)
        return PyError::lazy(PyExc_TypeError, "Version " + std::to_string(api->version) +
                                                  " of borrow checking API is not supported by this version of rust-numpy");
    // The capsule reference is never dropped, so the record stays valid for the process.
    capsule.release();
    g_api.store(api, std::memory_order_release);
    return api;
}

}  // namespace tamarind::py
