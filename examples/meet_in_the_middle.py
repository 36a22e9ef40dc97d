"""Laws twice as long as the levels reach: `meet_in_the_middle=True`.

After every level the search looks up, for each formula it retained, the
values the other half of a product or quotient must have, among the values
of the formulas it retained; a hit is written as one formula and refined as
a whole. With `max_terms` the sums are also fitted under a root (the square
root of a sum of squares, a factor times a sum). Three laws:

- the Lorentz transformation (x - u t) / sqrt(1 - u^2/c^2), 13 tokens, from
  levels up to 5;
- the length of a distance, sqrt((x2 - x1)^2 + (y2 - y1)^2);
- the kinetic energy m (v^2 + u^2 + w^2) / 2.
"""

import numpy as np
import tov_sr

rng = np.random.default_rng(1)


def show(label, plain, paired):
    print(f"{label}:")
    print(f"  without: {plain.formula}  (error {plain.error:.3g})")
    print(f"  with:    {paired.formula}  (error {paired.error:.3g})")


def both(X, y, **settings):
    return [
        tov_sr.Searcher(verbose=False, linear_scaling=True, meet_in_the_middle=m, **settings).fit(X, y)
        for m in (False, True)
    ]


x, u, t, c = rng.uniform(1, 5, 60), rng.uniform(1, 2, 60), rng.uniform(1, 2, 60), rng.uniform(3, 6, 60)
X = np.column_stack([x, u, t, c])
show("Lorentz", *both(X, (x - u * t) / np.sqrt(1 - (u / c) ** 2), max_complexity=5))

X = rng.uniform(1, 5, (60, 4))
distance = np.sqrt((X[:, 1] - X[:, 0]) ** 2 + (X[:, 3] - X[:, 2]) ** 2)
show("distance", *both(X, distance, max_complexity=5, max_terms=2))

X = rng.uniform(1, 5, (60, 4))
energy = 0.5 * X[:, 0] * (X[:, 1] ** 2 + X[:, 2] ** 2 + X[:, 3] ** 2)
show("kinetic energy", *both(X, energy, max_complexity=3, max_terms=3))
