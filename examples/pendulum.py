"""A law in one variable: the period of a pendulum from its length.

T = 2 pi sqrt(L / g), sampled without noise; the search finds the form
C * sqrt(L) and fits C = 2 pi / sqrt(g) to full precision.
"""

import math

import numpy as np
import tov_sr
from tov_sr_tools import silence_search_output

g = 9.81
lengths = np.linspace(0.1, 2.0, 20)  # metres
periods = 2.0 * np.pi * np.sqrt(lengths / g)  # seconds

searcher = tov_sr.Searcher(max_complexity=5, beam_width=200)
with silence_search_output():  # the search's progress lines are not needed here
    result = searcher.find_function(lengths, periods)

print(result)
print("T(L) =", result.to_python().replace("v_{0}", "L"))
(c,) = result.parameters
print(f"C = {c!r}, 2 pi / sqrt(g) = {2.0 * math.pi / math.sqrt(g)!r}")
print("Period of a 1.5 m pendulum:", result.eval(1.5), "s")
