#!/usr/bin/env python3
"""One search locally and on a Dask LocalCluster, side by side.

Runs the same `find_candidates` search (1 variable, 100 samples, the law of
benchmarks/search_benchmark.cpp) in this process on all its cores, then
through `DaskSearcher` on a LocalCluster of `--workers` processes with one
thread each, and reports:

- wall time of both, the overhead of the cluster, and whether the results
  are identical (formula, error and parameter bits);
- per level: the shards' CPU seconds (largest and mean: how balanced the
  shards are), the CPU every worker spends generating the level, the bytes
  sent to the workers and back, the level's wall time;
- CPU seconds per worker;
- a projection for N workers: per level, the measured time outside the shards
  (wall minus the shards' CPU spread over the workers), plus one worker's
  generation of the level, plus the shards' CPU divided by N, levels summed.

    python benchmarks/cluster_search.py                       # default search, 2 workers, 8 shards
    python benchmarks/cluster_search.py --max-complexity 8 --shards 8
"""

import argparse
import math
import statistics
import sys
import time
from pathlib import Path

try:
    import tov_sr
except ImportError:  # run from a checkout: use the build tree
    ROOT = Path(__file__).resolve().parent.parent
    sys.path[:0] = [str(ROOT / "build" / "py"), str(ROOT / "python")]
    import tov_sr

from distributed import Client, LocalCluster
from tov_sr_tools import DaskSearcher


def problem(samples):
    xs = [-2.0 + 4.0 * i / samples for i in range(samples)]
    return [[x] for x in xs], [x * math.sin(x) + 0.5 * x * x for x in xs]


def observed(results):
    return [(r.formula, r.error.hex(), [p.hex() for p in r.parameters]) for r in results]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--samples", type=int, default=100)
    parser.add_argument("--max-complexity", type=int, default=10)
    parser.add_argument("--beam-width", type=int, default=1000)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--shards", type=int, default=8)
    parser.add_argument("--project", type=int, nargs="*", default=[2, 4, 8, 16, 32])
    options = parser.parse_args()

    rows, ys = problem(options.samples)
    searcher = tov_sr.Searcher(
        max_complexity=options.max_complexity, beam_width=options.beam_width, verbose=False
    )
    began = time.perf_counter()
    local = searcher.find_candidates(rows, ys)
    local_seconds = time.perf_counter() - began

    with LocalCluster(
        n_workers=options.workers, threads_per_worker=1, dashboard_address=None
    ) as cluster, Client(cluster) as client:
        remote = DaskSearcher(searcher, client, shards=options.shards)
        began = time.perf_counter()
        results = remote.find_candidates(rows, ys)
        remote_seconds = time.perf_counter() - began
        stats = remote.stats

    print(
        f"local search ({options.samples} samples, max_complexity {options.max_complexity}, "
        f"beam_width {options.beam_width}): {local_seconds:.2f} s"
    )
    print(
        f"LocalCluster, {options.workers} workers x 1 thread, {options.shards} shards: "
        f"{remote_seconds:.2f} s, overhead {100 * (remote_seconds / local_seconds - 1):+.1f} %, "
        f"identical results: {'yes' if observed(results) == observed(local) else 'NO'}"
    )
    print()
    print(
        "| level | shard CPU s (max / mean) | max/mean | generation CPU s | sent bytes "
        "| received bytes | wall s |"
    )
    print("|---:|---:|---:|---:|---:|---:|---:|")
    per_worker = {}
    for level in stats:
        cpu = level["cpu"]
        mean = statistics.mean(cpu)
        balance = max(cpu) / mean if mean > 0 else 1.0
        print(
            f"| {level['level']} | {max(cpu):.3f} / {mean:.3f} | {balance:.2f} | "
            f"{sum(level['generation']):.3f} | {level['sent']:,} | {level['received']:,} | "
            f"{level['seconds']:.3f} |"
        )
        for worker, seconds, generation in zip(level["workers"], cpu, level["generation"]):
            per_worker[worker] = per_worker.get(worker, 0.0) + seconds + generation
    print()
    for worker, seconds in sorted(per_worker.items(), key=lambda item: str(item[0])):
        print(f"worker {worker}: {seconds:.2f} CPU s")
    print()
    print("projection (per level: time outside the shards + shard CPU / N):")
    for n in options.project:
        total = 0.0
        for level in stats:
            # Every worker generates the level: that part does not shrink.
            cpu = sum(level["cpu"])
            generation = sum(level["generation"]) / options.workers
            outside = max(0.0, level["seconds"] - cpu / options.workers - generation)
            total += outside + generation + cpu / n
        print(f"  {n:3d} workers: {total:8.1f} s  ({local_seconds / total:.1f}x the local search)")


if __name__ == "__main__":
    main()
