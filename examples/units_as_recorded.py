"""Units as a laboratory records them: a measured data set in a pint-pandas
DataFrame, and the law in the columns' own names.

A charge q (µC) moving at speed v (km/s) at angle theta (rad) to a magnetic
field B (mT), in an electric field E (V/m), feels the force F (µN). The
measurements, with 0.1 % noise on F, are written to a CSV file with a
second header row of units, as instruments export them, and read back into
a DataFrame whose columns carry their units (pint-pandas). The search takes
the units and the names from the columns: it runs on the dimensionless
groups theta and B v / E, and prints q E (1 + B v / E sin(theta)) in q, E,
B, v and theta.
"""

import numpy as np
import pandas as pd
import pint_pandas  # noqa: F401  (registers the "pint" dtypes and accessors)
import tov_sr
from tov_sr_tools import TovRegressor
from tov_sr_tools.export import to_text

# The measurements, as an instrument would save them.
rng = np.random.default_rng(7)
n = 60
q, E, B, v = rng.uniform(1.0, 5.0, size=(4, n))
theta = rng.uniform(0.0, 3.0, n)
F = q * (E + B * v * np.sin(theta)) * (1.0 + 0.001 * rng.standard_normal(n))
recorded = pd.DataFrame(
    {
        ("q", "µC"): q,
        ("E", "V/m"): E,
        ("B", "mT"): B,
        ("v", "km/s"): v,
        ("theta", "rad"): theta,
        ("F", "µN"): F,
    }
)
recorded.to_csv("lorentz.csv", index=False)

# Notebook cell: load it, units and all.
frame = pd.read_csv("lorentz.csv", header=[0, 1]).pint.quantify(level=-1)
print(frame.dtypes.to_string())
inputs, force = frame[["q", "E", "B", "v", "theta"]], frame["F"]

# The searcher reads the magnitudes, the units and the names.
searcher = tov_sr.Searcher(max_complexity=6, beam_width=300, verbose=False)
result = searcher.find_multivariate(inputs, force)
print("result:", result)
print("variables:", result.variable_names)
analysis = result.dimensional_analysis
print("groups:", ", ".join(f"pi_{i} = {g}" for i, g in enumerate(analysis["groups"])))
print("M =", analysis["monomial"])
print("law: F =", to_text(result))
print("LaTeX:", result.to_latex())
print("Python:", result.to_python())

# The estimator takes the same DataFrame, and prints its law.
model = TovRegressor(max_complexity=6, beam_width=300).fit(inputs, force)
print("estimator:", model)
print("R^2 =", round(model.score(inputs, force), 6))
