#!/usr/bin/env python3
"""Closed forms of well-known constants with named constants.

One `recognize_constant` per number with `constants="named"` (leaves 1 to 5,
pi and e): which numbers get a closed form that matches them to rounding
(exact), at what size, with what error, and how long each search takes.
Constants without a known short closed form (Catalan's G, Apery's zeta(3),
the Euler-Mascheroni gamma) and seeded random numbers are the controls:
they must come back as near misses, with an error above 0.

    python benchmarks/constants_table.py                   # max_complexity 8, beam 3000
    python benchmarks/constants_table.py --max-complexity 7 --beam-width 1000
"""

import argparse
import math
import random
import sys
import time
import warnings
from pathlib import Path

try:
    import tov_sr
except ImportError:  # run from a checkout: use the build tree
    ROOT = Path(__file__).resolve().parent.parent
    sys.path[:0] = [str(ROOT / "build" / "py"), str(ROOT / "python")]
    import tov_sr

# Values of the constants without a closed form, to double precision:
# Catalan's G, Apery's zeta(3), Euler-Mascheroni gamma (OEIS A006752,
# A002117, A001620).
CONSTANTS = [
    ("golden ratio (1 + sqrt 5)/2", (1 + math.sqrt(5)) / 2),
    ("sqrt 2 + sqrt 3", math.sqrt(2) + math.sqrt(3)),
    ("pi^2", math.pi**2),
    ("e^pi", math.exp(math.pi)),
    ("ln 2", math.log(2)),
    ("pi/4", math.pi / 4),
    ("sqrt(2 pi)", math.sqrt(2 * math.pi)),
    ("1/7", 1 / 7),
    ("e + pi", math.e + math.pi),
    ("ln 10", math.log(10)),
    ("Catalan's G", 0.915965594177219),
    ("Apery's zeta(3)", 1.2020569031595942),
    ("Euler-Mascheroni gamma", 0.5772156649015329),
]


def random_controls(count, seed=2024):
    rng = random.Random(seed)
    return [(f"random {k + 1}", rng.uniform(0.1, 10.0)) for k in range(count)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--max-complexity", type=int, default=8)
    parser.add_argument("--beam-width", type=int, default=3000)
    parser.add_argument("--random", type=int, default=3, help="random controls")
    options = parser.parse_args()
    searcher = tov_sr.Searcher(
        max_complexity=options.max_complexity,
        beam_width=options.beam_width,
        verbose=False,
        constants="named",
    )
    print(f"constants='named', max_complexity {options.max_complexity}, "
          f"beam_width {options.beam_width}\n")  # fmt: skip
    print("| number | value | formula | size | error | exact | seconds |")
    print("|---|---:|---|---:|---:|---|---:|")
    for name, value in CONSTANTS + random_controls(options.random):
        start = time.perf_counter()
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            result = searcher.recognize_constant(value)
        seconds = time.perf_counter() - start
        near_miss = any("no closed form" in str(w.message) for w in caught)
        print(f"| {name} | {value!r} | `{result.formula}` | {result.complexity} "
              f"| {result.error:.3g} | {'no' if near_miss else 'yes'} | {seconds:.2f} |",
              flush=True)  # fmt: skip
    return 0


if __name__ == "__main__":
    sys.exit(main())
