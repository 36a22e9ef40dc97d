"""Closed forms for single numbers.

A number is a search over one sample at v_{0} = 0. With a free constant C
allowed, a two-token formula such as Tan(C) always matches, which names
nothing; an L1 penalty on the constants (alpha, l1_ratio=1) makes every C
cost its size, so formulas built only from v_{0} = 0 win: Exp(v_{0}) is 1,
ArcCos(Neg(Exp(v_{0}))) is pi. An error of 0 means the closed form is exact;
anything else is the nearest miss the search found.
"""

import math

import tov_sr
from tov_sr_tools import silence_search_output

numbers = {
    "pi^2": math.pi**2,
    "e + 1": math.e + 1.0,
    "sqrt(2)": math.sqrt(2.0),
    "golden ratio": (1.0 + math.sqrt(5.0)) / 2.0,
}

free = tov_sr.Searcher(max_complexity=4, beam_width=100)
closed = tov_sr.Searcher(max_complexity=7, beam_width=1000, alpha=1.0, l1_ratio=1.0)
for name, value in numbers.items():
    with silence_search_output():
        fitted = free.recognize_constant(value)
        result = closed.recognize_constant(value)
    print(f"{name} = {value!r}")
    print(f"  with a free constant: {fitted.formula}, C = {fitted.parameters}")
    print(f"  without:              {result.formula}  (error {result.error:.3g})")
    print(f"                        {result.to_python().replace('v_{0}', '0')}")
