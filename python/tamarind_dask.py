"""Global sort of a one-dimensional Dask array, with tamarind sorting every partition.

``sort(x)`` returns a new, lazily evaluated dask array holding the elements of ``x`` in
the order ``np.sort`` gives them. Nothing runs until the result is computed or
persisted, so it works on any scheduler (synchronous, threads, processes,
``dask.distributed``) and on data that is larger than one machine's memory.

How it sorts (a sample sort, one Dask task per box)::

    chunk c ──sort──> sorted c ──sample──┐
                          │              ├─> splitters (one small task)
                          └──cut at splitters <┘
                                   │
                        exchange (1 or more stages)
                                   │
                   output j: concatenate its runs
                                   │
                   (every output gathered) ──> output j: sort in place

* Every element is ordered by the key (value, input chunk, position in the sorted
  chunk). The key is unique, so duplicates are split between output partitions by rank
  like any other values: all-equal data, few distinct values or a heavy value at a
  splitter still come out balanced.
* Each sorted chunk gives regularly spaced samples, in number proportional to its
  length, each carrying the number of elements it stands for; splitters are read off
  the weighted sample at even steps. Empty or very uneven chunks therefore weigh what
  they hold. The sample is capped at about a million keys in all.
* The exchange is staged, like the task-based shuffle Dask's dataframes use: with ``p``
  partitions and a branching factor ``g = ceil(p ** (1 / k)) <= max_branch``, stage ``s``
  sends each run on by digit ``s`` of its destination written in base ``g``. That is
  ``k * g`` dependencies per partition instead of ``p`` for a direct all-to-all, so a
  graph of thousands of chunks stays within what the scheduler handles, at the price of
  moving the runs ``k`` times (``k == 1``, the direct exchange, up to ``max_branch``
  chunks). Dask's own shuffles are not used: the array collection has none keyed by a
  computed destination, the dataframe one would wrap every chunk in pandas (the
  overhead this module exists to avoid), and the peer-to-peer one runs only on
  ``dask.distributed``. The stages pass slices of the sorted chunks along, so in a
  single process no element is copied until its output partition is built.
* Kernels: each task sorts with ``sort_f64_st``/``sort_i64_st`` on its own thread. Dask
  already runs one task per core (or per worker thread); the multi-threaded
  ``sort_f64``/``sort_i64`` would build a pool of one thread per processor in every task
  and oversubscribe the machine. An output partition arrives as a concatenation of
  sorted runs, which the single-threaded sort detects and merges: two runs cost about
  0.4 of a sort, a dozen or more about a whole one.
* The kernels hold the GIL while they sort, and a worker inside one cannot send runs to
  its peers, so no output partition is sorted until all are gathered: without that the
  exchange and the sorts take turns on ``dask.distributed``. Each element is copied
  twice (its sorted chunk, its output partition) and sorted twice; partitioning an
  unsorted chunk with NumPy (``searchsorted``, a stable ``argsort`` of the partition
  numbers, a gather) costs about three of tamarind's sorts of it, so the first sort is
  the cheapest partitioner available here.

Results: the same values as ``np.sort(x.compute())``, with the bit pattern of every
element kept. NaNs go last, in the order they have in ``x`` (``np.sort`` also puts
them last, but on x86 with NumPy 2 it may rewrite every NaN as the default quiet NaN;
this module never changes an element). ``-0.0`` and ``+0.0`` compare equal, as in NumPy,
and may come out in either order relative to each other.

The output has as many chunks as the input, each within a few per cent of an even
share, but their exact lengths depend on the data, so they are unknown (``nan``) until
computed: call ``result.compute_chunk_sizes()`` before operations that need them, such
as slicing or ``to_zarr``.
"""

import math
import operator

import numpy as np

import dask.array as da
from dask.base import tokenize
from dask.highlevelgraph import HighLevelGraph

import tamarind

__all__ = ["sort"]

_DTYPES = (np.dtype(np.float64), np.dtype(np.int64))
# Samples per output partition, and in all: enough that sampling error stays a few per
# cent of a partition, small enough that the one splitter task stays cheap.
_SAMPLES_PER_PARTITION = 256
_MAX_SAMPLES = 1 << 20


def _sort_in_place(a):
    """Sort ``a`` (a fresh array) into NumPy's order; returns the sorted array.

    tamarind orders float64 by IEEE totalOrder and its comparison sorts refuse NaN, so
    NaNs are taken out first and appended, in their original order, behind the rest.
    """
    if a.dtype.kind != "f":
        tamarind.sort_i64_st(a)
        return a
    # A sum is a cheaper screen than a mask; inf - inf also gives NaN and costs a mask.
    with np.errstate(all="ignore"):
        screen = np.add.reduce(a)
    if np.isnan(screen):
        nan = np.isnan(a)
        if nan.any():
            a = np.concatenate((a[~nan], a[nan]))
            tamarind.sort_f64_st(a[: len(a) - int(np.count_nonzero(nan))])
            return a
    tamarind.sort_f64_st(a)
    return a


