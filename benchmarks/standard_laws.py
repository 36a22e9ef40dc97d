#!/usr/bin/env python3
"""Recovery of standard laws from clean and noisy samples.

Each law is sampled at random training points and, separately, at random
test points; Gaussian noise of a given fraction of RMS(y) is added to the
training targets only. One search per law, noise level and mode ("plain", or
"scaled" with `linear_scaling=True`, and "pairs", not run by default, with
`meet_in_the_middle=True` too), each with a time limit, through
`Searcher.fit`. Per run the table shows:

- exact: the returned formula, evaluated on the noise-free test points, has
  a normalised mean squared error (MSE / variance of y, that is 1 - R^2)
  below 1e-10. Constants fitted to noisy targets are off by about the
  noise, so on noisy data only formulas without constants can pass this;
- family: the same test after refitting the formula's constants, from the
  returned values, to the noise-free training targets (SciPy's
  Levenberg-Marquardt): the law is the formula for some constants. The law
  with noisy constants passes, and so does a formula with a superfluous
  constant that the refit sets to 0 or 1 (the noise fitted by one more C);
- exact with its constants: after `SearchResult.snap` on the training data
  (default tolerance on clean targets; on noisy ones a rise of the error by
  at most 4 / n of itself, about the 95 % bound of a likelihood-ratio test
  for one constant), the formula is the law up to algebraic equivalence,
  checked with SymPy: simplify(found - law) == 0 ("yes"), or, where simplify
  does not reduce the difference to 0 within 10 s, agreement to 40 digits at
  5 random points of the ranges ("numeric");
- R2: the test R^2 of the returned formula, and whether it exceeds 0.999;
- levels: the last level completed (fewer than max_complexity when the time
  limit or an exact fit ended the search), and the wall time.

Law definitions (public benchmark sets, written out here):

- Nguyen-1 to Nguyen-12: Nguyen Quang Uy, Nguyen Xuan Hoai, M. O'Neill,
  R. I. McKay and E. Galvan-Lopez, "Semantically-based crossover in genetic
  programming: application to real-valued symbolic regression", Genetic
  Programming and Evolvable Machines 12 (2011) 91-119; sampled on the usual
  ranges U[-1, 1] (1 to 6), U[0, 2] (7), U[0, 4] (8) and U[0, 1] (9 to 12).
- Feynman laws, named by their section in the Feynman Lectures: S.-M. Udrescu
  and M. Tegmark, "AI Feynman: a physics-inspired method for symbolic
  regression", Science Advances 6 (2020) eaay2631, with the sampling ranges
  of its equation table.

    python benchmarks/standard_laws.py                      # everything, 10 s per run
    python benchmarks/standard_laws.py --time-limit 1 --laws Nguyen-1 I.12.1
    python benchmarks/standard_laws.py --laws feynman --noise 0.01 --modes scaled
"""

import argparse
import math
import re
import statistics
import sys
import time
import warnings
import zlib
from pathlib import Path
from typing import Callable, NamedTuple

import numpy as np

try:
    import tov_sr
except ImportError:  # run from a checkout: use the build tree
    ROOT = Path(__file__).resolve().parent.parent
    sys.path[:0] = [str(ROOT / "build" / "py"), str(ROOT / "python")]
    import tov_sr


class Law(NamedTuple):
    text: str
    ranges: tuple  # one (low, high) per variable, sampled uniformly
    f: Callable


