"""The module's face: its functions, argument rules, array checks and error reporting."""
import ctypes
import pathlib
import re
import subprocess
import sys

import numpy as np
import pytest

import tamarind
from conftest import ALL_FUNCS, dtype_of, run_probe


def test_module_surface():
    assert tamarind.__all__ == ["sort_i64", "sort_f64", "sort_i64_st", "sort_f64_st", "rayon_sort_i64",
                                "rayon_sort_f64"]
    assert tamarind.__doc__ == ""
    for name in ALL_FUNCS:
        f = getattr(tamarind, name)
        assert (f.__text_signature__, f.__module__, f.__name__) == ("(arr)", "tamarind", name)


@pytest.mark.parametrize("args, kwargs, message", [
    ((), {}, "{}() missing 1 required positional argument: 'arr'"),
    ((1, 2), {}, "{}() takes 1 positional arguments but 2 were given"),
    ((1, 2, 3), {}, "{}() takes 1 positional arguments but 3 were given"),
    ((), {"x": 1}, "{}() got an unexpected keyword argument 'x'"),
    ((1,), {"arr": 1}, "{}() got multiple values for argument 'arr'"),
])
@pytest.mark.parametrize("name", ALL_FUNCS)
def test_argument_errors(name, args, kwargs, message):
    with pytest.raises(TypeError) as info:
        getattr(tamarind, name)(*args, **kwargs)
    assert str(info.value) == message.format(name)


def wrong_arrays(dtype):
    other, nd = (np.int64 if dtype == np.float64 else np.float64), "'ndarray' object is not an instance of 'ndarray'"
    return [(np.zeros(4, dtype=other), nd), (np.zeros((2, 2), dtype=dtype), nd),
            (np.zeros(4, dtype=np.dtype(dtype).newbyteorder(">")), nd),
            ([3, 1, 2], "'list' object is not an instance of 'ndarray'"),
            (None, "'None' is not an instance of 'ndarray'")]


@pytest.mark.parametrize("name", ALL_FUNCS)
def test_rejects_wrong_type_dtype_and_shape(name):
    for value, message in wrong_arrays(dtype_of(name)):
        with pytest.raises(TypeError) as info:
            getattr(tamarind, name)(value)
        assert str(info.value) == message
        if sys.version_info >= (3, 11):
            assert info.value.__notes__ == ["while processing 'arr'"]


class Sub(np.ndarray):
    pass


@pytest.mark.parametrize("name", ALL_FUNCS)
def test_strided_view_is_refused_unchanged_and_released(name):
    sort = getattr(tamarind, name)
    base = np.arange(10, 0, -1).astype(np.dtype(dtype_of(name)).newbyteorder("<"))  # an equivalent dtype
    with pytest.raises(TypeError, match=r"^The given array is not contiguous or is misaligned\.$"):
        sort(base[::2])
    assert base.tolist() == list(range(10, 0, -1))
    # A subclass, by keyword, overlapping the refused view: no borrow was left behind.
    assert sort(arr=base[:5].view(Sub)) is None
    assert base[:5].tolist() == [6, 7, 8, 9, 10]
    # Empty and one-element views count as contiguous whatever their strides.
    sort(base[::3][:0])
    sort(base[::3][:1])


class MaskedSub(np.ma.MaskedArray):
    pass


@pytest.mark.parametrize("name", ALL_FUNCS)
def test_masked_arrays_are_refused_unmoved_and_other_subclasses_sorted(name):
    sort = getattr(tamarind, name)
    for kind in (np.ma.MaskedArray, MaskedSub):
        m = np.ma.masked_array(np.arange(5, 0, -1).astype(dtype_of(name)), mask=[0, 1, 0, 0, 0]).view(kind)
        with pytest.raises(TypeError, match="numpy.ma.sort"):
            sort(m)
        assert m.data.tolist() == [5, 4, 3, 2, 1] and m.mask.tolist() == [0, 1, 0, 0, 0]
    s = np.arange(5, 0, -1).astype(dtype_of(name)).view(Sub)
    sort(s)
    assert s.tolist() == [1, 2, 3, 4, 5]


@pytest.mark.parametrize("name", ALL_FUNCS)
def test_read_only_array_panics_and_stays_unsorted(name, PanicException):
    a = np.arange(5, 0, -1).astype(dtype_of(name))
    a.flags.writeable = False
    with pytest.raises(PanicException) as info:
        getattr(tamarind, name)(a)
    assert info.value.args == ("called `Result::unwrap()` on an `Err` value: NotWriteable",)
    assert a.tolist() == [5, 4, 3, 2, 1] and not a.flags.writeable


@pytest.mark.parametrize("call, where", [
    ("tamarind.rayon_sort_f64(np.array([1.0, np.nan]))", r"src/comparison/\w+\.hpp"),
    ("a = np.zeros(2); a.flags.writeable = False; tamarind.sort_f64(a)", r"src/array_access\.cpp"),
])
def test_panic_report_names_its_location_from_the_source_root(call, where):
    out = run_probe(f"import numpy as np, tamarind\ntry:\n    {call}\nexcept BaseException:\n    pass")
    assert re.search(rf"^thread '<unnamed>' panicked at {where}:\d+:\d+:$", out.stderr, re.M), out.stderr