_MASKED = ("sort() does not sort masked arrays: it would sort the masked values as data and "
           "drop the mask; compute the array and sort it with numpy.ma.sort, or fill the masked "
           "values first (dask.array.ma.filled)")


def _sort_chunk(block):
    # A masked chunk that the array's metadata did not announce (from_delayed, say).
    if isinstance(block, np.ma.MaskedArray):
        raise TypeError(_MASKED)
    # Never sort an input chunk in place: it may be shared with other graphs or arrays.
    return _sort_in_place(np.array(block, dtype=block.dtype, order="C", copy=True))


def _sample(a, chunk, count):
    """``count`` evenly spaced keys of sorted chunk ``a``, each weighing len(a)/count."""
    count = min(count, len(a))
    if count == 0:
        return (a[:0], np.empty(0, np.int64), np.empty(0, np.int64), np.empty(0))
    # Midpoints of ``count`` equal slices: the error of a sample's rank is half a slice.
    pos = (np.arange(1, 2 * count, 2, dtype=np.int64) * len(a)) // (2 * count)
    return (a[pos], np.full(count, chunk, np.int64), pos, np.full(count, len(a) / count))


def _splitters(nparts, *samples):
    """The keys (value, chunk, position) that cut the weighted sample into even parts."""
    values, chunks, positions, weights = (np.concatenate(col) for col in zip(*samples))
    if len(values) == 0:
        return None
    # NumPy's sort order puts NaNs last, as the chunks have them.
    order = np.lexsort((positions, chunks, values))
    cumulative = np.cumsum(weights[order])
    # A sample sits in the middle of the elements it stands for.
    midpoints = cumulative - weights[order] / 2
    targets = cumulative[-1] * np.arange(1, nparts) / nparts
    pick = order[np.minimum(np.searchsorted(midpoints, targets), len(order) - 1)]
    return values[pick], chunks[pick], positions[pick]


def _cut(a, chunk, splitters, nparts, ngroups):
    """Runs of sorted chunk ``a`` per output partition, grouped by the partition's lowest digit.

    Returns ``ngroups`` dicts ``{partition: [(chunk, run), ...]}``; empty runs are left out.
    """
    groups = [{} for _ in range(ngroups)]
    if len(a) == 0:
        return groups
    if splitters is None:
        bounds = np.array([0, len(a)])
    else:
        values, chunks, positions = splitters
        # Elements equal to a splitter's value go below it in chunks before the
        # splitter's chunk, above it in later ones, and by position in its own chunk.
        left = np.searchsorted(a, values, "left")
        right = np.searchsorted(a, values, "right")
        inner = np.where(chunk < chunks, right, np.where(chunk > chunks, left, positions))
        bounds = np.concatenate(([0], inner, [len(a)]))
        np.maximum.accumulate(bounds, out=bounds)
    for part in range(len(bounds) - 1):
        start, stop = bounds[part], bounds[part + 1]
        if start < stop:
            groups[part % ngroups][part] = [(chunk, a[start:stop])]
    return groups


