"""Many independent searches in local processes with joblib: one formula per
sensor, each from its own calibration data.

Each search uses all hardware threads of its process; several processes run
several searches at once, and the results come back pickled.
"""

import numpy as np
import tov_sr
from joblib import Parallel, delayed

readings = np.linspace(0.5, 4.0, 30)
calibrations = {
    "thermistor": 120.0 * np.exp(-readings),
    "strain gauge": 3.5 * readings**2,
    "flow meter": 0.8 * np.sqrt(readings),
}
searcher = tov_sr.Searcher(max_complexity=5, beam_width=100)


def calibrate(values):
    """Runs in a worker process (sent there by value, searcher included)."""
    from tov_sr_tools import silence_search_output

    with silence_search_output():
        return searcher.find_function(readings, values)


results = Parallel(n_jobs=2)(delayed(calibrate)(values) for values in calibrations.values())
for sensor, result in zip(calibrations, results):
    print(f"{sensor:>12}: {result.formula}, C = {result.parameters}")
