#include "numpy_api.hpp"

#include <cstdio>
#include <string>

#include "types/panic.hpp"

namespace tamarind::py {
namespace {

// The ABI and C-API feature versions this module is written against.
constexpr unsigned kAbiVersion = 0x2000000;
constexpr unsigned kFeatureVersion = 12;  // NumPy 1.15
// From this feature version on dtypes have NumPy 2's layout (64-bit element size).
constexpr unsigned kNumpy2FeatureVersion = 17;
constexpr int kLittleEndian = 1;

std::mutex g_mutex;
std::atomic<NumpyApi*> g_api{nullptr};
const char* g_core_name = nullptr;  // cached on its own: kept even if a later step fails

Result<const char*> find_core_name() {
    if (g_core_name) return g_core_name;
    Ref numpy(PyImport_ImportModule("numpy"));
    if (!numpy) return PyError::fetch();
    Ref version(PyObject_GetAttrString(numpy.get(), "__version__"));
    if (!version) return PyError::fetch();
    Ref lib(PyImport_ImportModule("numpy.lib"));
    if (!lib) return PyError::fetch();
    Ref parsed(PyObject_CallMethod(lib.get(), "NumpyVersion", "O", version.get()));
    if (!parsed) return PyError::fetch();
    Ref major_obj(PyObject_GetAttrString(parsed.get(), "major"));
    if (!major_obj) return PyError::fetch();
    long major = PyLong_AsLong(major_obj.get());
    if (major == -1 && PyErr_Occurred()) return PyError::fetch();
    if (major < 0 || major > 255)
        return PyError::lazy(PyExc_OverflowError, "out of range integral type conversion attempted");
    g_core_name = major < 2 ? "numpy.core" : "numpy._core";
    return g_core_name;
}

std::string hex(unsigned v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", v);
    return buf;
}

}  // namespace

Result<Ref> import_multiarray() {
    Result<const char*> core = find_core_name();
    if (!core.ok()) return std::move(core.error());
    std::string name = std::string(core.value()) + ".multiarray";
    Ref module(PyImport_ImportModule(name.c_str()));
    if (!module) return PyError::fetch();
    return module;
}

std::intptr_t NumpyApi::element_size(PyObject* descr) const {
    // Both layouts: PyObject header, type object pointer, four chars, int type_num; then
    // NumPy 1 has a 32-bit elsize, NumPy 2 a 64-bit flags word and a 64-bit elsize.
    const char* base = reinterpret_cast<const char*>(descr) + sizeof(PyObject) + sizeof(void*) + 8;
    if (feature_version_ > kNumpy2FeatureVersion)
        return *reinterpret_cast<const std::int64_t*>(base + 8);
    return *reinterpret_cast<const std::int32_t*>(base);
}

const NumpyApi& NumpyApi::get_or_panic() {
    Result<const NumpyApi*> api = get();
    if (!api.ok()) panic(std::string(messages::kArrayApiCapsuleError) + api.error().debug());
    return *api.value();
}

Result<const NumpyApi*> NumpyApi::get() {
    if (NumpyApi* api = g_api.load(std::memory_order_acquire)) return api;
    InitLock lock(g_mutex);
    if (NumpyApi* api = g_api.load(std::memory_order_relaxed)) return api;

    Result<Ref> multiarray = import_multiarray();
    if (!multiarray.ok()) return std::move(multiarray.error());
    Ref capsule(PyObject_GetAttrString(multiarray.value().get(), "_ARRAY_API"));
    if (!capsule) return PyError::fetch();
    if (Py_TYPE(capsule.get()) != &PyCapsule_Type) return cast_error(capsule.get(), "PyCapsule");
    void** table = static_cast<void**>(PyCapsule_GetPointer(capsule.get(), nullptr));
    if (table == nullptr) return PyError::fetch();

    unsigned abi = reinterpret_cast<unsigned (*)()>(table[0])();
    if (abi > kAbiVersion)
        return PyError::lazy(PyExc_RuntimeError, "module compiled against ABI version 0x" + hex(kAbiVersion) +
                                                     " but this version of numpy is 0x" + hex(abi));
    unsigned feature = reinterpret_cast<unsigned (*)()>(table[211])();
    if (feature < kFeatureVersion)
        return PyError::lazy(PyExc_RuntimeError,
                             "module was compiled against NumPy C-API version 0x" + hex(kFeatureVersion) +
                                 " (NumPy 1.15) but the running NumPy has C-API version 0x" + hex(feature));
    if (reinterpret_cast<int (*)()>(table[210])() != kLittleEndian)
        return PyError::lazy(PyExc_RuntimeError,
                             "module compiled as little endian, but detected different endianness at runtime");

    auto descr_from_type = reinterpret_cast<PyObject* (*)(int)>(table[45]);
    auto* api = new NumpyApi();
    api->table_ = table;
    api->feature_version_ = feature;
    // Builtin dtypes live as long as NumPy; looked up once instead of on every call.
    api->descr_f64_ = descr_from_type(kTypeNumF64);
    // Where C long is 64 bits NumPy's int64 is NPY_LONG (7), an equivalent of type 9 that
    // is a different object; comparing with it first keeps the equivalence call off the
    // common path.
    api->descr_i64_ = descr_from_type(sizeof(long) == 8 ? kTypeNumLong : kTypeNumI64);
    if (api->descr_f64_ == nullptr || api->descr_i64_ == nullptr) panic(messages::kNullDescriptor);
    // The capsule reference is kept: the table must outlive every call.
    capsule.release();
    g_api.store(api, std::memory_order_release);
    return api;
}

}  // namespace tamarind::py
