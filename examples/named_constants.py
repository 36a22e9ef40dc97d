"""Closed forms for numbers, built from named constants.

With constants="named" the leaves of every formula are the integers 1 to 5,
pi and e instead of a fitted constant C, so a number is matched only by a
genuine closed form. A number that has none up to max_complexity comes back
as the nearest formula found, with an error above 0 and a warning that says
so. A wide beam keeps the parts of a closed form that are far from the
number itself (1 + sqrt(5) on the way to the golden ratio).
"""

import math
import warnings

import tov_sr

searcher = tov_sr.Searcher(max_complexity=7, beam_width=3000, verbose=False, constants="named")
numbers = {
    "golden ratio": (1.0 + math.sqrt(5.0)) / 2.0,
    "sqrt(2) + sqrt(3)": math.sqrt(2.0) + math.sqrt(3.0),
    "pi^2": math.pi**2,
    "e^pi": math.exp(math.pi),
    "ln 2": math.log(2.0),
}
for name, value in numbers.items():
    result = searcher.recognize_constant(value)
    print(f"{name}: {result.formula}  (error {result.error:.3g})")
    print(f"    LaTeX {result.to_latex()}, NumPy {result.to_python()}")

# The Dottie number solves cos(x) = x and has no closed form.
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    miss = searcher.recognize_constant(0.7390851332151607)
print(f"Dottie number: {miss.formula}  (error {miss.error:.3g}: a near miss)")
print(f"    warning: {caught[0].message}")