EXPORTS_CHECK = pathlib.Path(__file__).parents[2] / "tools" / "exported_symbols.py"


@pytest.mark.skipif(not (sys.platform.startswith("linux") and EXPORTS_CHECK.exists()),
                    reason="needs an ELF module and tools/ beside tests/")
def test_module_exports_its_entry_point_alone():
    subprocess.run([sys.executable, str(EXPORTS_CHECK), tamarind.__file__], check=True)


def test_panic_exception_class(PanicException):
    assert (PanicException.__module__, PanicException.__qualname__) == ("pyo3_runtime", "PanicException")
    assert issubclass(PanicException, BaseException) and not issubclass(PanicException, Exception)


# ---- the shared borrow registry, seen from another extension's side ---------------------

BORROW_FN = ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.py_object)
RELEASE_FN = ctypes.PYFUNCTYPE(None, ctypes.c_void_p, ctypes.py_object)


class SharedBorrowApi(ctypes.Structure):
    _fields_ = [("version", ctypes.c_uint64), ("registry", ctypes.c_void_p), ("acquire", BORROW_FN),
                ("acquire_mut", BORROW_FN), ("release", RELEASE_FN), ("release_mut", RELEASE_FN)]


@pytest.fixture(scope="module")
def registry():
    tamarind.sort_f64_st(np.zeros(1))  # the first call creates the capsule
    core = np._core if hasattr(np, "_core") else np.core
    capsule = core.multiarray._RUST_NUMPY_BORROW_CHECKING_API
    get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
    get_pointer.restype = ctypes.c_void_p
    get_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
    api = SharedBorrowApi.from_address(get_pointer(capsule, b"_RUST_NUMPY_BORROW_CHECKING_API"))
    assert api.version == 1
    return api


@pytest.mark.parametrize("shared", [False, True])
def test_borrowed_array_is_refused_until_released(registry, shared, PanicException):
    base = np.arange(10.0, 0.0, -1.0)
    held = base[2:6]
    take, give = (registry.acquire, registry.release) if shared else (registry.acquire_mut, registry.release_mut)
    assert take(registry.registry, held) == 0
    try:
        for target in (base, held, base[5:]):  # every one overlaps `held`
            with pytest.raises(PanicException) as info:
                tamarind.sort_f64_st(target)
            assert info.value.args == ("called `Result::unwrap()` on an `Err` value: AlreadyBorrowed",)
        assert base.tolist() == list(np.arange(10.0, 0.0, -1.0))
        tamarind.sort_f64_st(base[6:])  # disjoint from `held`
    finally:
        give(registry.registry, held)
    tamarind.sort_f64_st(base)
    assert base.tolist() == sorted(base.tolist())


def test_registry_rules(registry):
    reg = registry.registry
    buf = np.zeros(16)
    even, odd = buf[::2], buf[1::2]
    assert registry.acquire_mut(reg, even) == 0
    assert registry.acquire_mut(reg, odd) == 0  # interleaved, no shared element
    assert registry.acquire(reg, buf) == -1
    registry.release_mut(reg, odd)
    registry.release_mut(reg, even)
    assert registry.acquire(reg, buf) == 0 and registry.acquire(reg, buf) == 0
    assert registry.acquire_mut(reg, buf[3:5]) == -1
    registry.release(reg, buf)
    assert registry.acquire_mut(reg, buf[3:5]) == -1
    registry.release(reg, buf)
    assert registry.acquire_mut(reg, buf[3:5]) == 0
    registry.release_mut(reg, buf[3:5])
    frozen = np.zeros(3)
    frozen.flags.writeable = False
    assert registry.acquire_mut(reg, frozen) == -2
    tamarind.sort_f64_st(buf)  # nothing left borrowed


# ---- nothing leaks on the error paths ---------------------------------------------------

LEAK_PROBE = """
import resource, sys
import numpy as np
import tamarind

rss_kib = lambda: int(open("/proc/self/statm").read().split()[1]) * resource.getpagesize() // 1024

strided = np.arange(8.0)[::2]
frozen = np.arange(8.0)
frozen.flags.writeable = False
for arr in (strided, np.zeros(3, np.int64), frozen, np.array([1.0, np.nan, 2.0]), [1.0]):
    refs = sys.getrefcount(arr)
    for rounds in range(2):  # the first round warms caches and allocator pools up
        start = rss_kib()
        for _ in range(50_000):
            try:
                tamarind.rayon_sort_f64(arr)
            except BaseException:
                pass
    assert sys.getrefcount(arr) == refs, "reference leaked"
    print(rss_kib() - start)
"""


def test_error_paths_leak_nothing():
    out = subprocess.run([sys.executable, "-c", LEAK_PROBE], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         text=True, check=True).stdout
    growth = [int(x) for x in out.split()]
    assert len(growth) == 5 and max(growth) < 1024, growth
