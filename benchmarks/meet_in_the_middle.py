#!/usr/bin/env python3
"""What meet in the middle costs where it finds nothing, and what it finds.

Each problem is searched exhaustively (`find_candidates`, no time limit) with
and without `meet_in_the_middle=True`, alternating, `--runs` times each, in
this process; the table gives the CPU seconds (median), their ratio, the
candidates the pairs added and the best error of each. The problems:

- hard1: a 1-variable target no short formula fits (nothing to find);
- hard3: a 3-variable target of the same kind;
- product: sin(x0) exp(x1) x2 / (x3 + x4), a quotient of two halves.

    python benchmarks/meet_in_the_middle.py
    python benchmarks/meet_in_the_middle.py --max-complexity 6 --runs 3 --problems hard3
"""

import argparse
import statistics
import sys
import time
from pathlib import Path

import numpy as np

try:
    import tov_sr
except ImportError:  # run from a checkout: use the build tree
    ROOT = Path(__file__).resolve().parent.parent
    sys.path[:0] = [str(ROOT / "build" / "py"), str(ROOT / "python")]
    import tov_sr


def problems():
    rng = np.random.default_rng(5)
    x = rng.uniform(0.1, 3.0, (100, 1))
    X3 = rng.uniform(0.5, 2.5, (100, 3))
    X5 = rng.uniform(1.0, 3.0, (100, 5))
    return {
        "hard1": (x, np.sin(3 * x[:, 0]) * np.exp(x[:, 0] / 3) + 0.1 * x[:, 0] ** 3),
        "hard3": (X3, np.exp(np.sin(X3[:, 0]) * X3[:, 1]) + np.cos(X3[:, 2]) ** 3),
        "product": (X5, np.sin(X5[:, 0]) * np.exp(X5[:, 1]) * X5[:, 2] / (X5[:, 3] + X5[:, 4])),
    }


def search(X, y, options, pairs):
    searcher = tov_sr.Searcher(
        max_complexity=options.max_complexity,
        beam_width=options.beam_width,
        linear_scaling=True,
        verbose=False,
        meet_in_the_middle=pairs,
    )
    reports = []
    start = time.process_time()
    results = searcher.find_candidates(X, y, callback=reports.append)
    return time.process_time() - start, sum(r.candidates for r in reports), results[0].error


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--max-complexity", type=int, default=6)
    parser.add_argument("--beam-width", type=int, default=1000)
    parser.add_argument("--runs", type=int, default=2)
    parser.add_argument("--problems", nargs="+", choices=list(problems()), default=list(problems()))
    options = parser.parse_args()

    print(f"max_complexity {options.max_complexity}, beam_width {options.beam_width}, "
          f"linear scaling, find_candidates, {options.runs} runs each, CPU seconds (median)\n")
    print("| problem | without s | with s | ratio | candidates added | error without | error with |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for name in options.problems:
        X, y = problems()[name]
        times = {False: [], True: []}
        counts = {}
        errors = {}
        for _ in range(options.runs):
            for pairs in (False, True):
                seconds, counts[pairs], errors[pairs] = search(X, y, options, pairs)
                times[pairs].append(seconds)
        without, with_ = statistics.median(times[False]), statistics.median(times[True])
        print(f"| {name} | {without:.2f} | {with_:.2f} | {with_ / without:.2f} | "
              f"{counts[True] - counts[False]} | {errors[False]:.3g} | {errors[True]:.3g} |",
              flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