PI = math.pi
LAWS = {
    "Nguyen-1": Law("x^3 + x^2 + x", ((-1, 1),), lambda x: x**3 + x**2 + x),
    "Nguyen-2": Law("x^4 + x^3 + x^2 + x", ((-1, 1),), lambda x: x**4 + x**3 + x**2 + x),
    "Nguyen-3": Law("x^5 + ... + x", ((-1, 1),), lambda x: x**5 + x**4 + x**3 + x**2 + x),
    "Nguyen-4": Law("x^6 + ... + x", ((-1, 1),), lambda x: x**6 + x**5 + x**4 + x**3 + x**2 + x),
    "Nguyen-5": Law("sin(x^2) cos(x) - 1", ((-1, 1),), lambda x: np.sin(x**2) * np.cos(x) - 1),
    "Nguyen-6": Law("sin(x) + sin(x + x^2)", ((-1, 1),), lambda x: np.sin(x) + np.sin(x + x**2)),
    "Nguyen-7": Law("log(x + 1) + log(x^2 + 1)", ((0, 2),),
                    lambda x: np.log(x + 1) + np.log(x**2 + 1)),
    "Nguyen-8": Law("sqrt(x)", ((0, 4),), np.sqrt),
    "Nguyen-9": Law("sin(x) + sin(y^2)", ((0, 1),) * 2, lambda x, y: np.sin(x) + np.sin(y**2)),
    "Nguyen-10": Law("2 sin(x) cos(y)", ((0, 1),) * 2, lambda x, y: 2 * np.sin(x) * np.cos(y)),
    "Nguyen-11": Law("x^y", ((0, 1),) * 2, lambda x, y: x**y),
    "Nguyen-12": Law("x^4 - x^3 + y^2/2 - y", ((0, 1),) * 2,
                     lambda x, y: x**4 - x**3 + y**2 / 2 - y),
    "I.6.2a": Law("exp(-t^2/2) / sqrt(2 pi)", ((1, 3),),
                  lambda t: np.exp(-t**2 / 2) / np.sqrt(2 * PI)),
    "I.6.2": Law("exp(-(t/s)^2/2) / (sqrt(2 pi) s)", ((1, 3),) * 2,
                 lambda s, t: np.exp(-(t / s) ** 2 / 2) / (np.sqrt(2 * PI) * s)),
    "I.10.7": Law("m0 / sqrt(1 - v^2/c^2)", ((1, 5), (1, 2), (3, 10)),
                  lambda m0, v, c: m0 / np.sqrt(1 - v**2 / c**2)),
    "I.12.1": Law("mu N", ((1, 5),) * 2, lambda mu, n: mu * n),
    "I.12.4": Law("q1 / (4 pi eps r^2)", ((1, 5),) * 3,
                  lambda q1, eps, r: q1 / (4 * PI * eps * r**2)),
    "I.12.5": Law("q2 E", ((1, 5),) * 2, lambda q2, e: q2 * e),
    "I.14.3": Law("m g z", ((1, 5),) * 3, lambda m, g, z: m * g * z),
    "I.14.4": Law("k x^2 / 2", ((1, 5),) * 2, lambda k, x: k * x**2 / 2),
    "I.18.12": Law("r F sin(theta)", ((1, 5), (1, 5), (0, 5)), lambda r, f, th: r * f * np.sin(th)),
    "I.25.13": Law("q / C", ((1, 5),) * 2, lambda q, c: q / c),
    "I.26.2": Law("arcsin(n sin(theta2))", ((0, 1), (1, 5)), lambda n, t: np.arcsin(n * np.sin(t))),
    "I.29.4": Law("omega / c", ((1, 10),) * 2, lambda w, c: w / c),
    "I.34.27": Law("h omega / (2 pi)", ((1, 5),) * 2, lambda h, w: h * w / (2 * PI)),
    "I.39.1": Law("3/2 p V", ((1, 5),) * 2, lambda p, v: 1.5 * p * v),
    "I.47.23": Law("sqrt(gamma p / rho)", ((1, 5),) * 3, lambda g, p, rho: np.sqrt(g * p / rho)),
    "II.3.24": Law("P / (4 pi r^2)", ((1, 5),) * 2, lambda p, r: p / (4 * PI * r**2)),
    "II.8.31": Law("eps E^2 / 2", ((1, 5),) * 2, lambda eps, e: eps * e**2 / 2),
    "II.27.18": Law("eps E^2", ((1, 5),) * 2, lambda eps, e: eps * e**2),
    "II.38.14": Law("Y / (2 (1 + sigma))", ((1, 5),) * 2, lambda y, s: y / (2 * (1 + s))),
}  # fmt: skip
# The laws as SymPy expressions in v0, v1, v2 (the columns in order).
LAW_SYMPY = {
    "Nguyen-1": "v0**3 + v0**2 + v0",
    "Nguyen-2": "v0**4 + v0**3 + v0**2 + v0",
    "Nguyen-3": "v0**5 + v0**4 + v0**3 + v0**2 + v0",
    "Nguyen-4": "v0**6 + v0**5 + v0**4 + v0**3 + v0**2 + v0",
    "Nguyen-5": "sin(v0**2)*cos(v0) - 1",
    "Nguyen-6": "sin(v0) + sin(v0 + v0**2)",
    "Nguyen-7": "log(v0 + 1) + log(v0**2 + 1)",
    "Nguyen-8": "sqrt(v0)",
    "Nguyen-9": "sin(v0) + sin(v1**2)",
    "Nguyen-10": "2*sin(v0)*cos(v1)",
    "Nguyen-11": "v0**v1",
    "Nguyen-12": "v0**4 - v0**3 + v1**2/2 - v1",
    "I.6.2a": "exp(-v0**2/2)/sqrt(2*pi)",
    "I.6.2": "exp(-(v1/v0)**2/2)/(sqrt(2*pi)*v0)",
    "I.10.7": "v0/sqrt(1 - v1**2/v2**2)",
    "I.12.1": "v0*v1",
    "I.12.4": "v0/(4*pi*v1*v2**2)",
    "I.12.5": "v0*v1",
    "I.14.3": "v0*v1*v2",
    "I.14.4": "v0*v1**2/2",
    "I.18.12": "v0*v1*sin(v2)",
    "I.25.13": "v0/v1",
    "I.26.2": "asin(v0*sin(v1))",
    "I.29.4": "v0/v1",
    "I.34.27": "v0*v1/(2*pi)",
    "I.39.1": "3*v0*v1/2",
    "I.47.23": "sqrt(v0*v1/v2)",
    "II.3.24": "v0/(4*pi*v1**2)",
    "II.8.31": "v0*v1**2/2",
    "II.27.18": "v0*v1**2",
    "II.38.14": "v0/(2*(1 + v1))",
}
GROUPS = {
    "nguyen": [name for name in LAWS if name.startswith("Nguyen")],
    "feynman": [name for name in LAWS if not name.startswith("Nguyen")],
}
# The settings of each mode; "pairs" adds meet in the middle to "scaled".
MODES = {
    "plain": {"linear_scaling": False},
    "scaled": {"linear_scaling": True},
    "pairs": {"linear_scaling": True, "meet_in_the_middle": True},
}
DEFAULT_MODES = ["plain", "scaled"]
EXACT_NMSE = 1e-10


