"""Steering a search: operator subsets, time limit, level callback, quiet
mode, sample weights and row subsets, with every other setting unchanged."""

import math
import os
import pickle
import random
import re
import signal
import subprocess
import sys

import numpy as np
import pytest
import tov_sr
from conftest import run_python

Searcher = tov_sr.Searcher
XS = [0.3 + 0.15 * i for i in range(24)]
YS = [2.5 * math.sin(x) + x * x for x in XS]
VALID = (
    "Valid names: TOV, Neg, Inv, Plus, Times, Subtract, Divide, Exp, Log, Sqrt, Sin, Cos, "
    "Tan, ArcSin, ArcCos, ArcTan, Square, Cube."
)


def quiet(**settings):
    return Searcher(**{"max_complexity": 5, "beam_width": 60, "verbose": False, **settings})


def observed(result):
    """What two equal results share, floats as exact bits."""
    return (result.formula, result.error.hex(), result.complexity, result.parameters)


def staircase(results):
    return [observed(r) for r in results]


# (settings, exception type, message)
BAD_SETTINGS = [
    ({"operators": ["Plus", "Foo"]}, ValueError, f"Unknown operator 'Foo' in operators. {VALID}"),
    ({"operators": ["Sin", "Sin"]}, ValueError, f"Operator 'Sin' is given twice in operators. {VALID}"),
    ({"operators": [3]}, ValueError, f"Operator names must be strings, not 3 (int) in operators. {VALID}"),
    ({"operators": "Sin"}, ValueError,
     f"operators must be an iterable of operator names, not the string 'Sin'. {VALID}"),
    ({"operators": 5}, TypeError, "operators must be None or an iterable of operator names, not int"),
    ({"time_limit": 0}, ValueError, "time_limit must be a positive, finite number of seconds or None, not 0"),
    ({"time_limit": math.inf}, ValueError,
     "time_limit must be a positive, finite number of seconds or None, not inf"),
    ({"time_limit": "1"}, TypeError, "argument 'time_limit': must be real number, not str"),
    ({"max_search_rows": 0}, ValueError, "max_search_rows must be a positive integer or None, not 0"),
    ({"max_search_rows": 2.0}, TypeError,
     "argument 'max_search_rows': 'float' object cannot be interpreted as an integer"),
    ({"target_error": -1e-3}, ValueError,
     "target_error must be a finite, non-negative number or None, not -0.001"),
    ({"target_error": math.nan}, ValueError,
     "target_error must be a finite, non-negative number or None, not nan"),
]  # fmt: skip


@pytest.mark.parametrize("settings, error, message", BAD_SETTINGS)
def test_bad_settings_are_refused_with_a_clear_message(settings, error, message):
    with pytest.raises(error) as info:
        Searcher(**settings)
    assert str(info.value) == message


def test_keyword_only_settings_cannot_be_given_by_position():
    with pytest.raises(TypeError) as info:
        Searcher(10, 0.1, 1000, 0.0, 0.5, None)
    assert str(info.value) == (
        "Searcher.__new__() takes from 0 to 5 positional arguments but 6 were given"
    )


BAD_CALLS = [
    (lambda s: s.find_function(XS, YS, weights=[1.0] * 23), ValueError,
     "weights must have one entry per target: 23 weights for 24 targets"),
    (lambda s: s.fit([[x] for x in XS], YS, weights=[1.0] * 23 + [-0.5]), ValueError,
     "weights must be finite and non-negative: weights[23] is -0.5"),
    (lambda s: s.find_candidates([[x] for x in XS], YS, weights=[math.nan] + [1.0] * 23),
     ValueError, "weights must be finite and non-negative: weights[0] is nan"),
    (lambda s: s.find_function(XS, YS, weights=[0.0] * 24), ValueError,
     "weights must not all be zero"),
    (lambda s: s.find_function(XS, YS, weights="abc"), ValueError,
     "Input must be a 1D list or NumPy array of floats"),
    (lambda s: s.find_function(XS, YS, callback=3), TypeError,
     "callback must be callable or None, not int"),
    (lambda s: s.recognize_constant(1.0, weights=[1.0]), TypeError,
     "Searcher.recognize_constant() got an unexpected keyword argument 'weights'"),
    (lambda s: s.find_function(XS, YS, None, None, [1.0] * 24), TypeError,
     "Searcher.find_function() takes from 2 to 4 positional arguments but 5 were given"),
]  # fmt: skip


@pytest.mark.parametrize("call, error, message", BAD_CALLS)
def test_bad_call_arguments_are_refused(call, error, message):
    with pytest.raises(error) as info:
        call(quiet())
    assert str(info.value) == message


