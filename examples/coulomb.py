"""A law in several variables: Coulomb's force between two charges.

F = k q1 q2 / r^2 with k = 8.99 (in units of 1e9 N m^2 / C^2), sampled at
random charges and distances without noise. Variables are the columns:
v_{0} = q1, v_{1} = q2, v_{2} = r.
"""

import numpy as np
import tov_sr
from tov_sr_tools import silence_search_output

rng = np.random.default_rng(0)
samples = rng.uniform(1.0, 5.0, size=(30, 3))
q1, q2, r = samples.T
force = 8.99 * q1 * q2 / r**2

searcher = tov_sr.Searcher(max_complexity=8, beam_width=200)
with silence_search_output():
    result = searcher.find_multivariate(samples, force)

print(result)
print("LaTeX:", result.to_latex())
print("k =", result.parameters[0])
print("F(q1=2, q2=3, r=0.5) =", result.eval([2.0, 3.0, 0.5]))
