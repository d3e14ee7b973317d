#!/usr/bin/env python3
"""Benchmark ``tamarind_dask.sort`` on a local Dask cluster against ``dask.dataframe``.

For each size and dtype, on a fresh ``LocalCluster`` (loopback, ``--workers`` worker
processes of one thread each) per method:

* ``tamarind_dask``: ``tamarind_dask.sort(x).persist()`` on a dask array already held by
  the workers (uniform float64 in [0, 1), or int64 over the whole range; ``--chunk-mb``
  per chunk).
* ``sort_values``: the same array as a one-column ``dask.dataframe``, already persisted,
  and ``df.sort_values("v").persist()``.

Then, in this process and with no cluster running, where three copies of the array fit
in available memory: ``np.sort`` (``ndarray.sort()``) and tamarind's own
``sort_f64``/``sort_i64`` on the whole array (NumPy's generator, same distribution).

Times are wall-clock seconds from submitting the sort to its result being held in
worker memory; the data's generation and the dataframe conversion are not timed. Peak
worker memory is the largest resident set any worker reached (sampled every 20 ms from
the cluster's start, so it includes the input), and the sum over workers; "spilled" is
the most any worker held on disk at once; "worker cpu" is the user and system CPU time
the worker processes spent over the timed sort, summed over workers (of the run of median
time), which shows how much of the wall time was work and how much of it memory and
transfers (system time: page faults on fresh memory, the network's copies). Every result is checked: sorted across chunk
boundaries and the same length (and, for int64, the same sum modulo 2**64).

Usage (needs ``pip install .[dask] 'dask[dataframe]'``)::

    python benchmarks/bench_dask.py                          # 1e8, float64 and int64
    python benchmarks/bench_dask.py --sizes 1e9 --memory-limit 6GiB --methods tamarind_dask
    python benchmarks/bench_dask.py --sizes 1e6 --json out.json
    python benchmarks/bench_dask.py --repeat 3 --methods tamarind_dask,tamarind_whole

Progress goes to standard error, the table to standard output.
"""

import argparse
import gc
import json
import logging
import os
import platform
import statistics
import sys
import threading
import time

import numpy as np
import psutil

import dask
import dask.array as da
import distributed

import tamarind
import tamarind_dask

METHODS = ["tamarind_dask", "sort_values", "np_sort", "tamarind_whole"]


def log(*args):
    print(*args, file=sys.stderr, flush=True)


def _start_sampler(dask_worker):
    """Track this worker's peak resident memory and bytes spilled to disk."""
    proc, peak = psutil.Process(), {"rss": 0, "spilled": 0}

    def run():
        while not peak.get("stop"):
            peak["rss"] = max(peak["rss"], proc.memory_info().rss)
            spilled = getattr(dask_worker.data, "spilled_total", None)
            if spilled is not None:
                peak["spilled"] = max(peak["spilled"], spilled.disk)
            time.sleep(0.02)

    dask_worker._bench_peak = peak
    threading.Thread(target=run, daemon=True).start()


def _cpu_times():
    """This worker process's user and system CPU seconds so far."""
    times = psutil.Process().cpu_times()
    return times.user, times.system


def _read_sampler(dask_worker):
    peak = dask_worker._bench_peak
    peak["stop"] = True
    return {"rss": peak["rss"], "spilled": peak["spilled"]}


