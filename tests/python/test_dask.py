"""tamarind_dask.sort against np.sort, over chunkings, skewed data and every scheduler."""
import numpy as np
import pytest

dask = pytest.importorskip("dask", reason="tamarind_dask needs dask: pip install .[dask]")
da = pytest.importorskip("dask.array", reason="tamarind_dask needs dask.array: pip install .[dask]")
import tamarind_dask  # noqa: E402
from conftest import NANS, run_probe, same_bits  # noqa: E402

N = 60_000
I64 = np.iinfo(np.int64)
DISTS = {
    "normal": lambda rng, n: rng.normal(size=n),
    "all_equal": lambda rng, n: np.full(n, 2.5),
    "few_unique": lambda rng, n: rng.integers(0, 3, n).astype(np.int64),
    # Half the data one value, which lands on a splitter.
    "heavy_duplicate": lambda rng, n: np.where(rng.random(n) < 0.5, 0.5, rng.random(n)),
    "sorted": lambda rng, n: np.arange(n, dtype=np.int64),
    "reversed": lambda rng, n: np.arange(n, 0, -1).astype(np.float64),
    "int64_extremes": lambda rng, n: rng.choice(np.array([I64.min, I64.min + 1, -1, 0, 1, I64.max - 1, I64.max]), n),
    # A third NaNs, which np.sort puts last but may rewrite, among signed zeros and infinities.
    "nan_zeros_inf": lambda rng, n: np.where(rng.random(n) < 0.3, rng.choice(NANS, n),
                                             rng.choice([-0.0, 0.0, np.inf, -np.inf, 1.0, -1.0], n)),
}


def make(dist, n=N):
    return DISTS[dist](np.random.default_rng(7), n)


CHUNKINGS = {
    "even": 6_000,
    "one_chunk": N,
    "uneven_with_empties": (0, 1, 30_000, 0, 7, N - 30_008 - 500, 500, 0),
    "tiny": 1_000,
}


def assert_np_sorted(result, a):
    """Equal to np.sort up to the order of -0.0/+0.0, every bit pattern kept, NaNs last in input order."""
    assert result.dtype == a.dtype
    np.testing.assert_array_equal(result, np.sort(a))
    assert same_bits(result, a)
    nan = np.isnan(a)
    assert np.array_equal(result[len(a) - nan.sum():].view(np.int64), a[nan].view(np.int64))


@pytest.mark.parametrize("chunks", CHUNKINGS.values(), ids=CHUNKINGS.keys())
@pytest.mark.parametrize("dist", DISTS)
@pytest.mark.parametrize("max_branch", [2, 32], ids=["staged", "direct"])
def test_matches_np_sort(dist, chunks, max_branch):
    a = make(dist)
    kept = a.copy()
    x = da.from_array(a, chunks=chunks)
    result = tamarind_dask.sort(x, max_branch=max_branch)
    assert result.numblocks == x.numblocks
    assert_np_sorted(result.compute(scheduler="sync"), a)
    # The chunks are sorted in copies, never in place.
    assert np.array_equal(a.view(np.int64), kept.view(np.int64))


@pytest.mark.parametrize("random_samples", [None, 2_000], ids=["whole_chunks", "random_samples"])
@pytest.mark.parametrize("chunks", [6_000, CHUNKINGS["uneven_with_empties"]], ids=["even", "uneven"])
@pytest.mark.parametrize("dist", DISTS)
def test_partitions_are_balanced(dist, chunks, random_samples, monkeypatch):
    if random_samples:  # chunks longer than their random sample, as large ones are
        monkeypatch.setattr(tamarind_dask, "_MIN_RANDOM_SAMPLES", random_samples)
        monkeypatch.setattr(tamarind_dask, "_RANDOM_SAMPLES_PER_PARTITION", 1)
    result = tamarind_dask.sort(da.from_array(make(dist), chunks=chunks), max_branch=3)
    sizes = np.array(result.compute_chunk_sizes().chunks[0])
    assert sizes.sum() == N
    # A random sample of 2000 from each chunk places a bound within about 5% (one standard
    # deviation) of a partition here; whole chunks place it to a sample's weight.
    slack = 0.25 if random_samples else 0.1
    assert sizes.max() <= (1 + slack) * N / len(sizes)
    assert sizes.min() >= (1 - slack) * N / len(sizes)


@pytest.mark.parametrize("n", [0, 1, 2, 5])
def test_short_arrays(n):
    a = make("nan_zeros_inf", n)
    assert_np_sorted(tamarind_dask.sort(da.from_array(a, chunks=2)).compute(), a)


def test_graph_grows_linearly_with_chunks():
    x = da.zeros(4096, chunks=1)
    tasks = len(dict(tamarind_dask.sort(x).__dask_graph__()))
    assert tasks < 100 * 4096  # a direct exchange would need 4096 ** 2


