// NumPy's array API table, found at run time through its capsule (nothing links against
// NumPy), and the parts of the array object layout the module reads.
#pragma once

#include <Python.h>

#include <cstdint>

#include "errors.hpp"
#include "types/element.hpp"

namespace tamarind::py {

// Array flags read by the module.
inline constexpr int kCContiguous = 0x1;
inline constexpr int kFContiguous = 0x2;
inline constexpr int kAligned = 0x100;
inline constexpr int kWriteable = 0x400;

// Type numbers of the element types.
inline constexpr int kTypeNumI64 = 9;
inline constexpr int kTypeNumF64 = 12;
inline constexpr int kTypeNumLong = 7;

// NumPy's type number of each element type.
template <class T>
inline constexpr int kTypeNumOf = 0;
template <>
inline constexpr int kTypeNumOf<f64> = kTypeNumF64;
template <>
inline constexpr int kTypeNumOf<i64> = kTypeNumI64;

// The leading fields of NumPy's array object, identical in NumPy 1.x and 2.x.
struct ArrayFields {
    PyObject ob_base;
    char* data;
    int nd;
    std::intptr_t* dimensions;
    std::intptr_t* strides;
    PyObject* base;
    PyObject* descr;
    int flags;
};

inline ArrayFields* fields(PyObject* array) { return reinterpret_cast<ArrayFields*>(array); }

class NumpyApi {
public:
    // The table, looked up once per process; a failed lookup is tried again next time.
    // Every reader goes through it: no call may assume another one filled it first.
    static Result<const NumpyApi*> get();
    // The same, or a panic naming the failed lookup.
    static const NumpyApi& get_or_panic();

    PyTypeObject* array_type() const { return static_cast<PyTypeObject*>(table_[2]); }
    bool is_array(PyObject* o) const {
        return Py_TYPE(o) == array_type() || PyType_IsSubtype(Py_TYPE(o), array_type());
    }
    // The canonical dtype of float64 or int64 (borrowed; kept for the process).
    PyObject* canonical_descr(int type_num) const { return type_num == kTypeNumF64 ? descr_f64_ : descr_i64_; }
    bool equiv_types(PyObject* a, PyObject* b) const {
        return reinterpret_cast<unsigned char (*)(PyObject*, PyObject*)>(table_[182])(a, b) != 0;
    }
    // Element size of a dtype: a 64-bit field from NumPy 2's layout on, 32-bit before.
    std::intptr_t element_size(PyObject* descr) const;
    // A new, uninitialised one-dimensional C-contiguous array of n elements of float64 or
    // int64 (PyArray_Empty, slot 184 in NumPy 1 and 2); nullptr with the error set.
    PyObject* empty(std::intptr_t n, int type_num) const {
        PyObject* descr = canonical_descr(type_num);
        Py_INCREF(descr);  // PyArray_Empty takes this reference
        return reinterpret_cast<PyObject* (*)(int, const std::intptr_t*, PyObject*, int)>(table_[184])(1, &n, descr, 0);
    }

private:
    void** table_ = nullptr;
    unsigned feature_version_ = 0;
    PyObject* descr_f64_ = nullptr;
    PyObject* descr_i64_ = nullptr;
};

// Imports "<core>.multiarray" (new reference or error).
Result<Ref> import_multiarray();

}  // namespace tamarind::py
