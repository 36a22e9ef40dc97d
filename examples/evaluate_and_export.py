"""Using a found formula: evaluation, renderings, full-precision constants,
SymPy, and saving it with pickle.

Data: Newton's cooling, T(t) = 20 + 50 exp(-t) (t in units of the time
constant), without noise.
"""

import os
import pickle
import tempfile

import numpy as np
import sympy
import tov_sr
from tov_sr_tools import silence_search_output, to_sympy

times = np.linspace(0.0, 5.0, 21)
temperatures = 20.0 + 50.0 * np.exp(-times)
with silence_search_output():
    result = tov_sr.Searcher(max_complexity=6, beam_width=200).find_function(times, temperatures)
print(result)

# Evaluation: one point, or many rows at once (one variable per column).
print("T(0.5) =", result.eval(0.5))
print("T at 0, 1, 10:", result.eval_batch(np.array([[0.0], [1.0], [10.0]])))

# Renderings round the constants to four decimals; `parameters` holds the
# fitted values exactly, in the order the C's appear in `formula`.
print("LaTeX: ", result.to_latex())
print("Python:", result.to_python())
print("parameters:", result.parameters)

# SymPy, with a chosen variable name and the exact constants; lambdify gives
# a vectorised function that agrees with eval_batch up to rounding.
t = sympy.Symbol("t", real=True)
expression = to_sympy(result, feature_names=["t"])
print("SymPy:", expression, "  dT/dt:", sympy.diff(expression, t))
f = sympy.lambdify(t, expression, "numpy")
difference = np.max(np.abs(f(times) - result.eval_batch(times[:, None])))
print("largest difference to eval_batch:", difference)

# Saving: a pickled result restores bit for bit.
path = os.path.join(tempfile.mkdtemp(), "cooling.pickle")
with open(path, "wb") as file:
    pickle.dump(result, file)
with open(path, "rb") as file:
    restored = pickle.load(file)
print("restored:", restored, restored.parameters == result.parameters)
