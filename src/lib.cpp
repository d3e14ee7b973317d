// The module `tamarind` and its six functions. Each call parses `arr`, borrows the array
// exclusively, hands its element slice to the sort the function's name chooses, and gives
// the array back; failures become Python exceptions only here, at the boundary. The module
// also carries the Dask sort's private helpers (nogil_helpers.hpp).
#include <Python.h>

#include <string>

#include "array_access.hpp"
#include "entries/crossing_rows.hpp"
#include "entries/entries.hpp"
#include "errors.hpp"
#include "nogil_helpers.hpp"
#include "numpy_api.hpp"
#include "types/messages.hpp"
#include "types/panic.hpp"

namespace tamarind::py {
namespace {

// ---- argument parsing ------------------------------------------------------------------

// The one argument `arr`, positional or keyword; a borrowed reference. Messages are built
// only on failure: the common path must stay cheap for tiny arrays.
Result<PyObject*> parse_arr(const char* function, PyObject* args, PyObject* kwargs) {
    auto error = [function](const std::string& rest) {
        return PyError::lazy(PyExc_TypeError, std::string(function) + "() " + rest);
    };
    const Py_ssize_t given = PyTuple_Size(args);
    if (given > 1)
        return error(std::string(messages::kTooManyPositional) + std::to_string(given) + " were given");
    PyObject* arr = given == 1 ? PyTuple_GetItem(args, 0) : nullptr;
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            if (!PyUnicode_Check(key) || PyUnicode_CompareWithASCIIString(key, "arr") != 0)
                return error(std::string(messages::kUnexpectedKeyword) + to_utf8(key, "?") + "'");
            if (arr != nullptr) return error(std::string(messages::kMultipleArr));
            arr = value;
        }
    }
    if (arr == nullptr) return error(std::string(messages::kMissingArr));
    return arr;
}

// ---- the functions' entries ----------------------------------------------------

enum class Entry { kMultiThreaded, kSingleThreaded, kParallelQuicksort };

template <class T, Entry E>
void run_sort(ElementSlice<T> s) {
    if constexpr (E == Entry::kMultiThreaded) multi_threaded_sort(s.data, s.len);
    else if constexpr (E == Entry::kSingleThreaded) single_threaded_sort(s.data, s.len);
    else quicksort_on_global_pool(s.data, s.len);
}

template <class T, Entry E>
PyObject* sort_function(const char* function, PyObject* args, PyObject* kwargs) {
    return guard([&]() -> Result<PyObject*> {
        Result<PyObject*> arr = parse_arr(function, args, kwargs);
        if (!arr.ok()) return std::move(arr.error());
        Result<TakenArray> taken = TakenArray::take(arr.value(), kTypeNumOf<T>);
        if (!taken.ok()) return std::move(taken.error());
        Result<ElementSlice<T>> slice = taken.value().template slice<T>();
        if (!slice.ok()) return std::move(slice.error());
        // Only the pool-backed comparison sort is handed an empty slice.
        if (slice.value().len > 0 || E == Entry::kParallelQuicksort) run_sort<T, E>(slice.value());
        Py_INCREF(Py_None);
        return Py_None;
    });  // the array's borrow and reference are given back here, before any exception is raised
}

