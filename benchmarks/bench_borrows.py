#!/usr/bin/env python3
"""Benchmark the cost of borrowing many arrays at once: the Dask sort's concatenating helper
(``tamarind._concat_sort_nogil_f64``) on k pieces of two elements each, against NumPy
concatenating and sorting the same pieces, and one call of ``sort_f64_st`` on a one-element
array (a borrow taken and given back, nearly nothing else).

    python benchmarks/bench_borrows.py [--pieces 10000,100000,200000] [--repeat 5]

Times are the least of ``--repeat`` runs, in seconds (the single call in nanoseconds).
"""
import argparse
import platform
import timeit

import numpy as np

import tamarind


def processor():
    try:
        with open("/proc/cpuinfo") as f:
            return next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
    except (OSError, StopIteration):
        return platform.processor() or platform.machine()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--pieces", default="10000,100000,200000", help="comma-separated piece counts")
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    print(f"# {processor()}, numpy {np.__version__}")
    one = np.zeros(1)
    calls = 200_000
    single = min(timeit.repeat(lambda: tamarind.sort_f64_st(one), number=calls, repeat=args.repeat)) / calls
    print(f"sort_f64_st, one element: {single * 1e9:.0f} ns per call")
    print(f"{'pieces':>8} {'concat_sort s':>14} {'numpy s':>9}")
    for k in (int(float(p)) for p in args.pieces.split(",")):
        pieces = [np.random.default_rng(i).random(2) for i in range(k)]
        ours = min(timeit.repeat(lambda: tamarind._concat_sort_nogil_f64(pieces), number=1, repeat=args.repeat))
        numpy = min(timeit.repeat(lambda: np.sort(np.concatenate(pieces)), number=1, repeat=args.repeat))
        print(f"{k:>8} {ours:>14.4f} {numpy:>9.4f}")


if __name__ == "__main__":
    main()
