#!/usr/bin/env python3
"""What max_search_rows buys on large data.

For each row count, the same search (1 variable, a smooth law with a fitted
constant, `find_candidates`) on every row and with the levels searched on
`--subset` rows spread over the data; both report their time and the
staircase's most accurate formula with its error on all the rows.

    python benchmarks/large_data.py                        # 10 000 and 100 000 rows
    python benchmarks/large_data.py --rows 10000 --max-complexity 6 --subset 1000
"""

import argparse
import math
import sys
import time
from pathlib import Path

try:
    import tov_sr
except ImportError:  # run from a checkout: use the build tree
    ROOT = Path(__file__).resolve().parent.parent
    sys.path[:0] = [str(ROOT / "build" / "py"), str(ROOT / "python")]
    import tov_sr


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, nargs="*", default=[10_000, 100_000])
    parser.add_argument("--max-complexity", type=int, nargs="*", default=[6, 5])
    parser.add_argument("--subset", type=int, default=1000)
    options = parser.parse_args()

    print("| rows | max_complexity | rows searched | seconds | most accurate formula | error |")
    print("|---:|---:|---:|---:|---|---:|")
    for rows, size in zip(options.rows, options.max_complexity):
        xs = [-2.0 + 4.0 * i / rows for i in range(rows)]
        ys = [x * math.sin(x) + 0.5 * x * x for x in xs]
        inputs = [[x] for x in xs]
        for subset in (None, options.subset):
            searcher = tov_sr.Searcher(max_complexity=size, max_search_rows=subset, verbose=False)
            began = time.perf_counter()
            best = searcher.find_candidates(inputs, ys)[0]
            seconds = time.perf_counter() - began
            print(
                f"| {rows:,} | {size} | {subset or rows:,} | {seconds:.1f} | "
                f"`{best.formula}` | {best.error:.3e} |"
            )
            sys.stdout.flush()


if __name__ == "__main__":
    main()
