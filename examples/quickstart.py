"""Quickstart: recover a law from data made on the spot, then name a number."""
import math

import tov_sr

# Free fall: distance d = g t^2 / 2 with g = 9.81, sampled at 20 instants.
xs = [0.25 * i for i in range(1, 21)]
ys = [0.5 * 9.81 * t * t for t in xs]

searcher = tov_sr.Searcher(max_complexity=7, beam_width=200)
result = searcher.find_function(xs, ys)
print(result)
print("LaTeX: ", result.to_latex())
print("NumPy: ", result.to_python())
print("f(3.0) =", result.eval(3.0))

constant = searcher.recognize_constant(math.sqrt(2.0))
print(constant, "->", constant.to_python())
