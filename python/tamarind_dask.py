"""Global sort of a one-dimensional Dask array, with tamarind sorting every partition.

``sort(x)`` returns a new, lazily evaluated dask array holding the elements of ``x`` in
the order ``np.sort`` gives them. Nothing runs until the result is computed or
persisted, so it works on any scheduler (synchronous, threads, processes,
``dask.distributed``) and on data that is larger than one machine's memory.

How it sorts (a sample sort, one Dask task per box)::

    chunk c ──sample──> splitters (one small task, from every chunk's sample)
       │                    │
       └──cut at splitters <┘   (a copy of c, bucket by bucket, still unsorted)
                 │
      exchange (1 or more stages)
                 │
    output j: concatenate its pieces, sort

* Every element is ordered by the key (value, input chunk, position in the chunk). The
  key is unique, so duplicates are split between output partitions by rank like any
  other values: all-equal data, few distinct values or a heavy value at a splitter still
  come out balanced.
* Each chunk gives a random sample (one position drawn in each of equal strides, the
  whole chunk where it is short), sorted by that key; evenly spaced keys of it, in
  number proportional to the chunk's length and each carrying the number of elements it
  stands for, go to the splitter task, which reads the splitters off the weighted sample
  at even steps. Empty or very uneven chunks therefore weigh what they hold. The random
  sample takes 256 keys per output partition from every chunk (at least 16 384), so a
  partition's share errs by about 3% (one standard deviation) at most, and by 1% for a
  dozen partitions; the keys sent on are capped at about a million in all.
* Each chunk is cut by tamarind's multi-way partition, a compiled private helper: one pass
  classifies the elements, a second copies each bucket, in the chunk's order, into a new
  array of its own; these are the pieces sent on. An output partition's helper
  concatenates its pieces (in chunk order, so its NaNs stay in input order) into an
  array of its own and sorts it at once, with no wait for the other partitions. Separate
  pieces let each piece's memory go as soon as its partition has it, to be taken again
  by the next partition: new memory costs page faults, which the exchange would
  otherwise pay on most of its bytes. The helpers keep the pieces and partitions they
  make on base pages: a first touch of NumPy's huge pages may wait on the system, and on
  a virtual machine that hands freed memory back to its host it cost six times as much.
* The exchange is staged, like the task-based shuffle Dask's dataframes use: with ``p``
  partitions and a branching factor ``g = ceil(p ** (1 / k)) <= max_branch``, stage ``s``
  sends each piece on by digit ``s`` of its destination written in base ``g``. That is
  ``k * g`` dependencies per partition instead of ``p`` for a direct all-to-all, so a
  graph of thousands of chunks stays within what the scheduler handles, at the price of
  moving the pieces ``k`` times (``k == 1``, the direct exchange, up to ``max_branch``
  chunks). Dask's own shuffles are not used: the array collection has none keyed by a
  computed destination, the dataframe one would wrap every chunk in pandas (the
  overhead this module exists to avoid), and the peer-to-peer one runs only on
  ``dask.distributed``. The stages pass the pieces along, so in a single process no
  element is copied again until its output partition is built.
* Kernels: the two compiled helpers, ``tamarind._partition_nogil_f64``/``_i64`` and
  ``tamarind._concat_sort_nogil_f64``/``_i64`` (the single-threaded sort, here with NaNs
  moved last first), are private to this module. Unlike tamarind's public functions they
  let go of the interpreter lock while they work, so that a worker's other threads, which
  send and receive pieces, run meanwhile, and a threaded scheduler sorts on all its
  threads at once. They only read the arrays they are given (the input chunk, the
  pieces) and write only the arrays they make. Each task sorts on its
  own thread: Dask already runs one task per core (or per worker thread), and a
  multi-threaded sort in every task would oversubscribe the machine. Even a graph of one
  partition keeps the single-threaded sort: on two busy cores ``sort_f64`` on a 64 MiB
  chunk was no faster (0.072 s against 0.066 s, AMD EPYC with AVX2), and Dask may be
  running other work beside it.

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
# The compiled helpers of each dtype (private to this module; see the module documentation).
_PARTITION = {np.dtype(np.float64): tamarind._partition_nogil_f64,
              np.dtype(np.int64): tamarind._partition_nogil_i64}
_CONCAT_SORT = {np.dtype(np.float64): tamarind._concat_sort_nogil_f64,
                np.dtype(np.int64): tamarind._concat_sort_nogil_i64}
# Keys sent to the splitter task per output partition, and in all: enough that the splitters
# place each partition's bounds within a few per cent of it, few enough that the one
# splitter task stays cheap.
_SAMPLES_PER_PARTITION = 256
_MAX_SAMPLES = 1 << 20
# Keys sampled at random from each chunk, per output partition (and at least the minimum):
# with m such keys from each of p chunks a partition's share errs by about 0.5 * (p / m) **
# 0.5, 3% at this rate (one standard deviation). Drawing and sorting the minimum costs a
# few per cent of cutting a 64 MiB chunk.
_RANDOM_SAMPLES_PER_PARTITION = 256
_MIN_RANDOM_SAMPLES = 1 << 14


_MASKED = ("sort() does not sort masked arrays: it would sort the masked values as data and "
           "drop the mask; compute the array and sort it with numpy.ma.sort, or fill the masked "
           "values first (dask.array.ma.filled)")


def _chunk_array(block, dtype):
    """Input chunk ``block`` as a contiguous, aligned array of ``dtype``, copied only if need be."""
    # A masked chunk that the array's metadata did not announce (from_delayed, say).
    if isinstance(block, np.ma.MaskedArray):
        raise TypeError(_MASKED)
    block = np.asarray(block)
    # Never cast: a float chunk in an int64 graph would lose its fractions unseen.
    if block.dtype != dtype:
        raise TypeError(f"sort(): a chunk has dtype {block.dtype.str} ({block.dtype}), but the array "
                        f"declares {dtype.str} ({dtype}); make the chunks match the declared dtype")
    # The chunk is only ever read: it may be shared with other graphs or arrays.
    return np.require(block, None, ["C_CONTIGUOUS", "ALIGNED"])


def _sample(block, chunk, count, random_samples, dtype):
    """``count`` evenly spaced keys (value, chunk, position) of a random sample of the chunk,
    sorted, each weighing len/count."""
    a = _chunk_array(block, dtype)
    n = len(a)
    count = min(count, n)
    if count == 0:
        return (a[:0], np.empty(0, np.int64), np.empty(0, np.int64), np.empty(0))
    m = min(n, random_samples)
    if m == n:
        pos = np.arange(n, dtype=np.int64)
    else:
        # One position drawn in each of m equal strides: ascending, and no periodic layout
        # of the chunk can line up with them. Seeded by the chunk, so a rerun samples alike.
        start = np.arange(m + 1, dtype=np.int64) * n // m
        rng = np.random.default_rng(chunk)
        pos = start[:-1] + (rng.random(m) * np.diff(start)).astype(np.int64)
    values = a[pos]
    # A stable sort of the values orders the sample by (value, position): positions ascend.
    order = np.argsort(values, kind="stable")
    # Midpoints of ``count`` equal slices: the error of a key's rank is half a slice.
    picks = order[(np.arange(1, 2 * count, 2, dtype=np.int64) * m) // (2 * count)]
    return (values[picks], np.full(count, chunk, np.int64), pos[picks], np.full(count, n / count))


def _splitters(nparts, *samples):
    """The keys (value, chunk, position) that cut the weighted sample into even parts."""
    values, chunks, positions, weights = (np.concatenate(col) for col in zip(*samples))
    if len(values) == 0:
        return None
    # NumPy's sort order puts NaNs last, as the partitions have them.
    order = np.lexsort((positions, chunks, values))
    cumulative = np.cumsum(weights[order])
    # A sample sits in the middle of the elements it stands for.
    midpoints = cumulative - weights[order] / 2
    targets = cumulative[-1] * np.arange(1, nparts) / nparts
    pick = order[np.minimum(np.searchsorted(midpoints, targets), len(order) - 1)]
    return values[pick], chunks[pick], positions[pick]


def _cut(block, chunk, splitters, ngroups, dtype):
    """Pieces of input chunk ``block`` per output partition, grouped by the partition's lowest digit.

    Returns ``ngroups`` dicts ``{partition: [(chunk, piece), ...]}``; empty pieces are left
    out. Each piece is an array of its own, so that its memory goes as soon as its output
    partition has copied it (and is there to be taken again for the next one's).
    """
    groups = [{} for _ in range(ngroups)]
    a = _chunk_array(block, dtype)
    if len(a) == 0:
        return groups
    if splitters is None:
        values, ties = a[:0], np.empty(0, np.int64)
    else:
        values, chunks, positions = splitters
        # Elements equal to a splitter's value go below it in chunks before the splitter's
        # chunk, above it in later ones, and by position in its own chunk.
        ties = np.where(chunk < chunks, len(a), np.where(chunk > chunks, 0, positions)).astype(np.int64)
    for part, piece in enumerate(_PARTITION[a.dtype](a, values, ties)):
        if len(piece):
            groups[part % ngroups][part] = [(chunk, piece)]
    return groups


def _regroup(ngroups, divisor, *pieces):
    """Merge the pieces from one exchange stage and group them by the next digit."""
    groups = [{} for _ in range(ngroups)]
    for piece in pieces:
        for part, runs in piece.items():
            groups[(part // divisor) % ngroups].setdefault(part, []).extend(runs)
    return groups


def _sort_partition(part, dtype, *pieces):
    """Output partition ``part``: its pieces concatenated in input-chunk order, then sorted.

    The helper makes the concatenation itself, so no other task sees it before it is
    sorted and the sort may let go of the interpreter lock. A piece that travelled from
    another worker or was spilled may be a read-only or misaligned view: it is only read
    (a misaligned one copied first).
    """
    runs = sorted((run for piece in pieces for run in piece.get(part, ())),
                  key=operator.itemgetter(0))
    return _CONCAT_SORT[dtype]([_chunk_array(run, dtype) for _, run in runs])


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
    ``ValueError`` for another number of dimensions. A chunk whose dtype differs from the
    array's raises ``TypeError`` when computed: it is never cast.
    """
    _check(x)
    if not isinstance(max_branch, int) or max_branch < 2:
        raise ValueError(f"max_branch must be an integer of at least 2; got {max_branch!r}")

    nparts = x.numblocks[0]
    token = tokenize(x, max_branch)
    sample_name = f"tamarind-sort-sample-{token}"
    splitter_key = f"tamarind-sort-splitters-{token}"
    name = f"tamarind-sort-{token}"
    dsk = {}

    counts = _sample_counts(x.chunks[0], nparts)
    random_samples = max(_MIN_RANDOM_SAMPLES, _RANDOM_SAMPLES_PER_PARTITION * nparts)
    for c in range(nparts):
        dsk[(sample_name, c)] = (_sample, (x.name, c), c, counts[c], random_samples, x.dtype)
    dsk[splitter_key] = (_splitters, nparts, *[(sample_name, c) for c in range(nparts)])

    stages, branch = _stages(nparts, max_branch)
    # Stage 0 cuts the input chunks; the nodes of later stages exist where any of their
    # inputs does. The last stage's tasks sort: each as soon as its own pieces are in.
    node_name = f"tamarind-sort-cut-{token}"
    nodes = set(range(nparts))
    for c in nodes:
        dsk[(node_name, c)] = (_cut, (x.name, c), c, splitter_key, branch, x.dtype)
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
                dsk[(name, target)] = (_sort_partition, target, x.dtype, *inputs)
            elif inputs:
                dsk[(next_name, target)] = (_regroup, branch, divisor * branch, *inputs)
                next_nodes.add(target)
        node_name, nodes = next_name, next_nodes

    graph = HighLevelGraph.from_collections(name, dsk, dependencies=[x])
    return da.Array(graph, name, chunks=((math.nan,) * nparts,), dtype=x.dtype)
