"""Companions to tov_sr: a scikit-learn estimator, model selection on a
staircase, the staircase as a pandas DataFrame, SymPy export, a progress
bar, plots of the staircase and of a fit, a switch for the search's
console output, and the search of a law in parts (`decompose`).

Each needs only what it uses: `TovRegressor` needs scikit-learn,
`staircase_frame` pandas, `to_sympy` SymPy, `DaskSearcher` Dask's
distributed scheduler, `progress_bar` tqdm, `plot_staircase` and `plot_fit`
matplotlib, `decompose` scikit-learn (and with it SciPy); they are imported
on first use, so `import tov_sr_tools` itself needs nothing beyond tov_sr. A
missing one raises an ImportError that names the extra to install
(`pip install "tov_sr[sklearn]"`).
"""

from tov_sr_tools._output import silence_search_output
from tov_sr_tools.selection import select

__all__ = [
    "DaskSearcher",
    "TovRegressor",
    "plot_fit",
    "plot_staircase",
    "progress_bar",
    "select",
    "silence_search_output",
    "staircase_frame",
    "to_sympy",
    "decompose",
]

_LAZY = {
    "DaskSearcher": "tov_sr_tools.distributed",
    "TovRegressor": "tov_sr_tools.estimator",
    "plot_fit": "tov_sr_tools.plots",
    "plot_staircase": "tov_sr_tools.plots",
    "progress_bar": "tov_sr_tools.progress",
    "staircase_frame": "tov_sr_tools.export",
    "to_sympy": "tov_sr_tools.export",
    "decompose": "tov_sr_tools.decomposition",
}


def __getattr__(name):
    if name not in _LAZY:
        raise AttributeError(f"module 'tov_sr_tools' has no attribute '{name}'")
    import importlib

    if name == "TovRegressor":
        # A scikit-learn class: its base classes are needed to define it.
        from tov_sr_tools._extras import require

        require("TovRegressor", "sklearn")
    value = getattr(importlib.import_module(_LAZY[name]), name)
    globals()[name] = value
    return value


def __dir__():
    return sorted(set(globals()) | set(__all__))