def sample(name, law, noise, n_train, n_test):
    """Training inputs, noisy training targets, clean training targets, test
    inputs and test targets. The points depend on the law only, the noise on
    the law and its level, so every mode and noise level sees the same points."""
    seed = zlib.crc32(name.encode())
    rng = np.random.default_rng(seed)
    low, high = np.array(law.ranges, dtype=float).T
    X = rng.uniform(low, high, size=(n_train + n_test, len(law.ranges)))
    y = law.f(*X.T)
    X_train, y_train, X_test, y_test = X[:n_train], y[:n_train], X[n_train:], y[n_train:]
    noise_rng = np.random.default_rng([seed, round(noise * 1e6)])
    scale = noise * np.sqrt(np.mean(y_train**2))
    noisy = y_train + noise_rng.normal(0.0, 1.0, n_train) * scale
    return X_train, noisy, y_train, X_test, y_test


# The formula text, evaluated like the engine does: complex arithmetic with
# principal branches, real part; constants in the order the Cs appear.
UNARY = {
    "Neg": np.negative, "Inv": np.reciprocal, "Exp": np.exp, "Log": np.log, "Sqrt": np.sqrt,
    "Sin": np.sin, "Cos": np.cos, "Tan": np.tan, "ArcSin": np.arcsin, "ArcCos": np.arccos,
    "ArcTan": np.arctan, "Square": lambda a: a * a, "Cube": lambda a: a * a * a,
}  # fmt: skip
BINARY = {
    "Plus": np.add, "Subtract": np.subtract, "Times": np.multiply, "Divide": np.divide,
    "TOV": lambda a, b: np.exp(a) - np.log(b),
}  # fmt: skip


