#!/usr/bin/env python3
"""The AI Feynman equation table with and without physical units.

Every law of `feynman_laws.csv` (100 laws in 1 to 9 variables, the
published sampling ranges, SI units written from the physics) is sampled at
100 training and 1,000 test points; Gaussian noise of a fraction of RMS(y)
is added to the training targets only. One search per law, noise level and
mode, with `linear_scaling=True` and a time limit, through `Searcher.fit`:
"plain" without units, "units" with `x_units` and `y_units`. Per run:

- exact: at noise 0, the returned formula's normalised mean squared error
  on the test points (MSE / variance of y, that is 1 - R^2) is below 1e-10;
- R2: the test R^2, and whether it exceeds 0.999;
- the wall time of the search.

The summary gives, per number of variables and for the laws with 4 or more,
the exact recoveries, the runs with R^2 > 0.999 and the median time. Before
searching, every law is checked to be dimensionally consistent with its
units (scaling each base unit by a random factor must scale the target by
the factor of its unit).

    python benchmarks/feynman.py                          # everything: about 2 hours
    python benchmarks/feynman.py --min-variables 4 --noise 0 --results runs.jsonl
    python benchmarks/feynman.py --laws I.12.11 II.11.3 --time-limit 5 --modes units
    python benchmarks/feynman.py --decompose --min-variables 4 --samples 10000 1000 \
        --time-limit 60 --results decompose.jsonl

With --decompose, each run is `tov_sr_tools.decompose` instead of one
search (its searches with the same settings and at most 1,000 rows each);
its modes are recorded as "decompose" and "decompose+units", and each run
also reports the steps the decomposition accepted.

With --results, each run is appended to the file as one JSON line, and runs
already in the file are not repeated (an interrupted benchmark resumes).
"""

import argparse
import csv
import json
import math
import re
import statistics
import sys
import time
import warnings
import zlib
from pathlib import Path
from typing import NamedTuple

import numpy as np

try:
    import tov_sr
except ImportError:  # run from a checkout: use the build tree
    ROOT = Path(__file__).resolve().parent.parent
    sys.path[:0] = [str(ROOT / "build" / "py"), str(ROOT / "python")]
    import tov_sr

TABLE = Path(__file__).resolve().parent / "feynman_laws.csv"
EXACT_NMSE = 1e-10
MODES = ("plain", "units")
NAMESPACE = {
    "exp": np.exp, "sqrt": np.sqrt, "sin": np.sin, "cos": np.cos, "tan": np.tan,
    "arcsin": np.arcsin, "tanh": np.tanh, "log": np.log, "pi": np.pi,
}  # fmt: skip


class Law(NamedTuple):
    name: str
    formula: str
    variables: list  # names
    ranges: list  # (low, high) per variable
    units: list  # unit text per variable
    target_unit: str

    def __call__(self, X):
        scope = dict(NAMESPACE)
        scope.update({name: X[:, j] for j, name in enumerate(self.variables)})
        return eval(self.formula, {"__builtins__": {}}, scope)  # noqa: S307 - our own table


def load_laws(path=TABLE):
    lines = [line for line in path.read_text().splitlines() if not line.startswith("#")]
    laws = []
    for row in csv.DictReader(lines):
        variables = [field.split("|") for field in row["variables"].split(";")]
        laws.append(
            Law(
                row["law"],
                row["formula"],
                [v[0] for v in variables],
                [(float(v[1]), float(v[2])) for v in variables],
                [v[3] for v in variables],
                row["target_unit"],
            )
        )
    return laws


# --- Dimensional consistency of the table -------------------------------------

BASE = ("m", "kg", "s", "A", "K")
# The derived units the table uses, as exponents of m, kg, s, A, K.
DERIVED = {
    "N": (1, 1, -2, 0, 0), "J": (2, 1, -2, 0, 0), "W": (2, 1, -3, 0, 0),
    "Pa": (-1, 1, -2, 0, 0), "C": (0, 0, 1, 1, 0), "V": (2, 1, -3, -1, 0),
    "F": (-2, -1, 4, 2, 0), "T": (0, 1, -2, -1, 0), "rad": (0, 0, 0, 0, 0),
    "1": (0, 0, 0, 0, 0),
}  # fmt: skip


def exponents(unit):
    """The table's unit texts (symbols, '*', '/', '^', parentheses) as a
    vector of exponents of BASE."""
    tokens = re.findall(r"[A-Za-z]+|-?\d+|[*/^()]", unit)
    position = 0

    def atom():
        nonlocal position
        token = tokens[position]
        position += 1
        if token == "(":
            value = product()
            position += 1  # ")"
        elif token in BASE:
            value = np.eye(len(BASE))[BASE.index(token)]
        else:
            value = np.array(DERIVED[token], dtype=float)
        if position < len(tokens) and tokens[position] == "^":
            value = value * int(tokens[position + 1])
            position += 2
        return value

    def product():
        nonlocal position
        value = atom()
        while position < len(tokens) and tokens[position] in "*/":
            divide = tokens[position] == "/"
            position += 1
            factor = atom()
            value = value - factor if divide else value + factor
        return value

    return product()