def _regroup(ngroups, divisor, *pieces):
    """Merge the runs from one exchange stage and group them by the next digit."""
    groups = [{} for _ in range(ngroups)]
    for piece in pieces:
        for part, runs in piece.items():
            groups[(part // divisor) % ngroups].setdefault(part, []).extend(runs)
    return groups


def _gather(part, dtype, *pieces):
    """Output partition ``part``'s runs, in input-chunk order, concatenated (not yet sorted)."""
    runs = sorted((run for piece in pieces for run in piece.get(part, ())),
                  key=operator.itemgetter(0))
    if not runs:
        return np.empty(0, dtype)
    return np.concatenate([run for _, run in runs])


def _length(a):
    return len(a)


def _barrier(*lengths):
    return None


def _finish(a, barrier):
    """Sort gathered partition ``a`` in place.

    ``a`` is this task's own concatenation, read elsewhere only for its length, and
    sorting is idempotent, so a rerun of this task after a lost worker gives the same.
    If the scheduler ran this task on another worker than the gather, or the gather was
    spilled, ``a`` arrives as a view of a received buffer, possibly read-only or
    misaligned, which the kernels refuse: then it is copied.
    """
    if not (a.flags.writeable and a.flags.aligned and a.flags.c_contiguous):
        a = np.array(a, order="C")
    return _sort_in_place(a)


def _describe(x):
    kind = type(x)
    return f"{kind.__module__}.{kind.__qualname__}"


def _check(x):
    accepted = "a one-dimensional dask.array.Array of float64 or int64"
    if not isinstance(x, da.Array):
        hint = ""
        if isinstance(x, np.ndarray):
            hint = " (wrap it with dask.array.from_array, or sort it with tamarind directly)"
        raise TypeError(f"sort() expects {accepted}; got {_describe(x)}{hint}")
    if x.ndim != 1:
        raise ValueError(f"sort() expects {accepted}; got an array with {x.ndim} "
                         f"dimensions, shape {x.shape}")
    if x.dtype not in _DTYPES:
        raise TypeError(f"sort() expects {accepted} (native byte order); "
                        f"got dtype {x.dtype.str} ({x.dtype})")
    if isinstance(x._meta, np.ma.MaskedArray):
        raise TypeError(_MASKED)


def _sample_counts(chunks, nparts):
    """Samples per input chunk, in proportion to its length where the length is known."""
    total_samples = min(_MAX_SAMPLES, _SAMPLES_PER_PARTITION * nparts)
    if any(math.isnan(c) for c in chunks):
        return [max(1, total_samples // len(chunks))] * len(chunks)
    total = sum(chunks)
    if total == 0:
        return [0] * len(chunks)
    return [math.ceil(c * total_samples / total) for c in chunks]


def _stages(nparts, max_branch):
    """The number of exchange stages and the branching factor of each."""
    stages = 1
    while max_branch ** stages < nparts:
        stages += 1
    branch = max(1, math.ceil(nparts ** (1 / stages)))
    while branch ** stages < nparts:  # the float root may fall just short
        branch += 1
    return stages, branch


def sort(x, *, max_branch=32):
    """Sort a one-dimensional float64 or int64 dask array; returns a new lazy dask array.

    The result has as many chunks as ``x``, of about even length (unknown until computed),
    and equals ``np.sort(x.compute())``: NaNs last in their original order, every
    element's bit pattern kept, ``-0.0`` and ``+0.0`` in either order.

    ``max_branch`` bounds how many runs one exchange task gathers; above that many
    chunks the exchange takes more stages (see the module documentation).

    Raises ``TypeError`` for input that is not a dask array, has another dtype or has
    masked chunks (``dask.array.ma``: sort those with ``numpy.ma.sort``), and
    ``ValueError`` for another number of dimensions.
    """
    _check(x)
    if not isinstance(max_branch, int) or max_branch < 2:
        raise ValueError(f"max_branch must be an integer of at least 2; got {max_branch!r}")

    nparts = x.numblocks[0]
    token = tokenize(x, max_branch)
    sorted_name = f"tamarind-sort-chunk-{token}"
    sample_name = f"tamarind-sort-sample-{token}"
    splitter_key = f"tamarind-sort-splitters-{token}"
    name = f"tamarind-sort-{token}"
    dsk = {}

    counts = _sample_counts(x.chunks[0], nparts)
    for c in range(nparts):
        dsk[(sorted_name, c)] = (_sort_chunk, (x.name, c))
        dsk[(sample_name, c)] = (_sample, (sorted_name, c), c, counts[c])
    dsk[splitter_key] = (_splitters, nparts, *[(sample_name, c) for c in range(nparts)])

    gather_name = f"tamarind-sort-gather-{token}"
    length_name = f"tamarind-sort-length-{token}"
    barrier_key = f"tamarind-sort-exchanged-{token}"
    stages, branch = _stages(nparts, max_branch)
    # Stage 0 cuts the sorted chunks; the nodes of later stages exist where any of
    # their inputs does.
    node_name = f"tamarind-sort-cut-{token}"
    nodes = set(range(nparts))
    for c in nodes:
        dsk[(node_name, c)] = (_cut, (sorted_name, c), c, splitter_key, nparts, branch)
    for stage in range(stages):
        divisor = branch ** stage
        group_name = f"tamarind-sort-group{stage}-{token}"
        for node in nodes:
            for digit in range(branch):
                dsk[(group_name, node, digit)] = (operator.getitem, (node_name, node), digit)
        last = stage == stages - 1
        next_name = name if last else f"tamarind-sort-exchange{stage + 1}-{token}"
        next_nodes = set()
        for target in (range(nparts) if last else range(branch ** stages)):
            digit = (target // divisor) % branch
            base = target - digit * divisor
            sources = [base + d * divisor for d in range(branch)]
            inputs = [(group_name, s, digit) for s in sources if s in nodes]
            if last:
                dsk[(gather_name, target)] = (_gather, target, x.dtype, *inputs)
                dsk[(length_name, target)] = (_length, (gather_name, target))
                dsk[(name, target)] = (_finish, (gather_name, target), barrier_key)
            elif inputs:
                dsk[(next_name, target)] = (_regroup, branch, divisor * branch, *inputs)
                next_nodes.add(target)
        node_name, nodes = next_name, next_nodes

    # No partition is sorted before every partition is gathered: the kernels hold the
    # GIL, and a worker inside one cannot send its runs to the others. The barrier
    # depends on the lengths only, so no partition moves to reach it.
    dsk[barrier_key] = (_barrier, *[(length_name, t) for t in range(nparts)])

    graph = HighLevelGraph.from_collections(name, dsk, dependencies=[x])
    return da.Array(graph, name, chunks=((math.nan,) * nparts,), dtype=x.dtype)