def test_settings_are_read_only_properties_in_repr_and_pickles():
    searcher = Searcher(
        max_complexity=4,
        operators=("Times", "Plus", "Sin"),
        time_limit=2.5,
        verbose=False,
        max_search_rows=10,
        linear_scaling=True,
        target_error=1e-4,
    )
    assert searcher.operators == ("Plus", "Times", "Sin")  # catalogue order
    assert Searcher().operators == tuple(VALID[13:-1].split(", "))
    assert (searcher.time_limit, searcher.verbose, searcher.max_search_rows) == (2.5, False, 10)
    assert (searcher.linear_scaling, searcher.target_error) == (True, 1e-4)
    assert repr(searcher) == (
        "Searcher(max_complexity=4, complexity_penalty=0.1, beam_width=1000, alpha=0.0, "
        "l1_ratio=0.5, operators=('Plus', 'Times', 'Sin'), time_limit=2.5, verbose=False, "
        "max_search_rows=10, linear_scaling=True, target_error=0.0001)"
    )
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        assert repr(pickle.loads(pickle.dumps(searcher, protocol))) == repr(searcher)
    with pytest.raises(AttributeError):
        searcher.time_limit = 1.0
    # Default keyword-only settings pickle as before they existed, and such
    # pickles still load.
    default = Searcher(3, 0.25, 50, 0.5, 0.75)
    assert default.__reduce__() == (Searcher, (3, 0.25, 50, 0.5, 0.75))
    assert repr(default) == (
        "Searcher(max_complexity=3, complexity_penalty=0.25, beam_width=50, alpha=0.5, "
        "l1_ratio=0.75)"
    )


@pytest.mark.parametrize(
    "request_",
    [
        lambda s, **kw: [s.find_function(XS, YS, **kw)],
        lambda s, **kw: s.find_candidates([[x, x * x] for x in XS], YS, **kw),
        lambda s, **kw: [s.recognize_constant(math.pi + 0.25, **kw)],
    ],
)
@pytest.mark.parametrize("stop_at", [1, 2, 4])
def test_a_callback_stop_gives_the_shorter_search(request_, stop_at):
    reports = []

    def callback(report):
        reports.append(report)
        return report.level == stop_at

    stopped = request_(quiet(max_complexity=6), callback=callback)
    assert staircase(stopped) == staircase(request_(quiet(max_complexity=stop_at)))
    # One report per level, up to the stop or an earlier exact fit.
    assert [r.level for r in reports] == list(range(1, len(reports) + 1))
    assert len(reports) == stop_at or stopped[0].error <= 1e-10
    last = reports[-1]
    assert isinstance(last, tov_sr.LevelReport) and last.retained <= 60 and last.seconds >= 0
    assert math.isfinite(last.best_error) and isinstance(last.best_formula, str)


def test_a_callback_exception_propagates_unchanged():
    error = LookupError("stop here")

    def callback(report):
        if report.level == 3:
            raise error

    with pytest.raises(LookupError) as info:
        quiet().find_function(XS, YS, callback=callback)
    assert info.value is error
    assert quiet(max_complexity=1).find_function(XS, XS).formula == "v_{0}"


# No short formula fits these exactly, so the search runs to its deadline.
HARD_XS = [0.05 * i + 0.1 for i in range(60)]
HARD_YS = [math.sin(3 * x) * math.exp(x / 3) + 0.1 * x**3 + (i % 7) * 1e-3 for i, x in enumerate(HARD_XS)]


@pytest.mark.parametrize("candidates", [False, True])
def test_a_time_limit_gives_the_search_up_to_the_last_completed_level(candidates):
    rows = [[x] for x in HARD_XS]
    searcher = Searcher(beam_width=300, verbose=False, time_limit=0.3)
    with pytest.warns(tov_sr.TovTimeLimitWarning) as warned:
        cut = (
            searcher.find_candidates(rows, HARD_YS)
            if candidates
            else [searcher.find_multivariate(rows, HARD_YS)]
        )
    message = str(warned[0].message)
    last = int(message.split("(as with max_complexity=")[1].rstrip(")"))
    assert message == (
        f"time_limit of 0.3 s reached during level {last + 1}; "
        f"returning the result of levels 1 to {last} (as with max_complexity={last})"
    )
    assert issubclass(tov_sr.TovTimeLimitWarning, UserWarning) and 1 <= last < 10
    shorter = Searcher(max_complexity=last, beam_width=300, verbose=False)
    full = shorter.find_candidates(rows, HARD_YS) if candidates else [shorter.fit(rows, HARD_YS)]
    assert staircase(cut) == staircase(full)


def random_problem(seed):
    rng = random.Random(seed)
    n = rng.randrange(6, 30)
    rows = [[rng.uniform(0.2, 3.0) for _ in range(rng.randrange(1, 3))] for _ in range(n)]
    a, b = rng.uniform(-2, 2), rng.uniform(-2, 2)
    ys = [a * math.cos(r[0]) + b * r[-1] ** 2 + rng.gauss(0, 0.01) for r in rows]
    return rows, ys


