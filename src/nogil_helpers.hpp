// The Dask sort's private helpers (tamarind_dask): a sort into NumPy's order and a multi-way
// partition at splitters. Unlike the six public functions they let go of the interpreter
// lock while they work, so that a Dask worker's other threads (its communication among
// them) run meanwhile; they are meant for arrays that the calling task made itself and
// shares with no one. They check and borrow their arrays as the public functions do.
#pragma once

#include <Python.h>

namespace tamarind::py {

// _sort_nogil_f64(arr), _sort_nogil_i64(arr): sort arr in place by numpy_order_sort;
// return None.
PyObject* sort_nogil_f64(PyObject*, PyObject* args);
PyObject* sort_nogil_i64(PyObject*, PyObject* args);

// _partition_nogil_f64(arr, splitters, ties), and _i64: the buckets of arr at the k
// splitters (MultiwayPartition), as a list of k + 1 new arrays.
PyObject* partition_nogil_f64(PyObject*, PyObject* args);
PyObject* partition_nogil_i64(PyObject*, PyObject* args);

}  // namespace tamarind::py
