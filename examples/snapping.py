"""Fitted constants snapped to exact closed forms.

A search fits its constants as doubles: the energy of a quantum h omega /
(2 pi) comes back with C = 0.15915494309189535. `snap` replaces each fitted
constant by the simplest closed form of its family (p/q times 1, pi, 1/pi,
sqrt 2, sqrt 3, e, sqrt pi, ...) that fits the data as well to within the
rounding of the targets, refitting the other constants; one without such a
form (g/2 = 4.905 below) is left as it is.
"""

import numpy as np
import tov_sr
from tov_sr_tools import to_sympy

rng = np.random.default_rng(0)
searcher = tov_sr.Searcher(max_complexity=5, beam_width=200, verbose=False)

X = rng.uniform(1.0, 5.0, size=(100, 2))  # columns h and omega
y = X[:, 0] * X[:, 1] / (2 * np.pi)
fitted = searcher.fit(X, y)
exact = fitted.snap(X, y)
print("fitted: ", fitted.formula, fitted.parameters)
print("snapped:", exact)
print("LaTeX:  ", exact.to_latex())
print("NumPy:  ", exact.to_python())
print("SymPy:  ", to_sympy(exact, ["h", "omega"]))

t = rng.uniform(0.5, 3.0, size=(50, 1))
fall = searcher.fit(t, 9.81 * t[:, 0] ** 2 / 2)
print("free fall:", fall.snap(t, 9.81 * t[:, 0] ** 2 / 2).formula, fall.parameters)
