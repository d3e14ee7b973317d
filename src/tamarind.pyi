"""Fast in-place sorting of one-dimensional float64 and int64 NumPy arrays."""

import numpy as np
import numpy.typing as npt

__all__: list[str]

def sort_i64(arr: npt.NDArray[np.int64]) -> None:
    """Sort a contiguous int64 array in place with the multi-threaded radix sort."""

def sort_f64(arr: npt.NDArray[np.float64]) -> None:
    """Sort a contiguous float64 array in place with the multi-threaded radix sort."""

def sort_i64_st(arr: npt.NDArray[np.int64]) -> None:
    """Sort a contiguous int64 array in place on the calling thread."""

def sort_f64_st(arr: npt.NDArray[np.float64]) -> None:
    """Sort a contiguous float64 array in place on the calling thread."""

def rayon_sort_i64(arr: npt.NDArray[np.int64]) -> None:
    """Sort a contiguous int64 array in place with the parallel quicksort."""

def rayon_sort_f64(arr: npt.NDArray[np.float64]) -> None:
    """Sort a contiguous float64 array in place with the parallel quicksort."""
