#!/usr/bin/env python3
"""Sums of terms and products of powers (`max_terms`): long laws, monomials,
measured data, and what the stage costs.

Prints markdown tables:

- laws: Nguyen-1 to Nguyen-4 (x from U[-1, 1], 20 points; the eight
  arithmetic operators, max_complexity 6, beam 1000, max_terms 5) and
  monomials in 4, 5 and 6 variables (U[1, 4], 40 points; all operators,
  max_complexity 4, beam 100, max_terms 6), each searched with a 10 s time
  limit without and with `max_terms`; "exact" means a normalised test MSE
  (1 - R^2 on 200 noise-free test points) below 1e-20, which only the law
  itself reaches (a close approximation by a sum reaches 1e-10);
- data: test R^2 on a fixed 75/25 split (random_state 0) of scikit-learn's
  diabetes data and of Friedman #1 and #2 (`make_friedman1`/`2`, 400
  samples, noise 1 and 10), for `LinearRegression`, the best single formula
  (a plain search with linear scaling, the staircase entry chosen by 5-fold
  cross-validation) and the sums of short terms (Neg, Plus, Times,
  Subtract, Square and Cube, max_complexity 2, `max_terms=10`, chosen by
  cross-validation and by "bic"), with the terms and tokens of the chosen
  formula and the seconds of the last fit;
- cost: wall seconds of one search with and without `max_terms=3` at the
  same size.

Nguyen laws: Nguyen Quang Uy et al., Genetic Programming and Evolvable
Machines 12 (2011) 91-119. Friedman data: J. H. Friedman, "Multivariate
adaptive regression splines", Annals of Statistics 19 (1991) 1-67.

    python benchmarks/terms.py
"""

import sys
import time
import warnings
from pathlib import Path

import numpy as np

try:
    import tov_sr
except ImportError:  # run from a checkout: use the build tree
    ROOT = Path(__file__).resolve().parent.parent
    sys.path[:0] = [str(ROOT / "build" / "py"), str(ROOT / "python")]
    import tov_sr

from tov_sr_tools import TovRegressor

NGUYEN = {
    "Nguyen-1": lambda x: x**3 + x**2 + x,
    "Nguyen-2": lambda x: x**4 + x**3 + x**2 + x,
    "Nguyen-3": lambda x: x**5 + x**4 + x**3 + x**2 + x,
    "Nguyen-4": lambda x: x**6 + x**5 + x**4 + x**3 + x**2 + x,
}

MONOMIALS = {
    "q1 q2 / (4 pi eps r^2) (4 variables)": (
        4,
        lambda v: v[0] * v[1] / (4.0 * np.pi * v[2] * v[3] ** 2),
    ),
    "n p^2 E / (3 k T) (5 variables)": (
        5,
        lambda v: v[0] * v[1] ** 2 * v[2] / (3.0 * v[3] * v[4]),
    ),
    "m1^2 m2 m3 r^1.5 / (G t) (6 variables)": (
        6,
        lambda v: 0.25 * v[0] ** 2 * v[1] * v[2] * v[3] ** 1.5 / (v[4] * v[5]),
    ),
}


def searched(searcher, X, y):
    start = time.perf_counter()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", tov_sr.TovTimeLimitWarning)
        result = searcher.find_multivariate(X, y)
    return result, time.perf_counter() - start


ARITHMETIC = ["Neg", "Inv", "Plus", "Times", "Subtract", "Divide", "Square", "Cube"]
POLYNOMIAL = ["Neg", "Plus", "Times", "Subtract", "Square", "Cube"]


def exact(result, X, y):
    predicted = np.array(result.predict(X))
    if not np.all(np.isfinite(predicted)):
        return False
    return float(np.mean((predicted - y) ** 2) / np.var(y)) < 1e-20


