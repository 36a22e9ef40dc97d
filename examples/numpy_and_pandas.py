"""Data as NumPy arrays and as pandas DataFrames.

tov_sr reads float64 arrays directly (2-D inputs of any strides, so column
slices need no copy); other dtypes and DataFrames go through NumPy. The
estimator in tov_sr_tools takes DataFrames as they are and names the
variables after the columns.
"""

import numpy as np
import pandas as pd
import tov_sr
from tov_sr_tools import TovRegressor, silence_search_output, staircase_frame

rng = np.random.default_rng(1)
frame = pd.DataFrame(
    {
        "voltage": rng.uniform(1.0, 12.0, 25),
        "resistance": rng.uniform(10.0, 100.0, 25),
        "temperature": rng.uniform(15.0, 30.0, 25),  # irrelevant to the law
    }
)
frame["power"] = frame["voltage"] ** 2 / frame["resistance"]

# NumPy: a strided view of two columns, no copy.
table = frame[["voltage", "resistance", "temperature"]].to_numpy()
inputs = table[:, :2]
searcher = tov_sr.Searcher(max_complexity=5, beam_width=200)
with silence_search_output():
    result = searcher.find_multivariate(inputs, frame["power"].to_numpy())
print("NumPy:", result.formula, "error", result.error)

# pandas: the estimator keeps the column names.
features = frame[["voltage", "resistance", "temperature"]]
model = TovRegressor(max_complexity=5, beam_width=200).fit(features, frame["power"])
print("pandas:", model.result_.formula, "with variables", list(model.feature_names_in_))
print("SymPy:", model.sympy())
print("R^2 =", model.score(features, frame["power"]))

# The whole staircase, most complex first.
print(staircase_frame(model.candidates_).to_string(index=False))