def compile_formula(formula):
    """A function (X, parameters) -> real values for `formula`."""
    tokens = re.findall(r"v_\{\d+\}|[A-Za-z]+|[(),]", formula)
    position = 0

    def parse():
        nonlocal position
        token = tokens[position]
        position += 1
        if token == "C":
            return lambda X, p, k: (p[next(k)] + 0j) * np.ones(len(X))
        if token.startswith("v_"):
            column = int(token[3:-1])
            return lambda X, p, k: X[:, column].astype(complex)
        position += 1  # "("
        args = [parse()]
        while tokens[position] == ",":
            position += 1
            args.append(parse())
        position += 1  # ")"
        op = UNARY[token] if len(args) == 1 else BINARY[token]
        return lambda X, p, k: op(*[arg(X, p, k) for arg in args])

    tree = parse()

    def evaluate(X, parameters):
        with np.errstate(all="ignore"):
            return tree(X, parameters, iter(range(len(parameters)))).real

    return evaluate


def nmse(predicted, y):
    if not np.all(np.isfinite(predicted)):
        return math.inf
    return float(np.mean((predicted - y) ** 2) / np.var(y))


def family_holds_law(result, X_train, y_train, X_test, y_test, returned_nmse):
    """Whether refitting the constants to clean targets makes the formula exact."""
    if returned_nmse < EXACT_NMSE:
        return True
    if not result.parameters:
        return False
    try:
        from scipy.optimize import least_squares
    except ImportError:
        return None
    evaluate = compile_formula(result.formula)

    def residuals(p):
        r = evaluate(X_train, p) - y_train
        return np.where(np.isfinite(r), r, 1e6)

    try:
        fitted = least_squares(residuals, result.parameters, method="lm", xtol=1e-15, ftol=1e-15)
    except ValueError:  # fewer samples than constants, or a non-finite start
        return False
    return nmse(evaluate(X_test, fitted.x), y_test) < EXACT_NMSE


def exact_with_constants(result, name, law, X_train, y_train, noise):
    """Whether the snapped formula is the law: "yes" (SymPy's simplify),
    "numeric" (40 digits at 5 random points), False, or None without SymPy."""
    try:
        import sympy
        from tov_sr_tools import to_sympy
    except ImportError:
        return None
    tolerance = None if noise == 0 else 4 * result.error / len(y_train)
    try:
        snapped = result.snap(X_train, y_train, tolerance=tolerance)
    except ValueError:  # no finite error on the training points
        return False
    names = [f"v{j}" for j in range(len(law.ranges))]
    symbols = {n: sympy.Symbol(n, real=True) for n in names}
    truth = sympy.sympify(LAW_SYMPY[name], locals=symbols)
    try:
        found = to_sympy(snapped, names)
    except ValueError:
        return False
    if found.has(sympy.Float):  # a constant did not snap
        return False
    difference = found - truth
    rng = np.random.default_rng(zlib.crc32(name.encode()) + 1)
    for _ in range(5):
        point = {symbols[n]: sympy.Rational(rng.uniform(low, high)) for n, (low, high)
                 in zip(names, law.ranges)}  # fmt: skip
        try:
            off = float(abs(sympy.re(difference.evalf(60, subs=point))))
            scale = max(1.0, float(abs(truth.evalf(60, subs=point))))
        except TypeError:  # not a number there
            return False
        if not off <= scale * 1e-40:  # NaN fails too
            return False
    return "yes" if simplifies_to_zero(difference, seconds=10) else "numeric"


def simplifies_to_zero(expression, seconds):
    """simplify(expression) == 0, given up after `seconds` (False then)."""
    import signal

    import sympy

    def give_up(signum, frame):
        raise TimeoutError

    previous = signal.signal(signal.SIGALRM, give_up)
    signal.alarm(seconds)
    try:
        return sympy.simplify(expression) == 0
    except (TimeoutError, TypeError, ValueError):
        return False
    finally:
        signal.alarm(0)
        signal.signal(signal.SIGALRM, previous)


