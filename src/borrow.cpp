#include "borrow.hpp"

#include <cstdlib>
#include <mutex>
#include <new>
#include <numeric>
#include <string>
#include <unordered_map>

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

struct BorrowKeyHash {
    std::size_t operator()(const BorrowKey& k) const noexcept {
        std::size_t h = k.start;
        for (std::size_t v : {std::size_t(k.end), std::size_t(k.data), std::size_t(k.gcd)})
            h = (h ^ v) * 0x9E3779B97F4A7C15ULL;
        return h;
    }
};

// Shared borrows count up from 1; -1 marks the one exclusive borrow.
using BorrowCounts = std::unordered_map<BorrowKey, std::int64_t, BorrowKeyHash>;

struct Registry {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, BorrowCounts> by_base;
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

int acquire_shared(void* registry, PyObject* array) noexcept {
    auto& reg = *static_cast<Registry*>(registry);
    const std::uintptr_t base = base_address(array);
    const BorrowKey key = borrow_key(array);
    std::lock_guard lock(reg.mutex);
    try {
        auto outer = reg.by_base.find(base);
        if (outer == reg.by_base.end()) {
            reg.by_base[base].emplace(key, 1);
            return kBorrowOk;
        }
        BorrowCounts& counts = outer->second;
        if (auto it = counts.find(key); it != counts.end()) {
            if (it->second < 0 || it->second == INT64_MAX) return kAlreadyBorrowed;
            ++it->second;
            return kBorrowOk;
        }
        for (const auto& [other, count] : counts)
            if (count < 0 && conflicts(key, other)) return kAlreadyBorrowed;
        counts.emplace(key, 1);
        return kBorrowOk;
    } catch (const std::bad_alloc&) {
        return kRegistryOutOfMemory;
    }
}

int acquire_exclusive(void* registry, PyObject* array) noexcept {
    if ((fields(array)->flags & kWriteable) == 0) return kNotWriteable;
    auto& reg = *static_cast<Registry*>(registry);
    const std::uintptr_t base = base_address(array);
    const BorrowKey key = borrow_key(array);
    std::lock_guard lock(reg.mutex);
    try {
        auto outer = reg.by_base.find(base);
        if (outer == reg.by_base.end()) {
            reg.by_base[base].emplace(key, -1);
            return kBorrowOk;
        }
        BorrowCounts& counts = outer->second;
        if (counts.contains(key)) return kAlreadyBorrowed;
        for (const auto& [other, count] : counts)
            if (count != 0 && conflicts(key, other)) return kAlreadyBorrowed;
        counts.emplace(key, -1);
        return kBorrowOk;
    } catch (const std::bad_alloc&) {
        return kRegistryOutOfMemory;
    }
}

void release_shared(void* registry, PyObject* array) noexcept {
    auto& reg = *static_cast<Registry*>(registry);
    const std::uintptr_t base = base_address(array);
    const BorrowKey key = borrow_key(array);
    std::lock_guard lock(reg.mutex);
    auto outer = reg.by_base.find(base);
    if (outer == reg.by_base.end()) std::abort();  // releasing what was never borrowed
    BorrowCounts& counts = outer->second;
    auto it = counts.find(key);
    if (it == counts.end()) std::abort();
    if (--it->second == 0) {
        if (counts.size() > 1) counts.erase(it);
        else reg.by_base.erase(outer);
    }
}

void release_exclusive(void* registry, PyObject* array) noexcept {
    auto& reg = *static_cast<Registry*>(registry);
    const std::uintptr_t base = base_address(array);
    std::lock_guard lock(reg.mutex);
    auto outer = reg.by_base.find(base);
    if (outer == reg.by_base.end()) std::abort();
    if (outer->second.size() > 1) {
        if (outer->second.erase(borrow_key(array)) == 0) std::abort();
    } else {
        reg.by_base.erase(outer);
    }
}

void destroy_capsule(PyObject* capsule) {
    auto* api = static_cast<SharedBorrowApi*>(PyCapsule_GetPointer(capsule, kCapsuleName));
    if (api == nullptr) {
        PyErr_Clear();
        return;
    }
    delete static_cast<Registry*>(api->registry);
    delete api;
}

std::mutex g_mutex;
std::atomic<const SharedBorrowApi*> g_api{nullptr};

Result<Ref> create_capsule(PyObject* multiarray) {
    auto* api = new SharedBorrowApi{1, new Registry(), acquire_shared, acquire_exclusive,
                                    release_shared, release_exclusive};
    Ref capsule(PyCapsule_New(api, kCapsuleName, destroy_capsule));
    if (!capsule) {
        delete static_cast<Registry*>(api->registry);
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
