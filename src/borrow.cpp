#include "borrow.hpp"

#include <cstdlib>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <numeric>
#include <set>
#include <string>

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
    auto operator<=>(const BorrowKey&) const = default;
};

// A borrowed view of the buffer that `base` (the object that owns the memory) holds;
// ordered by base first, so one buffer's views sit together.
struct View {
    std::uintptr_t base;
    BorrowKey key;
    auto operator<=>(const View&) const = default;
};

// Borrows kept in ordered maps, so that a call taking k arrays (the concatenating helper's
// pieces) pays O(k log k), not k^2: a shared borrow is checked only against the exclusive
// borrows of its own buffer, which are few.
struct BorrowRegistry {
    explicit BorrowRegistry(const NumpyApi& numpy) : api(numpy) {}

    // Filled before the registry exists, so its operations never find it unfilled.
    const NumpyApi& api;
    std::mutex mutex;
    std::map<View, std::int64_t> shared;  // each view's count of readers, from 1
    std::set<View> exclusive;
    // The node of the last borrow given back, of each kind, reused by the next: a call that
    // borrows one array allocates nothing once the process has made one such call.
    std::map<View, std::int64_t>::node_type spare_shared;
    std::set<View>::node_type spare_exclusive;

    void add_shared(const View& v) {
        if (spare_shared.empty()) {
            shared.emplace(v, 1);
            return;
        }
        spare_shared.key() = v;
        spare_shared.mapped() = 1;
        shared.insert(std::move(spare_shared));
    }
    void add_exclusive(const View& v) {
        if (spare_exclusive.empty()) {
            exclusive.insert(v);
            return;
        }
        spare_exclusive.value() = v;
        exclusive.insert(std::move(spare_exclusive));
    }
    void remove(std::map<View, std::int64_t>::iterator b) { spare_shared = shared.extract(b); }
    void remove(std::set<View>::iterator b) { spare_exclusive = exclusive.extract(b); }
};

// The least view of `base`: where its views start in an ordered container.
View first_view(std::uintptr_t base) { return {base, {0, 0, 0, std::numeric_limits<std::intptr_t>::min()}}; }
const View& view_of(const View& v) { return v; }
const View& view_of(const std::pair<const View, std::int64_t>& entry) { return entry.first; }

// Whether any view of `base` in `c` (a map or set of views) satisfies `pred`.
template <class Container, class Pred>
bool any_view_of(const Container& c, std::uintptr_t base, Pred pred) {
    for (auto it = c.lower_bound(first_view(base)); it != c.end(); ++it) {
        const View& v = view_of(*it);
        if (v.base != base) break;
        if (pred(v)) return true;
    }
    return false;
}

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
std::uintptr_t base_address(const NumpyApi& api, PyObject* array) {
    PyObject* current = array;
    while (true) {
        PyObject* base = fields(current)->base;
        if (base == nullptr) return reinterpret_cast<std::uintptr_t>(current);
        if (!api.is_array(base)) return reinterpret_cast<std::uintptr_t>(base);
        current = base;
    }
}

BorrowKey borrow_key(const NumpyApi& api, PyObject* array) {
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
    return {low, high + static_cast<std::uintptr_t>(api.element_size(a->descr)), data, gcd};
}

// The opening of every registry operation: the array's view, read before the lock is taken
// (it only reads the array), and the registry under its lock.
struct Operation {
    BorrowRegistry& reg;
    View view;
    std::unique_lock<std::mutex> lock;
};

Operation open_operation(void* registry, PyObject* array) {
    auto& reg = *static_cast<BorrowRegistry*>(registry);
    const View view{base_address(reg.api, array), borrow_key(reg.api, array)};
    return {reg, view, std::unique_lock(reg.mutex)};
}

int acquire_shared(void* registry, PyObject* array) noexcept {
    auto [reg, view, lock] = open_operation(registry, array);
    if (reg.exclusive.contains(view)) return kAlreadyBorrowed;
    try {
        auto same = reg.shared.find(view);
        if (same != reg.shared.end()) {
            if (same->second == INT64_MAX) return kAlreadyBorrowed;
            ++same->second;
            return kBorrowOk;
        }
        if (any_view_of(reg.exclusive, view.base, [&](const View& v) { return conflicts(view.key, v.key); }))
            return kAlreadyBorrowed;
        reg.add_shared(view);
    } catch (const std::bad_alloc&) {
        return kRegistryOutOfMemory;
    }
    return kBorrowOk;
}

int acquire_exclusive(void* registry, PyObject* array) noexcept {
    if ((fields(array)->flags & kWriteable) == 0) return kNotWriteable;
    auto [reg, view, lock] = open_operation(registry, array);
    auto overlaps = [&](const View& v) { return conflicts(view.key, v.key); };
    if (reg.exclusive.contains(view) || reg.shared.contains(view)) return kAlreadyBorrowed;
    if (any_view_of(reg.exclusive, view.base, overlaps) || any_view_of(reg.shared, view.base, overlaps))
        return kAlreadyBorrowed;
    try {
        reg.add_exclusive(view);
    } catch (const std::bad_alloc&) {
        return kRegistryOutOfMemory;
    }
    return kBorrowOk;
}

// Releasing what was never borrowed is a broken protocol; these functions cannot report
// it, so they end the process.
void release_shared(void* registry, PyObject* array) noexcept {
    auto [reg, view, lock] = open_operation(registry, array);
    auto b = reg.shared.find(view);
    if (b == reg.shared.end()) std::abort();
    if (--b->second == 0) reg.remove(b);
}

void release_exclusive(void* registry, PyObject* array) noexcept {
    auto [reg, view, lock] = open_operation(registry, array);
    // The last borrow of a buffer goes whatever its key; otherwise the exact view must exist.
    std::size_t views = 0;
    auto count = [&](const View&) { return ++views > 1; };
    any_view_of(reg.exclusive, view.base, count) || any_view_of(reg.shared, view.base, count);
    if (views == 0) std::abort();
    if (views == 1) {
        auto only = reg.exclusive.lower_bound(first_view(view.base));
        if (only != reg.exclusive.end() && only->base == view.base) reg.remove(only);
        else reg.remove(reg.shared.lower_bound(first_view(view.base)));
        return;
    }
    auto b = reg.exclusive.find(view);
    if (b == reg.exclusive.end()) std::abort();
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

Result<Ref> create_capsule(PyObject* multiarray, const NumpyApi& numpy) {
    auto* api = new SharedBorrowApi{1, new BorrowRegistry(numpy), acquire_shared, acquire_exclusive,
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

    Result<const NumpyApi*> numpy = NumpyApi::get();
    if (!numpy.ok()) return std::move(numpy.error());
    Result<Ref> multiarray = import_multiarray();
    if (!multiarray.ok()) return std::move(multiarray.error());
    Ref capsule(PyObject_GetAttrString(multiarray.value().get(), kCapsuleName));
    if (capsule) {
        if (Py_TYPE(capsule.get()) != &PyCapsule_Type) return cast_error(capsule.get(), "PyCapsule");
    } else {
        PyErr_Clear();
        Result<Ref> created = create_capsule(multiarray.value().get(), *numpy.value());
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
