"""A law measured with noise: the energy of a stretched spring, U = k x^2 / 2.

The stiffness k and the stretch x are drawn at random; the energy is
measured with Gaussian noise of 1 % of its RMS. Variables are the columns:
v_{0} = k, v_{1} = x.

- `linear_scaling=True` judges every formula f after its best a f + b, so
  the factor 1/2 costs nothing during the search and k x^2 is found at size 4.
- `target_error` ends the search once a formula is about as accurate as the
  noise allows: there is nothing more to explain.
- On noisy data the most accurate formula of a staircase fits the noise too;
  the "score" and "bic" rules of `select` pick the law instead.
- `time_limit` bounds a search whose size is not known in advance.
"""

import warnings

import numpy as np
import tov_sr
from tov_sr_tools import select

rng = np.random.default_rng(0)
samples = rng.uniform(1.0, 5.0, size=(100, 2))
k, x = samples.T
energy = 0.5 * k * x**2
sigma = 0.01 * np.sqrt(np.mean(energy**2))
measured = energy + rng.normal(0.0, sigma, energy.size)
print(f"noise variance: {sigma**2:.4g}")

# The error of the true law fluctuates around the noise variance by about
# sqrt(2 / 100) = 14 %, so the target leaves room above it.
searcher = tov_sr.Searcher(verbose=False, linear_scaling=True, target_error=1.5 * sigma**2)
levels = []
result = searcher.fit(samples, measured, callback=lambda report: levels.append(report.level))
print("target error:", result)
print(f"  a = {result.parameters[0]:.4f}, b = {result.parameters[1]:.4f}, levels run: {levels}")

staircase = tov_sr.Searcher(
    max_complexity=6, beam_width=100, verbose=False, linear_scaling=True
).find_candidates(samples, measured)
print("staircase:")
for entry in staircase:
    print(f"  {entry.complexity:2d}  {entry.error:.6g}  {entry.formula}")
print("most accurate:", staircase[0].formula)
print("score:", select(staircase, "score").formula)
print("bic:  ", select(staircase, "bic", n_samples=len(measured)).formula)

# Which level the budget reaches depends on the machine; the warning says.
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always", tov_sr.TovTimeLimitWarning)
    budget = tov_sr.Searcher(verbose=False, time_limit=1.0).fit(samples, measured)
print("time limit:", budget)
for warning in caught:
    print("  warning:", warning.message)
