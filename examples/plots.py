"""Pictures of a search: the staircase of error against size, and the
chosen formula over its data, saved as PNG files.

The data: sin(x)/x scaled by 4, sampled at 40 points. Every level up to
size 7 is searched (`find_candidates`), `select` picks one entry of the
staircase, `plot_staircase` draws the staircase with that entry marked and
`plot_fit` the formula's curve through the samples.

Run as `python examples/plots.py [folder]`; the files go to the folder
(default: the current one). Needs matplotlib: pip install "tov_sr[plot]".
"""

import math
import pathlib
import sys

import matplotlib

matplotlib.use("Agg")  # files only, no window

import matplotlib.pyplot as plt  # noqa: E402
import tov_sr  # noqa: E402
from tov_sr_tools import plot_fit, plot_staircase, select  # noqa: E402

folder = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
xs = [0.25 + 0.125 * i for i in range(40)]
ys = [4.0 * math.sin(x) / x for x in xs]

searcher = tov_sr.Searcher(max_complexity=7, beam_width=200, verbose=False)
staircase = searcher.find_candidates([[x] for x in xs], ys)
chosen = select(staircase, target_scale=sum(y * y for y in ys) / len(ys))
print("chosen:", chosen)

for name, draw in (
    ("staircase.png", lambda ax: plot_staircase(staircase, ax=ax, chosen=chosen)),
    ("fit.png", lambda ax: plot_fit(chosen, xs, ys, ax=ax)),
):
    figure, axes = plt.subplots(figsize=(6, 4.2), layout="constrained")
    draw(axes)
    figure.savefig(folder / name, dpi=100)
    plt.close(figure)
    print("saved", name)