def check_units(law, rng):
    """Scales every base unit by a random factor; the law must scale as its
    target's unit."""
    X = np.array([rng.uniform(lo, hi, 5) for lo, hi in law.ranges]).T
    factors = rng.uniform(0.5, 2.0, len(BASE))
    scale = lambda unit: float(np.prod(factors ** exponents(unit)))  # noqa: E731
    scaled = X * np.array([scale(unit) for unit in law.units])
    with np.errstate(all="ignore"):
        ratio = law(scaled) / law(X)
    return bool(np.allclose(ratio, scale(law.target_unit), rtol=1e-9))


# --- Runs ------------------------------------------------------------------------


def sample(law, noise, n_train, n_test):
    """Training inputs, noisy training targets, test inputs and test targets.
    The points depend on the law only, the noise on the law and its level."""
    seed = zlib.crc32(law.name.encode())
    rng = np.random.default_rng(seed)
    low, high = np.array(law.ranges, dtype=float).T
    X = rng.uniform(low, high, size=(n_train + n_test, len(law.ranges)))
    y = law(X)
    X_train, y_train, X_test, y_test = X[:n_train], y[:n_train], X[n_train:], y[n_train:]
    noise_rng = np.random.default_rng([seed, round(noise * 1e6)])
    scale = noise * np.sqrt(np.mean(y_train**2))
    noisy = y_train + noise_rng.normal(0.0, 1.0, n_train) * scale
    return X_train, noisy, X_test, y_test


def nmse(predicted, y):
    if not np.all(np.isfinite(predicted)):
        return math.inf
    return float(np.mean((predicted - y) ** 2) / np.var(y))


def run(law, noise, mode, options):
    if options.decompose:
        return run_decompose(law, noise, mode, options)
    X_train, y_train, X_test, y_test = sample(law, noise, *options.samples)
    searcher = tov_sr.Searcher(
        max_complexity=options.max_complexity,
        beam_width=options.beam_width,
        verbose=False,
        time_limit=options.time_limit,
        linear_scaling=True,
        max_terms=options.max_terms,
        meet_in_the_middle=options.meet_in_the_middle,
    )
    units = {"x_units": law.units, "y_units": law.target_unit} if mode == "units" else {}
    start = time.perf_counter()
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", tov_sr.TovTimeLimitWarning)
            result = searcher.fit(X_train, y_train, **units)
    except (tov_sr.TovComplexityError, tov_sr.TovDimensionError) as error:
        result = error
    seconds = time.perf_counter() - start
    row = {"law": law.name, "variables": len(law.variables), "noise": noise, "mode": mode,
           "seconds": seconds}  # fmt: skip
    if isinstance(result, Exception):
        return {**row, "nmse": math.inf, "formula": f"{type(result).__name__}: {result}"}
    error = nmse(np.asarray(result.eval_batch(X_test)), y_test)
    return {**row, "nmse": error, "formula": result.formula}


def run_decompose(law, noise, mode, options):
    from tov_sr_tools import decompose

    X_train, y_train, X_test, y_test = sample(law, noise, *options.samples)
    searcher = tov_sr.Searcher(
        max_complexity=options.max_complexity,
        beam_width=options.beam_width,
        verbose=False,
        linear_scaling=True,
        max_search_rows=1000,
    )
    units = {"x_units": law.units, "y_units": law.target_unit} if mode == "units" else {}
    start = time.perf_counter()
    try:
        found = decompose(X_train, y_train, time_limit=options.time_limit, searcher=searcher,
                          **units)  # fmt: skip
    except (tov_sr.TovComplexityError, tov_sr.TovDimensionError) as error:
        found = error
    seconds = time.perf_counter() - start
    row = {"law": law.name, "variables": len(law.variables), "noise": noise,
           "mode": "decompose" + ("+units" if mode == "units" else ""), "seconds": seconds}  # fmt: skip
    if isinstance(found, Exception):
        return {**row, "nmse": math.inf, "formula": f"{type(found).__name__}: {found}",
                "steps": []}  # fmt: skip
    error = nmse(np.asarray(found.eval_batch(X_test)), y_test)
    return {**row, "nmse": error, "formula": found.formula,
            "steps": accepted_steps(found.decomposition)}  # fmt: skip


def accepted_steps(step):
    """The kinds of the accepted steps below the final choice, depth first."""
    kinds = [] if step.kind in ("choice", "search") else [step.kind]
    for child in step.children:
        kinds.extend(accepted_steps(child))
    return kinds


def exact(row):
    return row["noise"] == 0 and row["nmse"] < EXACT_NMSE


def accurate(row):
    return 1.0 - row["nmse"] > 0.999


