"""How results show in a notebook: LaTeX display, a progress bar for the
levels, and plots of the staircase and of a fit."""

import io
import math
from collections import namedtuple

import numpy as np
import pytest
import tov_sr

XS = [0.25 + 0.125 * i for i in range(40)]
YS = [4.0 * math.sin(x) / x for x in XS]


@pytest.fixture(scope="module")
def staircase():
    searcher = tov_sr.Searcher(max_complexity=4, beam_width=60, verbose=False)
    return searcher.find_candidates([[x] for x in XS], YS)


def test_results_display_as_latex(staircase):
    for result in staircase:
        assert result._repr_latex_() == f"${result.to_latex()}$"
    IPython = pytest.importorskip("IPython")
    formatter = IPython.core.formatters.LatexFormatter()
    assert formatter(staircase[0]) == f"${staircase[0].to_latex()}$"


def test_the_progress_bar_follows_the_levels_without_a_terminal():
    pytest.importorskip("tqdm")
    from tov_sr_tools import progress_bar

    searcher = tov_sr.Searcher(max_complexity=4, beam_width=60, verbose=False)
    out = io.StringIO()
    reports = []
    bar = progress_bar(total=4, file=out)

    def callback(report):
        reports.append(report)
        return bar(report)

    result = searcher.find_function(XS, YS, callback=callback)
    assert [r.level for r in reports] == [1, 2, 3, 4]  # the bar never stops a search
    final = out.getvalue().split("\r")[-1]
    assert final.startswith("levels: 100%") and "4/4" in final
    assert f"error {reports[-1].best_error:.3g}: {reports[-1].best_formula}" in final
    assert bar.bar.n == 4
    plain = tov_sr.Searcher(max_complexity=4, beam_width=60, verbose=False)
    assert repr(plain.find_function(XS, YS)) == repr(result)


def test_the_estimator_shows_a_progress_bar_on_request(capsys):
    pytest.importorskip("tqdm")
    pytest.importorskip("sklearn")
    from tov_sr_tools import TovRegressor

    X, y = np.array(XS)[:, None], np.array(YS)
    quiet = TovRegressor(max_complexity=3, beam_width=40).fit(X, y)
    assert capsys.readouterr().err == ""
    shown = TovRegressor(max_complexity=3, beam_width=40, progress=True).fit(X, y)
    assert "levels: 100%" in capsys.readouterr().err
    assert [repr(r) for r in shown.candidates_] == [repr(r) for r in quiet.candidates_]


@pytest.fixture
def axes():
    pytest.importorskip("matplotlib")
    from matplotlib.figure import Figure

    figure = Figure()
    yield figure.subplots()
    figure.savefig(io.BytesIO(), format="png")  # every label typesets


def test_the_staircase_plot(staircase, axes):
    from tov_sr_tools import plot_staircase, select

    chosen = select(staircase)
    assert plot_staircase(staircase, ax=axes, chosen=chosen) is axes
    assert axes.get_yscale() == "log"
    entries = sorted(staircase, key=lambda r: r.complexity)
    points, marked = (c.get_offsets() for c in axes.collections)
    assert points.tolist() == [[r.complexity, r.error] for r in entries]
    assert marked.tolist() == [[chosen.complexity, chosen.error]]
    assert [t.get_text() for t in axes.texts] == [f"${r.to_latex()}$" for r in entries]
    assert [t.get_text() for t in axes.get_legend().get_texts()] == ["staircase", "chosen"]


class Entry(namedtuple("Entry", "formula error complexity")):
    """A stand-in for a staircase entry."""

    def to_latex(self):
        return r"\frac{" if self.formula == "Unreadable" else self.formula.lower()


# (errors by size, the heights drawn): an error of 0 a decade below the
# smallest positive one, or at 1 when there is none.
HEIGHTS = [
    ([1.0, 0.25, 0.0], [1.0, 0.25, 0.025]),
    ([0.0], [1.0]),
]


@pytest.mark.parametrize("errors, heights", HEIGHTS)
@pytest.mark.parametrize("latex", [False, True])
def test_the_staircase_plot_of_exact_entries(errors, heights, latex):
    pytest.importorskip("matplotlib")
    from matplotlib.figure import Figure
    from tov_sr_tools import plot_staircase

    entries = [Entry(f"F{k}", e, k + 1) for k, e in enumerate(errors)]
    axes = plot_staircase(entries[::-1], ax=Figure().subplots(), latex=latex)
    assert axes.collections[0].get_offsets()[:, 1].tolist() == heights
    expected = [f"$f{k}$" if latex else f"F{k}" for k in range(len(errors))]
    assert [t.get_text() for t in axes.texts] == expected
    assert axes.get_legend() is None  # nothing chosen


def test_latex_that_matplotlib_cannot_typeset_gives_the_formula_text():
    pytest.importorskip("matplotlib")
    from matplotlib.figure import Figure
    from tov_sr_tools import plot_staircase

    axes = plot_staircase([Entry("Unreadable", 1.0, 1), Entry("F", 0.5, 2)], ax=Figure().subplots())
    assert [t.get_text() for t in axes.texts] == ["Unreadable", "$f$"]


def test_the_fit_plot_of_one_variable(staircase, axes):
    from tov_sr_tools import plot_fit

    best = staircase[0]
    assert plot_fit(best, XS, YS, ax=axes) is axes
    (curve,) = axes.lines
    x, y = curve.get_data()
    assert (x[0], x[-1]) == (XS[0], XS[-1])
    assert y.tolist() == best.eval_batch(x[:, None])
    assert axes.collections[0].get_offsets().tolist() == [list(p) for p in zip(XS, YS)]


def test_the_fit_plot_of_several_variables(axes):
    from tov_sr_tools import plot_fit

    X = np.random.default_rng(2).uniform(1.0, 3.0, size=(20, 2))
    y = X[:, 0] * X[:, 1]
    result = tov_sr.Searcher(max_complexity=3, verbose=False).fit(X, y)
    plot_fit(result, X, y, ax=axes)
    assert axes.collections[0].get_offsets().tolist() == [
        [t, p] for t, p in zip(y, result.eval_batch(X))
    ]
    assert (axes.get_xlabel(), axes.get_ylabel()) == ("target", "prediction")


BAD_PLOTS = [
    (lambda f: f.plot_staircase([]), "plot_staircase needs at least one result"),
    (lambda f: f.plot_fit(None, [[1.0]], [1.0, 2.0]),
     "plot_fit needs X of shape (samples, variables) and one target per sample, "
     "not X of shape (1, 1) and 2 targets"),
]  # fmt: skip


@pytest.mark.parametrize("call, message", BAD_PLOTS)
def test_bad_plot_arguments(call, message):
    pytest.importorskip("matplotlib")
    import tov_sr_tools

    with pytest.raises(ValueError) as info:
        call(tov_sr_tools)
    assert str(info.value) == message
