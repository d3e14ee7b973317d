"""Fast in-place sorting of one-dimensional float64 and int64 NumPy arrays."""

from collections.abc import Sequence

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

# Private helpers of tamarind_dask, not part of the API (not in __all__): they let go of the
# interpreter lock while they work, so pass them only arrays that no other thread uses.

def _concat_sort_nogil_f64(pieces: Sequence[npt.NDArray[np.float64]], /) -> npt.NDArray[np.float64]:
    """The pieces concatenated into a new array and sorted into NumPy's order on the calling
    thread: NaNs last in their order, -0.0 before +0.0."""

def _concat_sort_nogil_i64(pieces: Sequence[npt.NDArray[np.int64]], /) -> npt.NDArray[np.int64]:
    """The pieces concatenated into a new array and sorted on the calling thread."""

def _partition_nogil_f64(arr: npt.NDArray[np.float64], splitters: npt.NDArray[np.float64],
                         ties: npt.NDArray[np.int64], /) -> list[npt.NDArray[np.float64]]:
    """The k + 1 buckets of arr at k sorted splitters, each a new array in arr's order."""

def _partition_nogil_i64(arr: npt.NDArray[np.int64], splitters: npt.NDArray[np.int64],
                         ties: npt.NDArray[np.int64], /) -> list[npt.NDArray[np.int64]]:
    """The k + 1 buckets of arr at k sorted splitters, each a new array in arr's order."""