@pytest.mark.parametrize("seed", range(5))
def test_unit_weights_give_the_unweighted_search_bit_for_bit(seed):
    rows, ys = random_problem(seed)
    for settings in ({}, {"alpha": 0.05}, {"linear_scaling": True}, {"max_search_rows": 5}):
        searcher = quiet(max_complexity=5, **settings)
        plain = searcher.find_candidates(rows, ys)
        assert staircase(searcher.find_candidates(rows, ys, weights=[1.0] * len(ys))) == (
            staircase(plain)
        )


def test_a_zero_weight_removes_the_sample():
    rows = [[x] for x in XS]
    spoiled = list(YS)
    spoiled[7] = 1e6
    weights = [1.0] * len(YS)
    weights[7] = 0.0
    searcher = quiet()
    weighted = searcher.find_candidates(rows, spoiled, weights=weights)
    removed = searcher.find_candidates(rows[:7] + rows[8:], YS[:7] + YS[8:])
    assert staircase(weighted) == staircase(removed)
    # Weights change the objective: the constant fit is the weighted mean.
    levels = [10.0 + i % 3 for i in range(len(XS))]
    weights = [1.0 + i % 5 for i in range(len(XS))]
    constant = quiet(max_complexity=2, operators=["Neg"]).find_function(XS, levels, weights=weights)
    assert constant.formula == "Neg(C)"
    assert -constant.parameters[0] == pytest.approx(np.average(levels, weights=weights), rel=1e-6)


@pytest.mark.parametrize("seed", range(6))
def test_an_operator_subset_is_all_the_search_uses(seed):
    rng = random.Random(seed)
    names = list(Searcher().operators)
    subset = rng.sample(names, rng.randrange(0, 6))
    searcher = quiet(max_complexity=6, operators=subset)
    used = set()
    for result in searcher.find_candidates([[x] for x in XS], YS) + [
        searcher.recognize_constant(2.75)
    ]:
        used |= set(re.findall(r"([A-Za-z]+)\(", result.formula))
    assert used <= set(subset)


def test_no_operators_leaves_the_leaves():
    result = quiet(operators=[]).find_candidates([[x] for x in XS], YS)
    assert {r.formula for r in result} <= {"C", "v_{0}"}


def test_row_subset_scores_the_final_staircase_on_every_row():
    xs = [0.01 * i for i in range(1, 401)]
    ys = [3.0 * x * x for x in xs]
    searcher = quiet(max_complexity=5, max_search_rows=40)
    results = searcher.find_candidates([[x] for x in xs], ys)
    for result in results:
        predictions = result.eval_batch([[x] for x in xs])
        error = sum((p - y) ** 2 for p, y in zip(predictions, ys)) / len(ys)
        assert result.error == pytest.approx(error, rel=1e-9, abs=1e-30)
    assert results[0].error < 1e-20  # the law, found on a tenth of the rows
    # No more rows than the limit: the same search as without it.
    assert staircase(quiet(max_search_rows=400).find_candidates([[x] for x in xs], ys)) == (
        staircase(quiet().find_candidates([[x] for x in xs], ys))
    )


QUIET_PROCESS = """
import math, tov_sr
xs = [0.3 + 0.15 * i for i in range(24)]
ys = [2.5 * math.sin(x) + x * x for x in xs]
searcher = tov_sr.Searcher(max_complexity=5, beam_width=60, verbose=False, time_limit=60)
searcher.find_function(xs, ys, callback=lambda report: None)
searcher.find_candidates([[x] for x in xs], ys, weights=[1.0] * 24)
searcher.recognize_constant(math.e)
"""


def test_quiet_searches_write_nothing_to_standard_output():
    result = run_python(QUIET_PROCESS)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "" and result.stderr == ""
    loud = run_python(QUIET_PROCESS.replace("verbose=False", "verbose=True"))
    assert loud.stdout.startswith("[TOV-SR] Started search space exploration.")


STEERED_SEARCH = """
import math, signal, sys, tov_sr
signal.signal(signal.SIGINT, signal.default_int_handler)
xs = [i / 20 for i in range(200)]
ys = [math.sin(x) * math.exp(x / 3) + 0.1 * x**3 for x in xs]
searcher = tov_sr.Searcher(verbose=False, time_limit=600, operators=["Plus", "Times", "Sin", "Exp"])
def searching(report):
    if report.level == 1:
        print("searching", flush=True)
    return False
try:
    searcher.find_function(xs, ys, weights=[2.0] * 200, callback=searching)
except KeyboardInterrupt:
    print("interrupted", file=sys.stderr)
"""


def test_ctrl_c_interrupts_a_steered_search():
    child = subprocess.Popen(
        [sys.executable, "-c", STEERED_SEARCH],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env=dict(os.environ, PYTHONPATH=os.path.dirname(tov_sr.__file__)),
    )
    try:
        # Reported from inside the search: any later moment interrupts it.
        assert child.stdout.readline() == "searching\n"
        child.send_signal(signal.SIGINT)
        _, err = child.communicate(timeout=20)
    finally:
        child.kill()
    assert child.returncode == 0 and err.splitlines() == ["interrupted"], err