def make_array(n, dtype, chunk_bytes, seed):
    rng = da.random.default_rng(seed)
    chunks = max(1, chunk_bytes // 8)
    if dtype == "float64":
        return rng.random(n, chunks=chunks)
    info = np.iinfo(np.int64)
    return rng.integers(info.min, info.max, n, chunks=chunks, dtype=np.int64, endpoint=True)


def _block_summary(block):
    ok = bool(np.all(block[1:] >= block[:-1])) if len(block) else True
    edge = (block[0], block[-1]) if len(block) else None
    total = int(block.view(np.uint64).sum(dtype=np.uint64)) if block.dtype.kind == "i" else 0
    return ok, edge, len(block), total


def check_sorted(result, n, expected_sum):
    """Sorted within and across chunks, n elements, and (int64) the same wrapping sum."""
    summaries = dask.compute(*map(dask.delayed(_block_summary), result.to_delayed().ravel()))
    edges = [s[1] for s in summaries if s[1] is not None]
    ok = all(s[0] for s in summaries) and all(a[1] <= b[0] for a, b in zip(edges, edges[1:]))
    length = sum(s[2] for s in summaries)
    total = sum(s[3] for s in summaries) % 2**64
    return ok and length == n and (expected_sum is None or total == expected_sum)


def on_cluster(method, n, dtype, args):
    kwargs = dict(host="127.0.0.1", n_workers=args.workers, threads_per_worker=1,
                  processes=True, dashboard_address=None, memory_limit=args.memory_limit)
    if args.local_directory:
        kwargs["local_directory"] = args.local_directory
    with distributed.LocalCluster(**kwargs) as cluster, distributed.Client(cluster) as client:
        client.run(_start_sampler)
        x = make_array(n, dtype, args.chunk_mb << 20, args.seed).persist()
        distributed.wait(x)
        expected_sum = None
        if dtype == "int64":
            summaries = dask.compute(*map(dask.delayed(_block_summary), x.to_delayed().ravel()))
            expected_sum = sum(s[3] for s in summaries) % 2**64
        # The first sort on fresh workers pays for their imports: a tiny one takes that out
        # of the timing, for either method.
        tiny = da.from_array(np.arange(1000, dtype=dtype), chunks=100)
        if method == "tamarind_dask":
            tamarind_dask.sort(tiny).compute()
            cpu = client.run(_cpu_times)
            start = time.perf_counter()
            result = tamarind_dask.sort(x).persist()
            distributed.wait(result)
            seconds = time.perf_counter() - start
            cpu = {w: [b - a for a, b in zip(cpu[w], now)] for w, now in client.run(_cpu_times).items()}
            ok = check_sorted(result, n, expected_sum)
        else:
            import dask.dataframe as dd
            dd.from_dask_array(tiny, columns=["v"]).sort_values("v").compute()
            df = dd.from_dask_array(x, columns=["v"]).persist()
            distributed.wait(df)
            del x
            cpu = client.run(_cpu_times)
            start = time.perf_counter()
            result = df.sort_values("v").persist()
            distributed.wait(result)
            seconds = time.perf_counter() - start
            cpu = {w: [b - a for a, b in zip(cpu[w], now)] for w, now in client.run(_cpu_times).items()}
            ok = check_sorted(result["v"].to_dask_array(lengths=True), n, expected_sum)
        peaks = client.run(_read_sampler)
        for w in peaks:
            peaks[w]["cpu"] = cpu[w]
        del result
    return seconds, ok, peaks


def in_process(method, n, dtype, args):
    available = psutil.virtual_memory().available
    if 3 * 8 * n > available:
        return None, f"needs 3 x {8 * n / 2**30:.1f} GiB, {available / 2**30:.1f} GiB available"
    rng = np.random.default_rng(args.seed)
    if dtype == "float64":
        a = rng.random(n)
    else:
        a = rng.integers(np.iinfo(np.int64).min, np.iinfo(np.int64).max, n, endpoint=True)
    expected = a.view(np.uint64).sum(dtype=np.uint64)
    base = psutil.Process().memory_info().rss
    start = time.perf_counter()
    if method == "np_sort":
        a.sort()
    else:
        (tamarind.sort_f64 if dtype == "float64" else tamarind.sort_i64)(a)
    seconds = time.perf_counter() - start
    ok = bool(np.all(a[1:] >= a[:-1])) and a.view(np.uint64).sum(dtype=np.uint64) == expected
    extra = psutil.Process().memory_info().rss - base
    del a
    gc.collect()
    return seconds, {"ok": ok, "extra_rss": extra}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sizes", default="1e8", help="comma-separated element counts")
    parser.add_argument("--dtypes", default="float64,int64")
    parser.add_argument("--methods", default=",".join(METHODS), help=f"of {METHODS}")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--chunk-mb", type=int, default=64, help="MiB per input chunk")
    parser.add_argument("--memory-limit", default="auto",
                        help="per worker, e.g. 6GiB (default: the machine's memory / workers)")
    parser.add_argument("--local-directory", default=None, help="where workers spill")
    parser.add_argument("--seed", type=int, default=12345)
    parser.add_argument("--repeat", type=int, default=1,
                        help="runs per method, each on a fresh cluster; the table shows the median"
                             " time and the largest memory")
    parser.add_argument("--json", default=None, help="also write the rows as JSON")
    args = parser.parse_args()
    # The dataframe shuffle logs each start and stop as a warning.
    logging.getLogger("distributed.shuffle").setLevel(logging.ERROR)

    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                if line.startswith("model name")), platform.processor())
    print(f"# {cpu}, {os.cpu_count()} logical processors, "
          f"{psutil.virtual_memory().total / 2**30:.1f} GiB; dask {dask.__version__}, "
          f"numpy {np.__version__}; {args.workers} workers x 1 thread, {args.chunk_mb} MiB chunks")
    header = f"{'n':>8} {'dtype':>8} {'method':>15} {'seconds':>9} {'vs sort_values':>15} " \
             f"{'peak worker':>12} {'all workers':>12} {'spilled':>9} {'worker cpu':>13}  note"
    print(header)
    rows = []
    for size in args.sizes.split(","):
        n = int(float(size))
        for dtype in args.dtypes.split(","):
            times = {}
            for method in args.methods.split(","):
                log(f"{n:.0e} {dtype} {method} ...")
                row = {"n": n, "dtype": dtype, "method": method, "seconds": None, "note": ""}
                try:
                    runs = []
                    for _ in range(args.repeat):
                        if method in ("tamarind_dask", "sort_values"):
                            seconds, ok, peaks = on_cluster(method, n, dtype, args)
                            rss = [p["rss"] for p in peaks.values()]
                            runs.append(seconds)
                            row.setdefault("worker_cpu", []).append(
                                [sum(p["cpu"][i] for p in peaks.values()) for i in (0, 1)])
                            row.update(peak_worker=max(rss + [row.get("peak_worker", 0)]),
                                       all_workers=max(sum(rss), row.get("all_workers", 0)),
                                       spilled=max([p["spilled"] for p in peaks.values()]
                                                   + [row.get("spilled", 0)]))
                            row["note"] += "" if ok else "WRONG RESULT "
                        else:
                            seconds, info = in_process(method, n, dtype, args)
                            if seconds is None:
                                row["note"] = f"not run: {info}"
                                break
                            runs.append(seconds)
                            row.update(extra_rss=info["extra_rss"])
                            row["note"] = ("in this process, +%.0f MiB" % (info["extra_rss"] / 2**20)
                                           + ("" if info["ok"] else "; WRONG RESULT"))
                    if runs:
                        row.update(seconds=statistics.median(runs), runs=runs)
                        if len(runs) > 1:
                            row["note"] = "; ".join(filter(None, (
                                row["note"].strip(),
                                f"median of {len(runs)}: {min(runs):.2f} to {max(runs):.2f} s")))
                except Exception as e:  # noqa: BLE001 - a failed method is reported, not fatal
                    row["note"] = f"failed: {type(e).__name__}: {e}"[:200]
                times[method] = row["seconds"]
                rows.append(row)
            for row in rows[-len(times):]:
                ref = times.get("sort_values")
                ratio = f"{ref / row['seconds']:.2f}x" if ref and row["seconds"] else "-"
                gib = lambda v: f"{v / 2**30:.2f} GiB" if v is not None else "-"  # noqa: E731
                secs = f"{row['seconds']:.2f}" if row["seconds"] is not None else "-"
                cpu = "-"
                if row.get("worker_cpu"):  # the run of median time
                    user, system = row["worker_cpu"][row["runs"].index(row["seconds"])] \
                        if row["seconds"] in row.get("runs", ()) else row["worker_cpu"][0]
                    cpu = f"{user:.1f}+{system:.1f} s"
                print(f"{n:>8.0e} {dtype:>8} {row['method']:>15} {secs:>9} {ratio:>15} "
                      f"{gib(row.get('peak_worker')):>12} {gib(row.get('all_workers')):>12} "
                      f"{gib(row.get('spilled')):>9} {cpu:>13}  {row['note']}", flush=True)
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"cpu": cpu, "rows": rows}, f, indent=1)


if __name__ == "__main__":
    main()