def run(name, noise, mode, options):
    law = LAWS[name]
    X_train, y_noisy, y_clean, X_test, y_test = sample(name, law, noise, *options.samples)
    searcher = tov_sr.Searcher(
        max_complexity=options.max_complexity,
        beam_width=options.beam_width,
        verbose=False,
        time_limit=options.time_limit,
        **MODES[mode],
    )
    levels = []
    start = time.perf_counter()
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", tov_sr.TovTimeLimitWarning)
            result = searcher.fit(X_train, y_noisy, callback=lambda r: levels.append(r.level))
    except tov_sr.TovComplexityError as error:
        result = error
    seconds = time.perf_counter() - start
    row = {"law": name, "noise": noise, "mode": mode, "seconds": seconds,
           "levels": max(levels, default=0)}  # fmt: skip
    if isinstance(result, Exception):
        return {**row, "exact": False, "family": False, "constants": False, "r2": -math.inf,
                "formula": str(result)}  # fmt: skip
    error = nmse(np.asarray(result.eval_batch(X_test)), y_test)
    family = family_holds_law(result, X_train, y_clean, X_test, y_test, error)
    constants = exact_with_constants(result, name, law, X_train, y_noisy, noise)
    return {**row, "exact": error < EXACT_NMSE, "family": family, "constants": constants,
            "r2": 1.0 - error, "formula": result.formula}  # fmt: skip


def mark(value):
    if isinstance(value, str):
        return value
    return "n/a" if value is None else ("yes" if value else "no")


def print_summary(rows, noises):
    print("\n| mode | noise | runs | exact | family | exact with its constants | R2 > 0.999 "
          "| median time s |")
    print("|---|---|---|---|---|---|---|---|")
    for mode in dict.fromkeys(row["mode"] for row in rows):
        for noise in [*noises, "all"]:
            subset = [r for r in rows if r["mode"] == mode and noise in ("all", r["noise"])]
            if not subset:
                continue
            count = lambda key: sum(bool(r[key]) for r in subset)  # noqa: E731
            good = sum(r["r2"] > 0.999 for r in subset)
            median = statistics.median(r["seconds"] for r in subset)
            label = noise if noise == "all" else f"{noise:g}"
            print(f"| {mode} | {label} | {len(subset)} | {count('exact')} | {count('family')} "
                  f"| {count('constants')} | {good} | {median:.2f} |")  # fmt: skip


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--time-limit", type=float, default=10.0, help="seconds per run")
    parser.add_argument("--laws", nargs="+", default=list(LAWS),
                        help="law names, or the groups 'nguyen' and 'feynman'")
    parser.add_argument("--noise", type=float, nargs="+", default=[0.0, 0.001, 0.01],
                        help="noise levels, as fractions of RMS(y)")
    parser.add_argument("--modes", nargs="+", choices=list(MODES), default=DEFAULT_MODES)
    parser.add_argument("--samples", type=int, nargs=2, default=[100, 200],
                        metavar=("TRAIN", "TEST"), help="training and test points")
    parser.add_argument("--max-complexity", type=int, default=10)
    parser.add_argument("--beam-width", type=int, default=1000)
    options = parser.parse_args()  # fmt: skip
    names = [law for name in options.laws for law in GROUPS.get(name.lower(), [name])]
    unknown = [name for name in names if name not in LAWS]
    if unknown:
        parser.error(f"unknown laws {', '.join(unknown)}; known: {', '.join(LAWS)}")

    print(f"time limit {options.time_limit} s, max_complexity {options.max_complexity}, "
          f"beam_width {options.beam_width}, {options.samples[0]} training and "
          f"{options.samples[1]} test points\n")  # fmt: skip
    print("| law | definition | noise | mode | exact | family | exact with its constants "
          "| test R2 | R2 > 0.999 | levels | time s | formula |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|")
    rows = []
    for name in names:
        for noise in options.noise:
            for mode in options.modes:
                row = run(name, noise, mode, options)
                rows.append(row)
                print(f"| {name} | {LAWS[name].text} | {noise:g} | {mode} | {mark(row['exact'])} "
                      f"| {mark(row['family'])} | {mark(row['constants'])} | {row['r2']:.10f} "
                      f"| {mark(row['r2'] > 0.999)} "
                      f"| {row['levels']} | {row['seconds']:.2f} | `{row['formula']}` |",
                      flush=True)  # fmt: skip
    print_summary(rows, options.noise)
    return 0


if __name__ == "__main__":
    sys.exit(main())
