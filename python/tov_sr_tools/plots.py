"""Pictures of a search: the staircase of error against size, and a
formula against its data (matplotlib)."""

from tov_sr_tools._extras import require


def _label(result, latex):
    """The result's LaTeX as matplotlib math text where it can typeset it,
    else its formula text (readable text in the variables' names when they
    have names)."""
    if latex:
        from matplotlib.mathtext import MathTextParser

        text = f"${result.to_latex()}$"
        try:
            MathTextParser("path").parse(text)
            return text
        except ValueError:
            pass
    if getattr(result, "variable_names", None) is not None:
        from tov_sr_tools.export import to_text

        return to_text(result)
    return result.formula


def _axes(ax):
    """`ax`, or new axes of pyplot's current figure."""
    if ax is not None:
        return ax
    import matplotlib.pyplot as plt

    return plt.subplots()[1]


def plot_staircase(results, ax=None, chosen=None, *, latex=True):
    """Draws the staircase `results` (as `find_candidates` returns it, in any
    order): error against complexity on a log scale, every entry labelled
    with its formula (its LaTeX when `latex` and matplotlib can typeset it),
    and `chosen` (for example what `select` picked) marked. An error of 0
    is drawn a decade below the smallest positive one. Draws on `ax`, or on
    new axes of pyplot's current figure, and returns the axes.
    Needs matplotlib (`pip install "tov_sr[plot]"`)."""
    require("plot_staircase", "matplotlib")
    entries = sorted(results, key=lambda r: (r.complexity, r.error))
    if not entries:
        raise ValueError("plot_staircase needs at least one result")
    ax = _axes(ax)
    positive = [r.error for r in entries if r.error > 0.0]
    zero_at = min(positive) / 10.0 if positive else 1.0

    def height(result):
        return result.error if result.error > 0.0 else zero_at

    xs = [r.complexity for r in entries]
    ys = [height(r) for r in entries]
    ax.plot(xs, ys, drawstyle="steps-post", color="0.6", linewidth=1, zorder=1)
    ax.scatter(xs, ys, color="C0", zorder=2, label="staircase")
    for result, x, y in zip(entries, xs, ys):
        ax.annotate(
            _label(result, latex),
            (x, y),
            xytext=(6, 4),
            textcoords="offset points",
            fontsize="medium",
        )
    if chosen is not None:
        ax.scatter(
            [chosen.complexity],
            [height(chosen)],
            s=200,
            facecolors="none",
            edgecolors="C3",
            linewidths=2,
            zorder=3,
            label="chosen",
        )
        ax.legend(loc="lower left")
    ax.set_yscale("log")
    ax.set_xlabel("complexity (tokens)")
    ax.set_ylabel("error")
    ax.set_xlim(min(xs) - 0.5, max(xs) + 2.5)
    return ax


def plot_fit(result, X, y, ax=None, *, latex=True):
    """Draws `result` against the data (`X` samples × variables, or one
    value per sample for one variable; `y` the targets): for one variable
    the data and the formula's curve over their range, for several the
    predictions against the targets with the line of perfect agreement.
    The formula and the axis of one variable are labelled in the variables'
    names when the result has them. Draws on `ax`, or on new axes of
    pyplot's current figure, and returns the axes. Needs matplotlib
    (`pip install "tov_sr[plot]"`)."""
    require("plot_fit", "matplotlib")
    import numpy as np

    X = np.asarray(X, dtype=np.float64)
    y = np.asarray(y, dtype=np.float64).ravel()
    if X.ndim == 1:
        X = X[:, None]
    if X.ndim != 2 or len(X) != len(y) or len(y) == 0:
        raise ValueError(
            f"plot_fit needs X of shape (samples, variables) and one target per sample, "
            f"not X of shape {X.shape} and {len(y)} targets"
        )
    ax = _axes(ax)
    label = _label(result, latex)
    if X.shape[1] == 1:
        grid = np.linspace(X[:, 0].min(), X[:, 0].max(), 400)
        curve = result.eval_batch(grid[:, None])
        ax.scatter(X[:, 0], y, color="C0", s=16, label="data", zorder=2)
        ax.plot(grid, curve, color="C3", label=label, zorder=1)
        names = getattr(result, "variable_names", None)
        ax.set_xlabel(names[0] if names else "$v_{0}$")
        ax.set_ylabel("target")
    else:
        predicted = np.asarray(result.eval_batch(X))
        low, high = min(y.min(), np.nanmin(predicted)), max(y.max(), np.nanmax(predicted))
        ax.plot([low, high], [low, high], color="0.6", linewidth=1, zorder=1)
        ax.scatter(y, predicted, color="C0", s=16, label=label, zorder=2)
        ax.set_xlabel("target")
        ax.set_ylabel("prediction")
    ax.legend(loc="best")
    return ax