def law_rows():
    rng = np.random.default_rng(0)
    print("| law | plain: exact, tokens, s | max_terms: exact, tokens, s | formula with max_terms |")
    print("|---|---|---|---|")
    cases = []
    for name, law in NGUYEN.items():
        x = rng.uniform(-1.0, 1.0, (20, 1))
        test = rng.uniform(-1.0, 1.0, (200, 1))
        cases.append((name, x, law(x[:, 0]), test, law(test[:, 0]), 6, 1000, 5, ARITHMETIC))
    for name, (d, law) in MONOMIALS.items():
        X = rng.uniform(1.0, 4.0, (40, d))
        test = rng.uniform(1.0, 4.0, (200, d))
        cases.append((name, X, law(X.T), test, law(test.T), 4, 100, 6, None))
    for name, X, y, test, test_y, size, beam, terms, operators in cases:
        cells = []
        for k in (1, terms):
            searcher = tov_sr.Searcher(
                max_complexity=size,
                beam_width=beam,
                operators=operators,
                verbose=False,
                time_limit=10,
                max_terms=k,
            )
            result, seconds = searched(searcher, X, y)
            found = "yes" if exact(result, test, test_y) else "no"
            cells.append(f"{found}, {result.complexity}, {seconds:.2f}")
        print(f"| {name} | {cells[0]} | {cells[1]} | `{result.formula}` |")


def data_sets():
    from sklearn.datasets import load_diabetes, make_friedman1, make_friedman2

    X, y = load_diabetes(return_X_y=True)
    yield "diabetes (442 x 10)", X, y
    X, y = make_friedman1(n_samples=400, noise=1.0, random_state=0)
    yield "Friedman #1 (400 x 10)", X, y
    X, y = make_friedman2(n_samples=400, noise=10.0, random_state=0)
    yield "Friedman #2 (400 x 4)", X, y


def data_rows():
    from sklearn.linear_model import LinearRegression
    from sklearn.model_selection import train_test_split

    print(
        "| data | LinearRegression | single formula (terms, tokens) "
        "| sums, cv (terms, tokens) | sums, bic (terms, tokens) | s |"
    )
    print("|---|---:|---:|---:|---:|---:|")
    for name, X, y in data_sets():
        X_train, X_test, y_train, y_test = train_test_split(
            X, y, test_size=0.25, random_state=0
        )
        ols = LinearRegression().fit(X_train, y_train).score(X_test, y_test)
        cells = []
        seconds = 0.0
        for selection, settings in (
            ("cv", dict(max_complexity=6, beam_width=200, linear_scaling=True)),
            ("cv", dict(max_complexity=2, beam_width=300, operators=POLYNOMIAL, max_terms=10)),
            ("bic", dict(max_complexity=2, beam_width=300, operators=POLYNOMIAL, max_terms=10)),
        ):
            start = time.perf_counter()
            model = TovRegressor(selection=selection, **settings).fit(X_train, y_train)
            seconds = time.perf_counter() - start
            terms = max(1, model.result_.formula.count("Times(C, "))
            cells.append(
                f"{model.score(X_test, y_test):.3f} ({terms}, {model.result_.complexity})"
            )
        print(f"| {name} | {ols:.3f} | {cells[0]} | {cells[1]} | {cells[2]} | {seconds:.1f} |")


def cost_rows():
    rng = np.random.default_rng(1)
    X = rng.uniform(0.5, 2.0, (200, 3))
    y = X[:, 0] ** 2 + 2.0 * np.sin(X[:, 1]) + X[:, 2] / X[:, 0] + rng.normal(0, 0.01, 200)
    print("| search | plain s | max_terms=3 s | ratio |")
    print("|---|---:|---:|---:|")
    for size, beam in ((5, 300), (6, 1000)):
        times = []
        for k in (1, 3):
            searcher = tov_sr.Searcher(
                max_complexity=size, beam_width=beam, verbose=False, max_terms=k
            )
            start = time.perf_counter()
            searcher.find_candidates(X, y)
            times.append(time.perf_counter() - start)
        print(
            f"| 3 variables, 200 rows, max_complexity {size}, beam {beam} | "
            f"{times[0]:.2f} | {times[1]:.2f} | {times[1] / times[0]:.2f} |"
        )


if __name__ == "__main__":
    law_rows()
    print()
    data_rows()
    print()
    cost_rows()