def print_summary(rows, noises, modes):
    print("\n| variables | laws | noise | mode | exact | R2 > 0.999 | median time s |")
    print("|---|---:|---:|---|---:|---:|---:|")
    counts = sorted({r["variables"] for r in rows})
    for group in [[n] for n in counts] + [[n for n in counts if n >= 4], counts]:
        label = (str(group[0]) if len(group) == 1 else
                 ("4 to 9" if group[0] >= 4 else "all"))  # fmt: skip
        for noise in noises:
            for mode in modes:
                subset = [r for r in rows if r["variables"] in group and r["noise"] == noise
                          and r["mode"] == mode]  # fmt: skip
                if not subset:
                    continue
                laws = len({r["law"] for r in subset})
                hits = sum(map(exact, subset)) if noise == 0 else "-"
                good = sum(map(accurate, subset))
                median = statistics.median(r["seconds"] for r in subset)
                print(f"| {label} | {laws} | {noise:g} | {mode} | {hits} | {good} | "
                      f"{median:.2f} |")  # fmt: skip


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--time-limit", type=float, default=10.0, help="seconds per run")
    parser.add_argument("--laws", nargs="+", help="law names (default: all)")
    parser.add_argument("--min-variables", type=int, default=1)
    parser.add_argument("--max-variables", type=int, default=9)
    parser.add_argument("--noise", type=float, nargs="+", default=[0.0, 0.01],
                        help="noise levels, as fractions of RMS(y)")
    parser.add_argument("--modes", nargs="+", choices=MODES, default=list(MODES))
    parser.add_argument("--samples", type=int, nargs=2, default=[100, 1000],
                        metavar=("TRAIN", "TEST"), help="training and test points")
    parser.add_argument("--max-complexity", type=int, default=10)
    parser.add_argument("--beam-width", type=int, default=1000)
    parser.add_argument("--max-terms", type=int, default=1, help="sums and products of terms")
    parser.add_argument("--meet-in-the-middle", action="store_true",
                        help="formulas from two retained ones, found by lookup")
    parser.add_argument("--results", type=Path, help="JSON lines file to append to and resume from")
    parser.add_argument("--decompose", action="store_true",
                        help="run tov_sr_tools.decompose instead of one search")
    options = parser.parse_args()  # fmt: skip

    laws = load_laws()
    known = {law.name for law in laws}
    unknown = sorted(set(options.laws or ()) - known)
    if unknown:
        parser.error(f"unknown laws {', '.join(unknown)}")
    chosen = [law for law in laws if (not options.laws or law.name in options.laws)
              and options.min_variables <= len(law.variables) <= options.max_variables]  # fmt: skip
    rng = np.random.default_rng(0)
    inconsistent = [law.name for law in chosen if not check_units(law, rng)]
    if inconsistent:
        print("dimensionally inconsistent units:", ", ".join(inconsistent))
        return 1

    done = {}
    if options.results and options.results.exists():
        for line in options.results.read_text().splitlines():
            row = json.loads(line)
            done[(row["law"], row["noise"], row["mode"])] = row
    if options.decompose:
        print("tov_sr_tools.decompose, searches on at most 1000 rows")
    print(f"{len(chosen)} laws, time limit {options.time_limit} s, max_complexity "
          f"{options.max_complexity}, beam_width {options.beam_width}, linear scaling, "
          f"max_terms {options.max_terms}"
          f"{', meet in the middle' if options.meet_in_the_middle else ''}, "
          f"{options.samples[0]} training and {options.samples[1]} test points\n")  # fmt: skip
    print("| law | variables | noise | mode | exact | test R2 | time s | formula |")
    print("|---|---:|---:|---|---|---:|---:|---|")
    rows = []
    for law in chosen:
        for noise in options.noise:
            for mode in options.modes:
                mode_name = mode
                if options.decompose:
                    mode_name = "decompose" + ("+units" if mode == "units" else "")
                row = done.get((law.name, noise, mode_name))
                if row is None:
                    row = run(law, noise, mode, options)
                    if options.results:
                        with options.results.open("a") as out:
                            out.write(json.dumps(row) + "\n")
                rows.append(row)
                print(f"| {law.name} | {row['variables']} | {noise:g} | {row['mode']} "
                      f"| {'yes' if exact(row) else 'no'} | {1.0 - row['nmse']:.10f} "
                      f"| {row['seconds']:.2f} | `{row['formula']}` |", flush=True)  # fmt: skip
    if options.decompose:
        modes = ["decompose" + ("+units" if mode == "units" else "") for mode in options.modes]
        print_summary(rows, options.noise, modes)
        print("\n| noise | mode | runs | a step accepted | pair | separable | units |")
        print("|---:|---|---:|---:|---:|---:|---:|")
        for noise in options.noise:
            for mode in modes:
                subset = [r for r in rows if r["noise"] == noise and r["mode"] == mode]
                if not subset:
                    continue
                steps = [[s for s in r["steps"] if s != "units"] for r in subset]
                counts = [sum(kind in r["steps"] for r in subset)
                          for kind in ("pair", "separable", "units")]  # fmt: skip
                print(f"| {noise:g} | {mode} | {len(subset)} | {sum(map(bool, steps))} | "
                      f"{counts[0]} | {counts[1]} | {counts[2]} |")  # fmt: skip
    else:
        print_summary(rows, options.noise, options.modes)
    return 0


if __name__ == "__main__":
    sys.exit(main())