def test_is_lazy_and_refuses_masked_chunks_the_metadata_hides_when_computed():
    calls = []
    chunk = dask.delayed(lambda: calls.append(1) or np.ma.masked_array([2.0, 1.0], mask=[0, 1]))()
    result = tamarind_dask.sort(da.from_delayed(chunk, (2,), float))
    assert calls == []
    with pytest.raises(TypeError, match="numpy.ma.sort"):
        result.compute(scheduler="sync")


@pytest.mark.parametrize("declared, chunk", [(np.int64, [3.7, 1.2, 2.9]), (np.float64, [3, 1, 2]),
                                              (np.float64, np.array([3.0, 1.0], ">f8"))])
def test_refuses_a_chunk_of_another_dtype_than_declared_when_computed(declared, chunk):
    result = tamarind_dask.sort(da.from_delayed(dask.delayed(np.asarray)(chunk), (len(chunk),), declared))
    with pytest.raises(TypeError, match="chunk has dtype"):
        result.compute(scheduler="sync")


EMPTY_PROBE = """
import numpy as np, dask.array as da, tamarind_dask
x = tamarind_dask.sort(da.from_array(np.empty(0, "{dtype}"), chunks=1))
if "{scheduler}" == "worker_threads":
    import distributed
    with distributed.LocalCluster(n_workers=1, processes=False, dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        r = client.compute(x, sync=True)
else:
    r = x.compute(scheduler="{scheduler}")
assert r.shape == (0,) and r.dtype == np.{dtype}
"""


@pytest.mark.parametrize("dtype", ["float64", "int64"])
@pytest.mark.parametrize("scheduler", ["synchronous", "threads", "processes", "worker_threads"])
def test_empty_array_in_a_fresh_process(scheduler, dtype):
    if scheduler.startswith("worker"):
        pytest.importorskip("distributed", reason="needs dask.distributed: pip install .[dask]")
    run_probe(EMPTY_PROBE.format(scheduler=scheduler, dtype=dtype))


@pytest.mark.parametrize("value, kwargs, error, words", [
    (np.arange(3.0), {}, TypeError, ["numpy.ndarray", "from_array"]),
    ([1.0, 2.0], {}, TypeError, ["builtins.list"]),
    (da.zeros(4, dtype=np.float32), {}, TypeError, ["float32", "float64 or int64"]),
    (da.zeros(4, dtype=">f8"), {}, TypeError, [">f8", "native byte order"]),
    (da.zeros((2, 2)), {}, ValueError, ["2 dimensions", "one-dimensional"]),
    (da.zeros(4), {"max_branch": 1}, ValueError, ["max_branch"]),
    # Masked chunks would be sorted as data, their masks dropped.
    (da.from_array(np.ma.masked_array([2.0, 1.0], mask=[0, 1])), {}, TypeError, ["masked", "numpy.ma.sort"]),
    (da.ma.masked_greater(da.arange(4, chunks=2), 2), {}, TypeError, ["masked", "numpy.ma.sort"]),
])
def test_rejects_other_input(value, kwargs, error, words):
    with pytest.raises(error) as info:
        tamarind_dask.sort(value, **kwargs)
    assert all(w in str(info.value) for w in words)


def test_sorts_pieces_received_from_another_worker():
    # A piece that travelled or was spilled is a view of a read-only or misaligned buffer.
    a = make("nan_zeros_inf", 101)
    received = [np.frombuffer(a[:50].tobytes(), np.float64),
                np.frombuffer(b"\0" + a[50:].tobytes(), np.uint8)[1:].view(np.float64)]
    pieces = [{7: [(0, received[0])]}, {7: [(1, received[1])]}]
    assert_np_sorted(tamarind_dask._sort_partition(7, a.dtype, *pieces[::-1]), a)


# Worker threads in one process are where the helpers' letting go of the interpreter lock
# matters: the exchange and the sorts run in the same interpreter.
@pytest.mark.parametrize("scheduler", ["threads", "processes", "worker_processes", "worker_threads"])
def test_schedulers(scheduler):
    a, b = make("nan_zeros_inf"), make("int64_extremes")
    x = tamarind_dask.sort(da.from_array(a, chunks=7_000), max_branch=3)
    y = tamarind_dask.sort(da.from_array(b, chunks=(0, 20_000, 40_000)))
    if not scheduler.startswith("worker"):
        results = dask.compute(x, y, scheduler=scheduler)
    else:
        distributed = pytest.importorskip("distributed", reason="needs dask.distributed: pip install .[dask]")
        processes = scheduler == "worker_processes"
        host = {"host": "127.0.0.1"} if processes else {}  # worker threads talk in process
        with distributed.LocalCluster(n_workers=2, threads_per_worker=2 - processes, processes=processes,
                                      dashboard_address=None, **host) as cluster, distributed.Client(cluster) as client:
            results = client.compute([x, y], sync=True)
    assert_np_sorted(results[0], a)
    assert_np_sorted(results[1], b)
