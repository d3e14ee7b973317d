#!/usr/bin/env python3
"""Benchmark tamarind's six sorts against NumPy's in-place ``ndarray.sort()``.

Every function runs on fresh copies of the same arrays in one process, next to
NumPy's default sort and its ``kind="stable"`` sort, and, when polars is
installed (``pip install .[bench]``), polars' multi-threaded ``Series.sort``
(the copy into a Series is not timed). Each timing is the median
of ``--repeat`` runs; every run sorts a fresh copy (the copy is not timed), and
small arrays are sorted in batches of fresh copies so that one timing spans
enough work for the clock. Each result is checked against ``np.sort``.

NumPy picks its sort's vector code at run time, and on some processors its
AVX-512 code is slower than its AVX2 code. Where the installed NumPy has AVX-512
dispatch targets that this processor runs, NumPy is also timed with them off
(``numpy_noavx512``): a child process started with NPY_DISABLE_CPU_FEATURES set
to those targets, as NumPy itself lists them, sorts the same arrays, one run at
a time in turn with the functions timed here, so both NumPy rows get the same
runs under the same conditions. ``vs numpy`` compares with the faster of the two.

Usage (from the repository root, with tamarind installed)::

    python benchmarks/bench.py                       # quick default set, about a minute
    python benchmarks/bench.py --preset large        # 1e7 and 5e7, the sizes a radix
                                                     # sort is for; medians of 3
    python benchmarks/bench.py --sizes 1e5,1e6,1e7 --funcs '*_st,numpy*'
    python benchmarks/bench.py --sizes 1e7,5e7 --dist 'uniform_*,sorted_*,reversed_*'
    python benchmarks/bench.py --dist uniform_f64 --funcs 'rayon_*,numpy' --threads 1
    python benchmarks/bench.py --plot ratios.png --json results.json
    python benchmarks/bench.py --tables              # tamarind under each kernel table
                                                     # this processor runs, side by side
    python benchmarks/bench.py --overhead            # ns per call at n = 1, 16, 64
    python benchmarks/bench.py --pool                # per-call pool cost, idle CPU
    python benchmarks/bench.py --latency --busy 1    # median, p90, p99 per call, quiet
                                                     # and beside busy processes
    python benchmarks/bench.py --memory              # peak resident memory at 5e7,
                                                     # one process per sort, on the
                                                     # data of the README's table
    python benchmarks/bench.py --list                # distributions and functions

Options:
    --sizes LIST    comma-separated element counts, e.g. 1e3,1e5,8e5,1e8
                    (default 1e3,1e4,1e5,1e6; --memory defaults to 5e7;
                    --overhead and --pool use their own sizes)
    --dist LIST     distributions to run; shell patterns allowed ('*_i64')
    --funcs LIST    functions to run; tamarind's names plus 'numpy' (default
                    kind), 'numpy_noavx512' (shown with 'numpy'; see above),
                    'numpy_stable' and, when installed, 'polars'; shell
                    patterns allowed
    --repeat N      runs per timing, median reported (default 5)
    --seed N        seed of the array generator (default 12345)
    --threads N     set RAYON_NUM_THREADS before tamarind is loaded (the global
                    pool reads it once); run twice to compare thread counts
    --plot FILE     draw the ratios per distribution and size (needs matplotlib)
    --json FILE     also write the results as JSON
    --tables        time tamarind's functions under every kernel table this
                    processor runs (AVX-512, AVX2, scalar), one child process
                    each with TAMARIND_DISABLE_CPU_FEATURES set, side by side
                    against NumPy, and name the fastest table on each row
    --numpy-as-installed
                    compare with NumPy as installed only: no child process
                    with its AVX-512 targets off
    --latency       per function and size (uniform data of its dtype, NumPy's
                    sort beside it), the median, 90th and 99th percentile of
                    --calls calls on fresh copies: first on a quiet machine,
                    then beside --busy processes that spin; the busy
                    percentiles are given as multiples of the quiet median
    --busy K        spinning processes beside the second round (default 1)
    --calls N       calls per function and size in --latency (default 300)

Reading the table: ``ns/elem`` is the median time divided by the element
count. ``vs numpy`` is NumPy-default time / function time on the same arrays,
taking the faster of ``numpy`` and ``numpy_noavx512`` on each row: higher is
better, above 1 means faster than ``ndarray.sort()``. Ratios compare only
within one machine's run. A function
that raises (for example NotImplementedError for a size it cannot sort yet)
shows "n/a" with the reason; a result that differs from ``np.sort`` shows
"n/a" with "wrong result" and is not counted.

Progress goes to standard error, the tables to standard output.
"""

import argparse
import fnmatch
import functools
import gc
import importlib.util
import json
import math
import os
import platform
import subprocess
import sys
import tempfile
import time

import numpy as np

TAMARIND_FUNCS = {
    "sort_f64": np.float64,
    "sort_i64": np.int64,
    "sort_f64_st": np.float64,
    "sort_i64_st": np.int64,
    "rayon_sort_f64": np.float64,
    "rayon_sort_i64": np.int64,
}
NUMPY_FUNCS = {
    # Unbound, so that a call has the same shape as tamarind's f(arr).
    "numpy": np.ndarray.sort,
    "numpy_stable": functools.partial(np.ndarray.sort, kind="stable"),
}
# NumPy's default sort with its AVX-512 dispatch targets off, timed in a child process.
NUMPY_NO_AVX512 = "numpy_noavx512"
# tamarind's kernel tables, best first: name -> TAMARIND_DISABLE_CPU_FEATURES that caps it there.
KERNEL_TABLES = {"avx512": "", "avx2": "AVX512F", "scalar": "AVX512F AVX2"}
# Other libraries, listed only when installed: name -> module.
OPTIONAL_FUNCS = {"polars": "polars"}
ALL_FUNCS = (list(NUMPY_FUNCS) + [name for name, module in OPTIONAL_FUNCS.items()
                                  if importlib.util.find_spec(module) is not None]
             + list(TAMARIND_FUNCS))

DEFAULT_SIZES = "1e3,1e4,1e5,1e6"
DEFAULT_REPEAT = 5
# Named sets of --sizes, --dist and --repeat: the sizes a radix sort is for, on the data it
# meets there (5e7 takes minutes).
PRESETS = {
    "large": {"sizes": "1e7,5e7", "repeat": 3,
              "dist": "uniform_f64,normal_f64,lognormal_f64,uniform_i64,ids_i64,timestamps_i64,nearly_sorted_*"},
}
MEMORY_SIZES = "5e7"
OVERHEAD_SIZES = (1, 16, 64)
# Small arrays are sorted in batches of fresh copies holding at least this many
# elements in total, so one timing is long enough for the clock (and stays in L2).
BATCH_ELEMENTS = 1 << 16
# Calls per timing in --overhead mode: few enough that the fresh arrays stay in
# cache, and --repeat times this many timings, since each one is short.
OVERHEAD_CALLS = 2_000
OVERHEAD_TIMINGS_PER_REPEAT = 10

