"""Steering a search: the operators it may use, a time budget, a progress
callback that can stop it, sample weights and a row subset for large data.

The data: the drag force on a sphere, F = c v^2, measured at 20 000 speeds,
with a few faulty readings that get weight 0.
"""

import math
import warnings

import numpy as np
import tov_sr

rng = np.random.default_rng(1)
speed = rng.uniform(0.5, 20.0, 20_000)
force = 0.47 * speed**2
faulty = rng.choice(speed.size, 25, replace=False)
force[faulty] *= 3.0
weights = np.ones_like(force)
weights[faulty] = 0.0

# Only arithmetic operators; the levels searched on 500 rows spread over the
# data, the final formulas refitted and scored on all 20 000.
arithmetic = ["Neg", "Inv", "Plus", "Times", "Subtract", "Divide", "Square", "Cube"]
searcher = tov_sr.Searcher(
    max_complexity=6, operators=arithmetic, max_search_rows=500, verbose=False
)


def progress(report):
    print(
        f"  level {report.level}: {report.candidates} candidates in {report.seconds:.3f} s, "
        f"best {report.best_formula} ({report.best_error:.3g})"
    )
    return report.best_error < 1e-20  # stop as soon as the law is exact


result = searcher.find_function(speed, force, weights=weights, callback=progress)
print("drag:", result)
print(f"  c = {result.parameters[0]:.6f}")

# A budget in seconds: the search returns the levels it completed, and warns.
xs = [0.05 * i for i in range(1, 200)]
ys = [math.sin(x) * math.exp(-x / 4) + math.log1p(x) for x in xs]
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always", tov_sr.TovTimeLimitWarning)
    budgeted = tov_sr.Searcher(time_limit=2.0, verbose=False).find_function(xs, ys)
print("within 2 s:", budgeted)
for warning in caught:
    print("  warning:", warning.message)
