"""Physical units: the Lorentz force F = q (E + B v sin(theta)) in five
variables, found in a second through its dimensionless groups.

With the units of the columns and of the target, the search runs on the
groups theta and B v / E and on F / (q E), where the law is
1 + (B v / E) sin(theta): six tokens instead of eleven. Without them a
search of formulas up to ten tokens does not reach the law in five seconds.
"""

import warnings

import numpy as np
import tov_sr

rng = np.random.default_rng(1)
samples = rng.uniform(1.0, 5.0, size=(100, 5))
samples[:, 4] = rng.uniform(0.0, 3.0, size=100)
q, E, B, v, theta = samples.T
force = q * (E + B * v * np.sin(theta))

searcher = tov_sr.Searcher(max_complexity=6, beam_width=300, verbose=False)
result = searcher.find_multivariate(
    samples, force, x_units=["C", "V/m", "T", "m/s", "rad"], y_units="N"
)
print("with units:", result)
analysis = result.dimensional_analysis
print("groups:", ", ".join(f"pi_{{{i}}} = {g}" for i, g in enumerate(analysis["groups"])))
print("M =", analysis["monomial"], " f =", analysis["formula"])
print("F(q=2, E=3, B=0.5, v=4, theta=1) =", result.eval([2.0, 3.0, 0.5, 4.0, 1.0]))

unbounded = tov_sr.Searcher(max_complexity=10, beam_width=300, time_limit=5, verbose=False)
with warnings.catch_warnings():
    warnings.simplefilter("ignore", tov_sr.TovTimeLimitWarning)
    plain = unbounded.find_multivariate(samples, force)
print("without units:", plain)