I64_MIN, I64_MAX = np.iinfo(np.int64).min, np.iinfo(np.int64).max


# --- distributions ----------------------------------------------------------

def _uniform(dtype, n, rng):
    if dtype is np.float64:
        return rng.random(n)
    return rng.integers(I64_MIN, I64_MAX, n, dtype=np.int64, endpoint=True)


def _nearly_sorted(dtype, n, rng):
    a = np.sort(_uniform(dtype, n, rng))
    swaps = max(1, n // 100)
    if n >= 2:
        pos = rng.choice(n, size=min(2 * swaps, n - n % 2), replace=False)
        i, j = pos[: len(pos) // 2], pos[len(pos) // 2:]
        a[i], a[j] = a[j], a[i]
    return a


def _runs(dtype, n, rng):
    """Eight ascending runs one after another: the merge of presorted runs."""
    a = _uniform(dtype, n, rng)
    for part in np.array_split(a, 8):
        part.sort()
    return a


def _few_unique(dtype, n, rng):
    return _uniform(dtype, 16, rng)[rng.integers(0, 16, n)]


# 2026-01-01T00:00:00Z in ns since the epoch, and a year of ns after it.
YEAR_START_NS, YEAR_NS = 1_767_225_600 * 10**9, 365 * 86_400 * 10**9


# Distribution name -> (dtype, generator(n, rng)).
DISTRIBUTIONS = {
    "uniform_f64": (np.float64, lambda n, rng: rng.random(n)),
    "normal_f64": (np.float64, lambda n, rng: rng.standard_normal(n)),
    "lognormal_f64": (np.float64, lambda n, rng: rng.lognormal(size=n)),
    "uniform_i64": (np.int64, functools.partial(_uniform, np.int64)),
    "small_range_i64": (np.int64, lambda n, rng: rng.integers(0, 1000, n, dtype=np.int64)),
    # Non-negative keys whose top digits are empty or shared: row ids, event times.
    "ids_i64": (np.int64, lambda n, rng: rng.integers(0, 2**40, n, dtype=np.int64)),
    "timestamps_i64": (np.int64, lambda n, rng: YEAR_START_NS + rng.integers(0, YEAR_NS, n, dtype=np.int64)),
}
for _suffix, _dtype in (("f64", np.float64), ("i64", np.int64)):
    DISTRIBUTIONS.update({
        f"sorted_{_suffix}": (_dtype, lambda n, rng, d=_dtype: np.sort(_uniform(d, n, rng))),
        f"reversed_{_suffix}": (_dtype, lambda n, rng, d=_dtype: np.sort(_uniform(d, n, rng))[::-1].copy()),
        f"nearly_sorted_{_suffix}": (_dtype, functools.partial(_nearly_sorted, _dtype)),
        f"runs_{_suffix}": (_dtype, functools.partial(_runs, _dtype)),
        f"few_unique_{_suffix}": (_dtype, functools.partial(_few_unique, _dtype)),
        f"all_equal_{_suffix}": (_dtype, lambda n, rng, d=_dtype: np.full(n, 42, dtype=d)),
    })

DIST_HELP = {
    "uniform_f64": "uniform in [0, 1)",
    "normal_f64": "standard normal",
    "lognormal_f64": "exp of a standard normal (one sign, skewed magnitudes)",
    "uniform_i64": "uniform over the full int64 range",
    "small_range_i64": "uniform in 0..999",
    "ids_i64": "uniform in [0, 2^40): non-negative ids",
    "timestamps_i64": "ns since the epoch, uniform within the year 2026",
    "sorted": "ascending uniform values",
    "reversed": "descending uniform values",
    "nearly_sorted": "ascending, then n/100 random pairs swapped",
    "runs": "8 ascending runs of uniform values",
    "few_unique": "16 distinct uniform values",
    "all_equal": "every element 42",
}


def make_array(dist, n, seed):
    """The array of a distribution; the same (dist, n, seed) gives the same array."""
    dtype, generate = DISTRIBUTIONS[dist]
    a = np.ascontiguousarray(generate(n, np.random.default_rng([seed, n])), dtype=dtype)
    assert a.shape == (n,)
    return a


# --- helpers ----------------------------------------------------------------

def parse_sizes(text):
    sizes = []
    for part in text.split(","):
        value = float(part.strip().replace("_", ""))
        if value < 1 or value != int(value):
            raise argparse.ArgumentTypeError(f"not an element count: {part!r}")
        sizes.append(int(value))
    return sizes


def select(patterns, names, what):
    """Names matching any comma-separated shell pattern, in the order of `names`."""
    if patterns is None:
        return list(names)
    wanted = [p.strip() for p in patterns.split(",") if p.strip()]
    for p in wanted:
        if not fnmatch.filter(names, p):
            sys.exit(f"bench.py: no {what} matches {p!r}; try --list")
    return [n for n in names if any(fnmatch.fnmatchcase(n, p) for p in wanted)]


def fmt_n(n):
    """1000000 -> '1e6', 50000000 -> '5e7', 800000 -> '8e5', 799999 -> '799_999'."""
    if n >= 1000:
        exp = int(math.log10(n))
        mant = n / 10 ** exp
        if mant == int(mant):
            return f"{int(mant)}e{exp}"
    return f"{n:_}"


def short_error(exc):
    text = str(exc).splitlines()[0] if str(exc) else ""
    return f"{type(exc).__name__}: {text}"[:80]


class Progress:
    """One status line on standard error, rewritten in place on a terminal."""

    def __init__(self, total):
        self.total, self.done, self.start = total, 0, time.perf_counter()
        self.tty = sys.stderr.isatty()

    def show(self, label):
        self.done += 1
        line = f"[{self.done}/{self.total} {time.perf_counter() - self.start:5.1f}s] {label}"
        sys.stderr.write(f"\r{line}\x1b[K" if self.tty else line + "\n")
        sys.stderr.flush()

    def close(self):
        if self.tty:
            sys.stderr.write("\r\x1b[K")
        sys.stderr.write(f"finished in {time.perf_counter() - self.start:.1f}s\n")


def load_tamarind(threads):
    if threads is not None:
        os.environ["RAYON_NUM_THREADS"] = str(threads)
    try:
        import tamarind
    except ImportError as exc:
        sys.exit(f"bench.py: cannot import tamarind ({exc}); install it with `pip install .`")
    return tamarind


class PolarsSort:
    """polars.Series.sort in place (its multi-threaded sort) on a Series made from the array
    before the clock starts; `result` hands the sorted values back as an ndarray."""

    def __init__(self):
        import polars
        self.polars = polars

    def prepare(self, a):
        return self.polars.Series(a)

    def __call__(self, s):
        s.sort(in_place=True)

    @staticmethod
    def result(s):
        return s.to_numpy()


def prepare(fn, a):
    """What fn sorts for the array a (a itself, except for other libraries' containers)."""
    return fn.prepare(a) if hasattr(fn, "prepare") else a


def as_array(fn, sorted_obj):
    return fn.result(sorted_obj) if hasattr(fn, "result") else sorted_obj


def resolve(tamarind, name):
    """The callable for a function name, or an exception explaining why there is none."""
    if name in NUMPY_FUNCS:
        return NUMPY_FUNCS[name]
    if name == "polars":
        return PolarsSort()
    fn = getattr(tamarind, name, None)
    return fn if fn is not None else AttributeError(f"tamarind has no {name}")


def sort_each(fn, arrays):
    """Sorts every array with fn: (ns taken, None), or (None, why) if fn raised."""
    if isinstance(fn, Exception):  # the function is missing from the module
        return None, short_error(fn)
    gc.disable()
    try:
        t0 = time.perf_counter_ns()
        for a in arrays:
            fn(a)
        return time.perf_counter_ns() - t0, None
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as exc:  # tamarind's PanicException derives from BaseException
        return None, short_error(exc)
    finally:
        gc.enable()


def applies(name, dtype):
    """Whether the function sorts arrays of dtype (NumPy's and other libraries' sort both)."""
    return TAMARIND_FUNCS.get(name, dtype) is dtype


def cpu_model_and_flags():
    """The CPU model and its feature flags as Linux reports them (else what platform says, and
    None for the flags)."""
    model, flags = platform.processor() or platform.machine(), None
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                key, _, value = line.partition(":")
                if key.strip() == "model name":
                    model = value.strip()
                elif key.strip() == "flags":
                    flags = set(value.split())
                    break
    except OSError:
        pass
    return model, flags


def cpu_model_and_vectors():
    """The CPU model and its vector extensions as Linux reports them (else what platform says)."""
    model, flags = cpu_model_and_flags()
    vectors = [f for f in ("sse4_2", "avx", "avx2", "avx512f", "avx512dq", "avx512vl", "avx512bw")
               if f in (flags or ())]
    return model, " ".join(vectors) or "none reported"


def numpy_avx512_targets():
    """NumPy's AVX-512 dispatch targets that this processor runs and that are still on: the
    names that make NumPy fall back to its AVX2 code when given to NPY_DISABLE_CPU_FEATURES.

    NumPy refuses to turn off its baseline, so only dispatch targets count; it names them
    AVX512F, AVX512_SKX, ... up to 1.26 and X86_V4, AVX512_ICL, ... in 2.4, and turning off
    one (X86_V4) leaves the others on, so every one of them is listed.
    """
    for name in ("numpy._core._multiarray_umath", "numpy.core._multiarray_umath"):
        try:
            core = importlib.import_module(name)
            break
        except ImportError:
            continue
    else:
        return []
    baseline = set(getattr(core, "__cpu_baseline__", ()))
    running = getattr(core, "__cpu_features__", {})
    return [t for t in getattr(core, "__cpu_dispatch__", ())
            if (t.startswith("AVX512") or t == "X86_V4") and t not in baseline and running.get(t)]


def numpy_no_avx512_env():
    """The environment changes that start NumPy with its AVX-512 targets off, or (None, why)
    where there is nothing to turn off or it cannot be done."""
    targets = numpy_avx512_targets()
    if not targets:
        return None, "this NumPy runs no AVX-512 dispatch target on this processor"
    if os.environ.get("NPY_ENABLE_CPU_FEATURES"):
        # NumPy refuses to start with both variables set.
        return None, "NPY_ENABLE_CPU_FEATURES is set"
    off = " ".join(filter(None, [os.environ.get("NPY_DISABLE_CPU_FEATURES", "").strip()] + targets))
    return {"NPY_DISABLE_CPU_FEATURES": off}, " ".join(targets)


def kernel_tables():
    """tamarind's kernel tables that this processor runs, best first: name -> the value of
    TAMARIND_DISABLE_CPU_FEATURES that selects it ("" for none, the processor's best).

    tamarind asks CPUID for avx2 and avx512f; Linux reports the same flags. Where the flags
    are unknown, every table is listed, and a table the processor lacks runs the next one down.
    """
    if platform.machine().lower() not in ("x86_64", "amd64"):
        return {"scalar": ""}
    _, flags = cpu_model_and_flags()
    best = next((name for name, flag in (("avx512", "avx512f"), ("avx2", "avx2"))
                 if flags is None or flag in flags), "scalar")
    names = list(KERNEL_TABLES)[list(KERNEL_TABLES).index(best):]
    return {name: "" if name == best else KERNEL_TABLES[name] for name in names}


def machine_info(tamarind):
    model, vectors = cpu_model_and_vectors()
    versions = {}
    for name, module in OPTIONAL_FUNCS.items():
        if name in ALL_FUNCS:
            versions[name] = getattr(__import__(module), "__version__", "?")
    return {
        "python": platform.python_version(),
        "numpy": np.__version__,
        **versions,
        "machine": platform.machine(),
        "processor": platform.processor() or platform.machine(),
        "cpu": model,
        "vectors": vectors,
        "cpus": os.cpu_count(),
        "RAYON_NUM_THREADS": os.environ.get("RAYON_NUM_THREADS"),
        "RAYON_RS_NUM_CPUS": os.environ.get("RAYON_RS_NUM_CPUS"),
        "NPY_DISABLE_CPU_FEATURES": os.environ.get("NPY_DISABLE_CPU_FEATURES"),
        "TAMARIND_DISABLE_CPU_FEATURES": os.environ.get("TAMARIND_DISABLE_CPU_FEATURES"),
        "numpy_avx512_targets": " ".join(numpy_avx512_targets()) or None,
        "tamarind": getattr(tamarind, "__file__", "?"),
    }


# --- child processes under other settings -----------------------------------

class Worker:
    """bench.py in a child process with some environment variables changed (NumPy's or
    tamarind's CPU features), sorting one batch per request, so that its runs take turns with
    the parent's. It makes each array from the same distribution, size and seed as the parent.

    Only the parent's main thread calls its methods. A child that dies or misbehaves answers
    every later request with the reason.
    """

    def __init__(self, env_changes, seed):
        env = dict(os.environ)
        for key, value in env_changes.items():
            if value:
                env[key] = value
            else:
                env.pop(key, None)
        # A file, not a pipe, so that a child writing much to standard error never blocks.
        self.stderr = tempfile.TemporaryFile(mode="w+")
        self.failed = None
        self.proc = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "--worker", "--seed", str(seed)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.stderr,
            text=True, bufsize=1, env=env)
        self.hello = self._reply()

    def fail(self, why):
        self.failed = why[:80]

    def _reply(self):
        line = self.proc.stdout.readline()
        try:
            return json.loads(line)
        except ValueError:
            pass
        if line:
            self.fail(f"child said {line.strip()!r}")
            return None
        self.proc.wait()
        self.stderr.seek(0)
        last = (self.stderr.read().strip().splitlines() or ["no output"])[-1]
        self.fail(f"child exit {self.proc.returncode}: {last}")
        return None

    def sort_batch(self, func, dist, n, batch):
        """As time_batch, in the child: (ns per sort, None) or (None, why)."""
        if self.failed:
            return None, self.failed
        try:
            self.proc.stdin.write(json.dumps({"func": func, "dist": dist, "n": n, "batch": batch}) + "\n")
            self.proc.stdin.flush()
        except OSError:
            pass  # the child has gone; its reply is the end of its output
        reply = self._reply()
        return (None, self.failed) if reply is None else (reply["ns"], reply["error"])

    def close(self):
        try:
            self.proc.stdin.close()
        except OSError:
            pass
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.stderr.close()


class RemoteSort:
    """A function that time_case has a Worker time in its process."""

    def __init__(self, worker, func):
        self.worker, self.func = worker, func


def worker_main(seed):
    """The child's side of Worker: a first line with the AVX-512 targets NumPy still runs, then
    one JSON line per request read from standard input, until it closes."""
    print(json.dumps({"numpy_avx512_targets": numpy_avx512_targets()}), flush=True)
    tamarind, case = None, None
    for line in sys.stdin:
        request = json.loads(line)
        key = (request["dist"], request["n"])
        if case is None or case[0] != key:
            case = None  # let the last case's arrays go first
            base = make_array(*key, seed)
            case = (key, base, np.sort(base))
        if request["func"] not in NUMPY_FUNCS and tamarind is None:
            tamarind = load_tamarind(None)  # the parent's environment holds its --threads
        ns, error = time_batch(resolve(tamarind, request["func"]), case[1], case[2], request["batch"])
        print(json.dumps({"ns": ns, "error": error}), flush=True)


# --- main table -------------------------------------------------------------

def time_batch(fn, base, expected, batch):
    """Sorts `batch` fresh copies of base with fn: (ns per sort, None), or (None, why) if fn
    raised or left anything but `expected`."""
    copies = [prepare(fn, base.copy()) for _ in range(batch)]
    elapsed, error = sort_each(fn, copies)
    if error:  # a path not built yet, or a panic: report it, keep going
        return None, error
    if not all(np.array_equal(as_array(fn, a), expected) for a in copies):
        return None, "wrong result"
    return elapsed / batch, None


def time_case(dist, n, names, fns, repeat, seed):
    """Median ns per sort for each function on one distribution and size.

    Functions take turns within each repeat, so slow drift of the machine
    (frequency, other load) spreads over all of them alike; a function of a
    child process (RemoteSort) takes its turn there, on the same array.
    """
    base = make_array(dist, n, seed)
    expected = np.sort(base)
    batch = max(1, -(-BATCH_ELEMENTS // max(n, 1)))
    samples = {name: [] for name in names}
    failed = {}
    for _ in range(repeat):
        for name in names:
            if name in failed:
                continue
            fn = fns[name]
            if isinstance(fn, RemoteSort):
                ns, error = fn.worker.sort_batch(fn.func, dist, n, batch)
            else:
                ns, error = time_batch(fn, base, expected, batch)
            if error:
                failed[name] = error
            else:
                samples[name].append(ns)
    return {name: (None, failed[name]) if name in failed
            else (float(np.median(samples[name])), "") for name in names}


def reference(timed, refs):
    """The faster of the NumPy timings `refs` in a time_case result: (name, ns), or (None, None)."""
    ok = [(timed[name][0], name) for name in refs if timed[name][0] is not None]
    return (min(ok)[1], min(ok)[0]) if ok else (None, None)


def start_numpy_worker(args):
    """The Worker that times NumPy with its AVX-512 targets off, and the targets' names; or
    (None, why there is none)."""
    if args.numpy_as_installed:
        return None, "--numpy-as-installed"
    env, targets = numpy_no_avx512_env()
    if env is None:
        return None, targets
    worker = Worker(env, args.seed)
    left_on = (worker.hello or {}).get("numpy_avx512_targets")
    if left_on:
        worker.fail(f"NumPy kept {' '.join(left_on)} on")
    return worker, targets


def run_table(args, tamarind):
    dists = select(args.dist, list(DISTRIBUTIONS), "distribution")
    worker, targets = start_numpy_worker(args)
    refs = ["numpy"] + ([NUMPY_NO_AVX512] if worker else [])
    names = select(args.funcs, refs + ALL_FUNCS[1:], "function")
    if "numpy" in names and worker:  # one NumPy row means little without the other
        names = list(dict.fromkeys(names[:names.index("numpy") + 1] + refs + names))
    fns = {name: resolve(tamarind, name) for name in names if name != NUMPY_NO_AVX512}
    # NumPy's default sort is the yardstick, so time it even when filtered out.
    fns["numpy"] = NUMPY_FUNCS["numpy"]
    if worker:
        fns[NUMPY_NO_AVX512] = RemoteSort(worker, "numpy")
    cases = [(d, n) for d in dists for n in args.sizes
             if any(applies(f, DISTRIBUTIONS[d][0]) for f in names)]
    progress = Progress(len(cases))
    results = []
    try:
        for dist, n in cases:
            progress.show(f"{dist} n={fmt_n(n)}")
            dtype = DISTRIBUTIONS[dist][0]
            case_names = [f for f in names if applies(f, dtype)]
            timed = time_case(dist, n, list(dict.fromkeys(refs + case_names)), fns,
                              args.repeat, seed=args.seed)
            ref_name, ref = reference(timed, refs)
            for name in case_names:
                ns, note = timed[name]
                results.append({
                    "dist": dist, "n": n, "func": name, "ns": ns,
                    "ns_per_elem": None if ns is None else ns / max(n, 1),
                    "ratio": None if ns is None or ref is None else ref / ns,
                    "ref": ref_name, "note": note,
                })
    finally:
        if worker:
            worker.close()
    progress.close()
    print_table(results, args.repeat, worker is not None, targets)
    return results, worker is not None


def print_yardstick(both, targets, per):
    """Says what `vs numpy` divides: the faster of NumPy as installed and NumPy with `targets`
    off, or where there is only one (`both` false), NumPy as installed and why."""
    if not both:
        print(f"vs numpy = NumPy ndarray.sort() time / function time {per}")
        print(f"  NumPy as installed only: {targets}")
        return
    print(f"vs numpy = time of the faster NumPy ndarray.sort() on the row / function time {per}")
    print(f"  NumPy as installed is 'numpy'; '{NUMPY_NO_AVX512}' is NumPy with its AVX-512 targets")
    print(f"  {targets} off, in a child process sorting the same arrays in turn")


def print_table(results, repeat, both, targets):
    print(f"\nMedian of {repeat} runs, fresh copy per run. ns/elem: time per element.")
    print_yardstick(both, targets, "(higher is better; >1 is faster than NumPy)")
    print()
    header = f"{'distribution':<20} {'n':>8}  {'function':<15} {'ns/elem':>9} {'vs numpy':>9}  note"
    print(header)
    print("-" * len(header))
    previous = None
    for r in results:
        key = (r["dist"], r["n"])
        if previous is not None and key != previous:
            print()
        first = key != previous
        previous = key
        ns = "n/a" if r["ns_per_elem"] is None else f"{r['ns_per_elem']:.2f}"
        ratio = "n/a" if r["ratio"] is None else f"{r['ratio']:.2f}"
        dist, n = (r["dist"], fmt_n(r["n"])) if first else ("", "")
        print(f"{dist:<20} {n:>8}  {r['func']:<15} {ns:>9} {ratio:>9}  {r['note']}".rstrip())
    print_summary(results, both)


def print_summary(results, both):
    # Against itself NumPy as installed is always 1; beside its AVX-512-off run it is not.
    by_func = {}
    for r in results:
        if r["ratio"] is not None and (both or r["func"] != "numpy"):
            by_func.setdefault(r["func"], []).append(r["ratio"])
    if both:
        print_faster_numpy(results)
    if not by_func:
        return
    print("\nGeometric mean of vs numpy over the rows above (higher is better):")
    for name, ratios in by_func.items():
        print(f"  {name:<15} {geometric_mean(ratios):6.2f}  over {len(ratios)} rows")


def print_faster_numpy(results):
    refs = {(r["dist"], r["n"]): r["ref"] for r in results if r["ref"]}
    installed = sum(ref == "numpy" for ref in refs.values())
    print(f"\nThe faster NumPy: as installed in {installed} of {len(refs)} cases, "
          f"AVX-512 targets off in {len(refs) - installed}.")


def geometric_mean(values):
    return math.exp(sum(math.log(x) for x in values) / len(values))


# --- kernel tables side by side ---------------------------------------------

def run_tables(args, tamarind):
    """tamarind's functions under each kernel table this processor runs, one child process per
    table, taking turns on the same arrays with NumPy timed here (and in its own child)."""
    dists = select(args.dist, list(DISTRIBUTIONS), "distribution")
    funcs = select(args.funcs, list(TAMARIND_FUNCS), "tamarind function")
    tables = kernel_tables()
    numpy_worker, targets = start_numpy_worker(args)
    refs = ["numpy"] + ([NUMPY_NO_AVX512] if numpy_worker else [])
    workers = {table: Worker({"TAMARIND_DISABLE_CPU_FEATURES": value}, args.seed)
               for table, value in tables.items()}
    fns = {"numpy": NUMPY_FUNCS["numpy"]}
    if numpy_worker:
        fns[NUMPY_NO_AVX512] = RemoteSort(numpy_worker, "numpy")
    for table, worker in workers.items():
        fns.update({f"{f}@{table}": RemoteSort(worker, f) for f in funcs})
    cases = [(d, n) for d in dists for n in args.sizes
             if any(TAMARIND_FUNCS[f] is DISTRIBUTIONS[d][0] for f in funcs)]
    progress = Progress(len(cases))
    results = []
    try:
        for dist, n in cases:
            progress.show(f"{dist} n={fmt_n(n)}")
            case_funcs = [f for f in funcs if TAMARIND_FUNCS[f] is DISTRIBUTIONS[dist][0]]
            keys = refs + [f"{f}@{t}" for f in case_funcs for t in tables]
            timed = time_case(dist, n, keys, fns, args.repeat, seed=args.seed)
            ref_name, ref = reference(timed, refs)
            for key in keys:
                func, _, table = key.partition("@")
                ns, note = timed[key]
                results.append({
                    "dist": dist, "n": n, "func": func, "table": table or None, "ns": ns,
                    "ns_per_elem": None if ns is None else ns / max(n, 1),
                    "ratio": None if ns is None or ref is None else ref / ns,
                    "ref": ref_name, "note": note,
                })
    finally:
        for worker in [numpy_worker, *workers.values()]:
            if worker:
                worker.close()
    progress.close()
    print_tables(results, tables, args.repeat, numpy_worker is not None, targets)
    return results


def print_tables(results, tables, repeat, both, targets):
    model, vectors = cpu_model_and_vectors()
    print(f"\nKernel tables on {model} ({vectors}), one child process each:")
    for table, value in tables.items():
        setting = f'="{value}"' if value else " unset (the processor's best)"
        print(f"  {table:<7} TAMARIND_DISABLE_CPU_FEATURES{setting}")
    print(f"Median of {repeat} runs, fresh copy per run. ns/elem: time per element.")
    print_yardstick(both, targets, "(higher is better)")
    print("fastest = the table with the least time on the row\n")
    names = list(tables)
    print(f"{'':<46} {'ns/elem':<{8 + 8 * len(names)}}   vs numpy")
    header = (f"{'distribution':<20} {'n':>8}  {'function':<15} {'numpy':>8}"
              + "".join(f" {t:>7}" for t in names) + "  "
              + "".join(f" {t:>7}" for t in names) + "  fastest  note")
    print(header)
    print("-" * len(header))
    rows = {}  # (dist, n, func) -> {table or None: result}, in the order timed
    for r in results:
        rows.setdefault((r["dist"], r["n"], r["func"]), {})[r["table"]] = r
    previous = None
    for (dist, n, func), by_table in rows.items():
        if previous is not None and (dist, n) != previous:
            print()
        label = (dist, fmt_n(n)) if (dist, n) != previous else ("", "")
        previous = (dist, n)
        cell = lambda value, form: f" {'n/a' if value is None else format(value, form):>7}"
        if None in by_table:  # a NumPy row: its time, in the numpy column
            r = by_table[None]
            ns = "n/a" if r["ns_per_elem"] is None else f"{r['ns_per_elem']:.2f}"
            print(f"{label[0]:<20} {label[1]:>8}  {func:<15} {ns:>8}  {r['note']}".rstrip())
            continue
        timed = [by_table[t] for t in names]
        ok = [r for r in timed if r["ns"] is not None]
        fastest = min(ok, key=lambda r: r["ns"])["table"] if ok else ""
        note = "; ".join(f"{r['table']}: {r['note']}" for r in timed if r["note"])
        print(f"{label[0]:<20} {label[1]:>8}  {func:<15} {'':>8}"
              + "".join(cell(r["ns_per_elem"], ".2f") for r in timed) + "  "
              + "".join(cell(r["ratio"], ".2f") for r in timed)
              + f"  {fastest:<7}  {note}".rstrip())

    if both:
        print_faster_numpy(results)
    print("\nGeometric mean of vs numpy over the rows above, per table (higher is better):")
    print(f"  {'function':<15}" + "".join(f" {t:>7}" for t in names))
    for func in dict.fromkeys(r["func"] for r in results if r["table"]):
        means = []
        for t in names:
            ratios = [r["ratio"] for r in results
                      if r["func"] == func and r["table"] == t and r["ratio"] is not None]
            means.append(f" {geometric_mean(ratios):>7.2f}" if ratios else f" {'n/a':>7}")
        print(f"  {func:<15}" + "".join(means))


def plot(results, path, both):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import matplotlib.ticker

    dists = list(dict.fromkeys(r["dist"] for r in results))
    cols = min(4, len(dists))
    rows = -(-len(dists) // cols)
    fig, axes = plt.subplots(rows, cols, figsize=(4 * cols, 3.2 * rows), squeeze=False)
    # One colour per function family, so sort_f64 and sort_i64 look alike across panels.
    families = ["numpy_stable", "sort", "sort_st", "rayon_sort", "polars"]
    family = lambda name: name.replace("_f64", "").replace("_i64", "")
    label = {"numpy_stable": "numpy_stable", "sort": "sort_*64",
             "sort_st": "sort_*64_st", "rayon_sort": "rayon_sort_*64", "polars": "polars"}
    handles = {}
    for ax, dist in zip(axes.flat, dists):
        for name in ALL_FUNCS[1:]:  # NumPy's own rows are the yardstick, not drawn
            points = [(r["n"], r["ratio"]) for r in results
                      if r["dist"] == dist and r["func"] == name and r["ratio"] is not None]
            if points:
                fam = family(name)
                (line,) = ax.plot(*zip(*points), marker="o", color=f"C{families.index(fam)}")
                handles[label[fam]] = line
        ax.axhline(1.0, color="grey", linestyle="--", linewidth=1)
        ax.set_xscale("log")
        sizes = sorted({r["n"] for r in results if r["dist"] == dist})
        ax.set_xticks(sizes, [fmt_n(n) for n in sizes])
        ax.xaxis.set_minor_locator(matplotlib.ticker.NullLocator())
        ax.set_yscale("log", base=2)
        low, high = ax.get_ylim()
        ax.set_ylim(min(low, 0.5), max(high, 2.0))
        ax.yaxis.set_major_formatter(matplotlib.ticker.FormatStrFormatter("%.3g"))
        ax.yaxis.set_minor_locator(matplotlib.ticker.NullLocator())
        ax.set_title(dist, fontsize=10)
        ax.set_xlabel("elements")
        ax.set_ylabel("NumPy time / time")
    for ax in axes.flat[len(dists):]:
        ax.set_visible(False)
    fig.suptitle("Speed relative to NumPy ndarray.sort() "
                 + ("(the faster of as installed and AVX-512 off; " if both else "(") + "higher is better)")
    shown = [label[f] for f in families if label[f] in handles]
    fig.legend([handles[k] for k in shown], shown, loc="lower center", ncol=len(shown))
    fig.tight_layout(rect=(0, 0.06, 1, 0.96))
    fig.savefig(path, dpi=110)
    print(f"\nplot written to {path}", file=sys.stderr)


# --- per-call overhead ------------------------------------------------------

def run_overhead(args, tamarind):
    """ns per call on tiny arrays, many calls per timing, each on a fresh array."""
    names = select(args.funcs, ALL_FUNCS, "function")
    fns = {name: resolve(tamarind, name) for name in names}
    fns["numpy"] = NUMPY_FUNCS["numpy"]
    dists = {np.float64: "uniform_f64", np.int64: "uniform_i64"}
    progress = Progress(len(OVERHEAD_SIZES) * len(dists))
    results = []
    for n in OVERHEAD_SIZES:
        for dtype, dist in dists.items():
            progress.show(f"overhead {dist} n={n}")
            base = make_array(dist, n, args.seed)
            order = list(dict.fromkeys(["numpy"] + [f for f in names if applies(f, dtype)]))
            samples = {name: [] for name in order}
            failed = {}
            for _ in range(args.repeat * OVERHEAD_TIMINGS_PER_REPEAT):
                for name in order:
                    if name in failed:
                        continue
                    arrays = [prepare(fns[name], base.copy()) for _ in range(OVERHEAD_CALLS)]
                    elapsed, error = sort_each(fns[name], arrays)
                    if error:
                        failed[name] = error
                    else:
                        samples[name].append(elapsed / OVERHEAD_CALLS)
            ref = float(np.median(samples["numpy"])) if samples["numpy"] else None
            for name in order:
                if name == "numpy" and "numpy" not in names:
                    continue
                ns = None if name in failed else float(np.median(samples[name]))
                results.append({"dist": dist, "n": n, "func": name, "ns_per_call": ns,
                                 "ratio": None if ns is None or ref is None else ref / ns,
                                 "note": failed.get(name, "")})
    progress.close()
    print(f"\nPer-call cost on tiny arrays: median of {args.repeat * OVERHEAD_TIMINGS_PER_REPEAT} timings of "
          f"{OVERHEAD_CALLS} calls, each on a fresh array.")
    print("vs numpy = NumPy ndarray.sort() ns/call (NumPy as installed) / function ns/call "
          "(higher is better; 0.67 means 1.5x NumPy's cost)\n")
    header = f"{'n':>3}  {'dtype':<5} {'function':<15} {'ns/call':>9} {'vs numpy':>9}  note"
    print(header)
    print("-" * len(header))
    for r in results:
        ns = "n/a" if r["ns_per_call"] is None else f"{r['ns_per_call']:.0f}"
        ratio = "n/a" if r["ratio"] is None else f"{r['ratio']:.2f}"
        print(f"{r['n']:>3}  {r['dist'][-3:]:<5} {r['func']:<15} {ns:>9} {ratio:>9}  {r['note']}".rstrip())
    return results


# --- pool cost and idle CPU -------------------------------------------------

def median_ns(fn, base, repeat):
    """(median ns of fn on fresh copies of base, None), or (None, why) if fn raised."""
    times = []
    for _ in range(repeat):
        elapsed, error = sort_each(fn, [base.copy()])
        if error:
            return None, error
        times.append(elapsed)
    return float(np.median(times)), None


def run_pool(args, tamarind):
    """Estimate what the per-call dedicated pool costs, and whether idle pools sleep.

    At the radix-path thresholds sort_f64 / sort_i64 build a pool for the call.
    On sorted input the sort itself is one scan, so the gap between the
    multi-threaded and the single-threaded function on sorted input is mostly
    building and dropping that pool.
    """
    rows = []
    for dtype, suffix, n in ((np.float64, "f64", 800_000), (np.int64, "i64", 10_000_000)):
        mt, st = resolve(tamarind, f"sort_{suffix}"), resolve(tamarind, f"sort_{suffix}_st")
        sorted_a = make_array(f"sorted_{suffix}", n, args.seed)
        random_a = make_array(f"uniform_{suffix}", n, args.seed)
        print(f"pool cost sort_{suffix} n={fmt_n(n)}", file=sys.stderr)
        (t_mt_sorted, e1), (t_st_sorted, e2), (t_mt_random, e3) = (
            median_ns(mt, sorted_a, args.repeat), median_ns(st, sorted_a, args.repeat),
            median_ns(mt, random_a, args.repeat))
        if e1 or e2 or e3:
            rows.append({"func": f"sort_{suffix}", "n": n, "note": e1 or e2 or e3})
            continue
        pool = t_mt_sorted - t_st_sorted
        rows.append({"func": f"sort_{suffix}", "n": n, "sorted_mt_ms": t_mt_sorted / 1e6,
                     "sorted_st_ms": t_st_sorted / 1e6, "pool_ms": pool / 1e6,
                     "random_mt_ms": t_mt_random / 1e6, "share": pool / t_mt_random, "note": ""})

    print("\nPer-call pool cost: (multi-threaded - single-threaded) time on sorted input,")
    print("and its share of the multi-threaded time on uniform input (lower is better)\n")
    print(f"{'function':<10} {'n':>5} {'sorted mt ms':>13} {'sorted st ms':>13} "
          f"{'pool ms':>8} {'uniform mt ms':>14} {'share':>6}")
    for r in rows:
        if r["note"]:
            print(f"{r['func']:<10} {fmt_n(r['n']):>5}  n/a  {r['note']}")
        else:
            print(f"{r['func']:<10} {fmt_n(r['n']):>5} {r['sorted_mt_ms']:>13.3f} {r['sorted_st_ms']:>13.3f} "
                  f"{r['pool_ms']:>8.3f} {r['random_mt_ms']:>14.3f} {r['share']:>6.1%}")

    # Idle pools must sleep: CPU time burnt by the process over one idle second.
    print("\nCPU time of the whole process during 1 s of sleep right after a sort (lower is better)\n")
    idle = []
    for name, dist, n in (("rayon_sort_f64", "uniform_f64", 1_000_000),
                          ("sort_f64", "uniform_f64", 800_000)):
        print(f"idle CPU after {name}", file=sys.stderr)
        _, error = sort_each(resolve(tamarind, name), [make_array(dist, n, args.seed)])
        if error:
            idle.append({"func": name, "n": n, "cpu_ms": None, "note": error})
            print(f"  after {name}(n={fmt_n(n)}): n/a  {error}")
            continue
        cpu0 = time.process_time()
        time.sleep(1.0)
        cpu_ms = (time.process_time() - cpu0) * 1e3
        idle.append({"func": name, "n": n, "cpu_ms": cpu_ms, "note": ""})
        print(f"  after {name}(n={fmt_n(n)}): {cpu_ms:.1f} ms CPU over 1 s idle")
    return {"pool": rows, "idle": idle}


# --- latency beside busy processes ------------------------------------------

# The --latency aims, at 10^3 to 10^5 elements: the busy round's p90 and p99 as multiples of
# the quiet median; rows past them are flagged.
LATENCY_AIM_MAX_N = 100_000
LATENCY_AIM_P90, LATENCY_AIM_P99 = 1.5, 3.0


def latency_round(fns, bases, calls):
    """ns per element of each call, per (function, n): every call on a fresh copy, the
    functions in turn so that each meets the same conditions."""
    samples = {key: [] for key in fns}
    for _ in range(calls):
        for (name, n), fn in fns.items():
            a = bases[n, TAMARIND_FUNCS.get(name, np.float64)].copy()
            start = time.perf_counter_ns()
            fn(a)
            samples[name, n].append((time.perf_counter_ns() - start) / n)
    return samples


def run_latency(args, tamarind):
    """Per-call latency, quiet and beside --busy spinning processes."""
    names = select(args.funcs, list(TAMARIND_FUNCS) + ["numpy"], "function")
    bases = {(n, dtype): make_array(f"uniform_{'f64' if dtype is np.float64 else 'i64'}", n, args.seed)
             for n in args.sizes for dtype in (np.float64, np.int64)}
    rows = []
    for n in args.sizes:
        fns = {}
        for name in names:
            fn = NUMPY_FUNCS["numpy"] if name == "numpy" else resolve(tamarind, name)
            fns[name, n] = fn
        for (name, _), fn in fns.items():  # warm: the global pool, the kernel table, NumPy's dispatch
            fn(bases[n, TAMARIND_FUNCS.get(name, np.float64)].copy())
        print(f"latency n={fmt_n(n)}: quiet", file=sys.stderr)
        quiet = latency_round(fns, bases, args.calls)
        print(f"latency n={fmt_n(n)}: beside {args.busy} busy", file=sys.stderr)
        spinners = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(args.busy)]
        try:
            time.sleep(0.2)  # let them take their processors
            busy = latency_round(fns, bases, args.calls)
        finally:
            for p in spinners:
                p.kill()
                p.wait()
        for name, _ in fns:
            q = np.asarray(quiet[name, n])
            b = np.asarray(busy[name, n])
            med = float(np.median(q))
            rows.append({"func": name, "n": n, "quiet_median": med,
                         "quiet_p90": float(np.percentile(q, 90)) / med, "quiet_p99": float(np.percentile(q, 99)) / med,
                         "busy_median": float(np.median(b)) / med,
                         "busy_p90": float(np.percentile(b, 90)) / med, "busy_p99": float(np.percentile(b, 99)) / med})
    print(f"\nLatency: {args.calls} calls per function and size on fresh copies of uniform data, quiet and "
          f"beside {args.busy} spinning process(es).")
    print("quiet median in ns per element; the other columns are multiples of that quiet median "
          f"(* past the aims at n <= {fmt_n(LATENCY_AIM_MAX_N)}: busy p90 {LATENCY_AIM_P90}, busy p99 {LATENCY_AIM_P99})\n")
    header = (f"{'n':>5} {'function':<15} {'quiet med':>9} {'q p90':>6} {'q p99':>6} "
              f"{'busy med':>8} {'b p90':>6} {'b p99':>6}")
    print(header)
    print("-" * len(header))
    for r in rows:
        flag = r["n"] <= LATENCY_AIM_MAX_N and (r["busy_p90"] > LATENCY_AIM_P90 or r["busy_p99"] > LATENCY_AIM_P99)
        print(f"{fmt_n(r['n']):>5} {r['func']:<15} {r['quiet_median']:>9.2f} {r['quiet_p90']:>6.2f} "
              f"{r['quiet_p99']:>6.2f} {r['busy_median']:>8.2f} {r['busy_p90']:>6.2f} {r['busy_p99']:>6.2f}"
              f"{'  *' if flag else ''}")
    return rows


# --- peak memory ------------------------------------------------------------

def _proc_status_kib(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise RuntimeError(f"{field} not in /proc/self/status")


def memory_child(func, dist, n, seed, threads):
    """Runs in its own process: peak resident memory added by one sort."""
    tamarind = load_tamarind(threads)
    fn = resolve(tamarind, func)
    a = prepare(fn, make_array(dist, n, seed))
    gc.collect()
    rss_before = _proc_status_kib("VmRSS")
    result = {"func": func, "dist": dist, "n": n, "array_kib": n * 8 // 1024}
    try:
        # Resets the peak (VmHWM) to the current size, so generation temporaries don't count.
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
    except OSError as exc:
        result.update(extra_kib=None, note=f"cannot reset the peak: {short_error(exc)}")
    else:
        _, error = sort_each(fn, [a])
        extra = None if error else _proc_status_kib("VmHWM") - rss_before
        result.update(extra_kib=extra, note=error or "")
    print(json.dumps(result))


def run_memory(args, tamarind):
    # The default covers both scratch-memory paths: the merge of runs, and sort_i64_st on
    # small non-negative values.
    default = "uniform_f64,runs_f64,uniform_i64,small_range_i64,runs_i64"
    dists = select(args.dist or default, list(DISTRIBUTIONS), "distribution")
    names = select(args.funcs, ALL_FUNCS, "function")
    cases = [(d, n, f) for d in dists for n in args.sizes for f in names
             if applies(f, DISTRIBUTIONS[d][0])]
    progress = Progress(len(cases))
    results = []
    for dist, n, func in cases:
        progress.show(f"memory {func} {dist} n={fmt_n(n)}")
        cmd = [sys.executable, os.path.abspath(__file__), "--memory-child", func, dist, str(n),
               "--seed", str(args.seed)]
        if args.threads is not None:
            cmd += ["--threads", str(args.threads)]
        out = subprocess.run(cmd, capture_output=True, text=True)
        try:
            results.append(json.loads(out.stdout.strip().splitlines()[-1]))
        except (IndexError, ValueError):
            reason = (out.stderr.strip().splitlines() or ["no output"])[-1][:60]
            results.append({"func": func, "dist": dist, "n": n, "array_kib": n * 8 // 1024,
                            "extra_kib": None, "note": f"exit {out.returncode}: {reason}"})
    progress.close()
    print("\nPeak resident memory added by one sort, in its own process (lower is better)\n")
    header = f"{'distribution':<16} {'n':>5}  {'function':<15} {'array MiB':>10} {'extra MiB':>10} {'extra/array':>12}  note"
    print(header)
    print("-" * len(header))
    for r in results:
        extra = r["extra_kib"]
        cols = ("n/a", "n/a") if extra is None else (f"{extra / 1024:.1f}", f"{extra / r['array_kib']:.3f}")
        print(f"{r['dist']:<16} {fmt_n(r['n']):>5}  {r['func']:<15} {r['array_kib'] / 1024:>10.1f} "
              f"{cols[0]:>10} {cols[1]:>12}  {r['note']}".rstrip())
    return results


# --- entry point ------------------------------------------------------------

def main(argv=None):
    parser = argparse.ArgumentParser(
        description="Time tamarind's sorts against NumPy's ndarray.sort() (see the module docstring).")
    parser.add_argument("--preset", choices=PRESETS, help="a named set of sizes, distributions and runs")
    parser.add_argument("--sizes", type=parse_sizes, help=f"element counts (default {DEFAULT_SIZES})")
    parser.add_argument("--dist", help="distributions, comma-separated shell patterns")
    parser.add_argument("--funcs", help="functions, comma-separated shell patterns")
    parser.add_argument("--repeat", type=int, help=f"runs per timing (default {DEFAULT_REPEAT})")
    parser.add_argument("--seed", type=int, default=12345, help="array generator seed")
    parser.add_argument("--threads", type=int, help="set RAYON_NUM_THREADS before loading tamarind")
    parser.add_argument("--plot", metavar="FILE.png", help="draw the ratios (matplotlib)")
    parser.add_argument("--json", metavar="FILE", help="write the results as JSON")
    mode = parser.add_mutually_exclusive_group()
    mode.add_argument("--overhead", action="store_true", help="ns per call at n = 1, 16, 64")
    mode.add_argument("--pool", action="store_true", help="per-call pool cost and idle CPU")
    mode.add_argument("--memory", action="store_true", help="peak resident memory per sort")
    mode.add_argument("--tables", action="store_true", help="tamarind under each kernel table, side by side")
    mode.add_argument("--list", action="store_true", help="list distributions and functions")
    mode.add_argument("--latency", action="store_true", help="median, p90, p99 per call, quiet and beside busy processes")
    mode.add_argument("--memory-child", nargs=3, metavar=("FUNC", "DIST", "N"), help=argparse.SUPPRESS)
    mode.add_argument("--worker", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("--busy", type=int, default=1, help="spinning processes beside --latency (default 1)")
    parser.add_argument("--calls", type=int, default=300, help="calls per function and size in --latency")
    parser.add_argument("--numpy-as-installed", action="store_true",
                        help="no child process timing NumPy with its AVX-512 targets off")
    args = parser.parse_args(argv)
    preset = PRESETS.get(args.preset, {})
    if args.sizes is None and "sizes" in preset:
        args.sizes = parse_sizes(preset["sizes"])
    args.dist = args.dist or preset.get("dist")
    if args.repeat is None:
        args.repeat = preset.get("repeat", DEFAULT_REPEAT)
    if args.repeat < 1:
        parser.error("--repeat must be at least 1")
    if args.plot and importlib.util.find_spec("matplotlib") is None:
        parser.error("--plot needs matplotlib: pip install matplotlib (or pip install .[bench])")
    if args.calls < 1 or args.busy < 0:
        parser.error("--calls must be at least 1 and --busy at least 0")
    if args.plot and (args.overhead or args.pool or args.memory or args.tables or args.latency):
        parser.error("--plot draws the main table only")

    if args.memory_child:
        func, dist, n = args.memory_child
        memory_child(func, dist, int(n), args.seed, args.threads)
        return
    if args.worker:
        worker_main(args.seed)
        return
    if args.list:
        for name, (dtype, _) in DISTRIBUTIONS.items():
            kind = name.rsplit("_", 1)[0]
            print(f"{name:<20} {DIST_HELP.get(name, DIST_HELP.get(kind, ''))}")
        print("\nfunctions: " + ", ".join(ALL_FUNCS))
        env, targets = numpy_no_avx512_env()
        print(f"{NUMPY_NO_AVX512}: " + (f"numpy with {targets} off, timed beside it" if env
                                        else f"none here ({targets})"))
        print("kernel tables (--tables): " + ", ".join(kernel_tables()))
        for name, preset in PRESETS.items():
            print(f"preset {name}: --sizes {preset['sizes']} --dist '{preset['dist']}' --repeat {preset['repeat']}")
        return
    if args.sizes is None:
        args.sizes = parse_sizes(MEMORY_SIZES if args.memory else DEFAULT_SIZES)

    tamarind = load_tamarind(args.threads)
    info = machine_info(tamarind)
    print("  ".join(f"{k}={v}" for k, v in info.items() if v is not None))
    if args.overhead:
        output = {"overhead": run_overhead(args, tamarind)}
    elif args.pool:
        output = run_pool(args, tamarind)
    elif args.latency:
        output = {"latency": run_latency(args, tamarind)}
    elif args.memory:
        output = {"memory": run_memory(args, tamarind)}
    elif args.tables:
        output = {"tables": kernel_tables(), "results": run_tables(args, tamarind)}
    else:
        results, both = run_table(args, tamarind)
        output = {"results": results}
        if args.plot:
            plot(results, args.plot, both)
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"machine": info, "repeat": args.repeat, **output}, f, indent=1)


if __name__ == "__main__":
    main()