#define TAMARIND_SORT_FUNCTION(name, T, E)                                   \
    PyObject* name(PyObject*, PyObject* args, PyObject* kwargs) {            \
        return sort_function<T, Entry::E>(#name, args, kwargs);              \
    }

TAMARIND_SORT_FUNCTION(sort_f64, f64, kMultiThreaded)
TAMARIND_SORT_FUNCTION(sort_i64, i64, kMultiThreaded)
TAMARIND_SORT_FUNCTION(sort_f64_st, f64, kSingleThreaded)
TAMARIND_SORT_FUNCTION(sort_i64_st, i64, kSingleThreaded)
TAMARIND_SORT_FUNCTION(rayon_sort_f64, f64, kParallelQuicksort)
TAMARIND_SORT_FUNCTION(rayon_sort_i64, i64, kParallelQuicksort)
#undef TAMARIND_SORT_FUNCTION

// ---- the module ------------------------------------------------------------------------

constexpr int kFlags = METH_VARARGS | METH_KEYWORDS | METH_STATIC;

#define TAMARIND_METHOD(name) \
    PyMethodDef{#name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(name)), kFlags, #name "(arr)\n--\n\n"}

// In the order they are added to the module and listed in __all__.
PyMethodDef g_methods[] = {
    TAMARIND_METHOD(sort_i64),       TAMARIND_METHOD(sort_f64),       TAMARIND_METHOD(sort_i64_st),
    TAMARIND_METHOD(sort_f64_st),    TAMARIND_METHOD(rayon_sort_i64), TAMARIND_METHOD(rayon_sort_f64),
};
#undef TAMARIND_METHOD

// The Dask sort's private helpers (nogil_helpers.hpp): module attributes, not in __all__.
// Positional arguments only.
PyMethodDef g_private_methods[] = {
    {"_concat_sort_nogil_f64", concat_sort_nogil_f64, METH_VARARGS, "_concat_sort_nogil_f64(pieces, /)\n--\n\n"},
    {"_concat_sort_nogil_i64", concat_sort_nogil_i64, METH_VARARGS, "_concat_sort_nogil_i64(pieces, /)\n--\n\n"},
    {"_partition_nogil_f64", partition_nogil_f64, METH_VARARGS, "_partition_nogil_f64(arr, splitters, ties, /)\n--\n\n"},
    {"_partition_nogil_i64", partition_nogil_i64, METH_VARARGS, "_partition_nogil_i64(arr, splitters, ties, /)\n--\n\n"},
};

// Adds one function to the module and, where `listed`, its name to __all__.
Result<bool> add_function(PyObject* module, PyMethodDef* method, bool listed) {
    Ref module_name(PyModule_GetNameObject(module));
    if (!module_name) return PyError::fetch();
    Ref function(PyCFunction_NewEx(method, module, module_name.get()));
    if (!function) return PyError::fetch();
    Ref name(PyObject_GetAttrString(function.get(), "__name__"));
    if (!name) return PyError::fetch();
    if (!PyUnicode_Check(name.get())) return cast_error(name.get(), "PyString");
    if (!listed) {
        if (PyObject_SetAttr(module, name.get(), function.get()) != 0) return PyError::fetch();
        return true;
    }
    Ref all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return PyError::fetch();
        PyErr_Clear();
        all = Ref(PyList_New(0));
        if (!all) return PyError::fetch();
        if (PyObject_SetAttrString(module, "__all__", all.get()) != 0) return PyError::fetch();
    } else if (!PyList_Check(all.get())) {
        return cast_error(all.get(), "PyList");
    }
    if (PyList_Append(all.get(), name.get()) != 0) panic(messages::kAllAppendFailed);
    if (PyObject_SetAttr(module, name.get(), function.get()) != 0) return PyError::fetch();
    return true;
}

// The child's side of os.fork: the borrows of threads that did not survive it go.
PyObject* after_fork_in_child(PyObject*, PyObject*) {
    return guard([]() -> Result<PyObject*> {
        drop_orphaned_borrows();
        Py_INCREF(Py_None);
        return Py_None;
    });
}

PyMethodDef g_after_fork = {"_tamarind_after_fork_in_child", after_fork_in_child, METH_NOARGS, nullptr};

// Registers the child's side of os.fork once per process (drop_orphaned_borrows).
Result<bool> register_at_fork() {
    static bool registered = false;
    if (registered) return true;
    Ref os(PyImport_ImportModule("os"));
    if (!os) return PyError::fetch();
    Ref hook(PyObject_GetAttrString(os.get(), "register_at_fork"));
    if (!hook) {
        PyErr_Clear();  // no fork on this system
        return true;
    }
    Ref handler(PyCFunction_NewEx(&g_after_fork, nullptr, nullptr));
    if (!handler) return PyError::fetch();
    Ref args(PyTuple_New(0));
    Ref kwargs(Py_BuildValue("{sO}", "after_in_child", handler.get()));
    if (!args || !kwargs) return PyError::fetch();
    Ref done(PyObject_Call(hook.get(), args.get(), kwargs.get()));
    if (!done) return PyError::fetch();
    registered = true;
    return true;
}

int exec_module(PyObject* module) {
    PyObject* result = guard([&]() -> Result<PyObject*> {
        if (module == nullptr) return PyError::fetch();
        if (!PyModule_Check(module)) return cast_error(module, "PyModule");
        // The crossing row is picked at load, so a misnamed TAMARIND_CROSSINGS warns at import.
        (void)crossing_row();
        for (PyMethodDef& method : g_methods) {
            Result<bool> added = add_function(module, &method, true);
            if (!added.ok()) return std::move(added.error());
        }
        for (PyMethodDef& method : g_private_methods) {
            Result<bool> added = add_function(module, &method, false);
            if (!added.ok()) return std::move(added.error());
        }
        Result<bool> registered = register_at_fork();
        if (!registered.ok()) return std::move(registered.error());
        Py_INCREF(Py_None);
        return Py_None;
    });
    if (result == nullptr) return -1;
    Py_DECREF(result);
    return 0;
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef g_module = {
    PyModuleDef_HEAD_INIT, "tamarind", "", 0, nullptr, g_slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace tamarind::py

extern "C" PyMODINIT_FUNC PyInit_tamarind() { return PyModuleDef_Init(&tamarind::py::g_module); }
