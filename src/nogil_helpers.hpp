// The Dask sort's private helpers (tamarind_dask): a multi-way partition at splitters, and a
// sort of the concatenated pieces into NumPy's order. Unlike the six public functions they
// let go of the interpreter lock while they work, so that a Dask worker's other threads (its
// communication among them) run meanwhile; they only read the arrays they are given and
// write only arrays they make. They check and borrow their arrays as the public functions do.
#pragma once

#include <Python.h>

namespace tamarind::py {

// _concat_sort_nogil_f64(pieces), and _i64: a new array of the pieces (a sequence of arrays)
// one after the other, sorted by numpy_order_sort.
PyObject* concat_sort_nogil_f64(PyObject*, PyObject* args);
PyObject* concat_sort_nogil_i64(PyObject*, PyObject* args);

// _partition_nogil_f64(arr, splitters, ties), and _i64: the buckets of arr at the k
// splitters (MultiwayPartition), as a list of k + 1 new arrays.
PyObject* partition_nogil_f64(PyObject*, PyObject* args);
PyObject* partition_nogil_i64(PyObject*, PyObject* args);

}  // namespace tamarind::py
