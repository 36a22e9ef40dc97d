"""Noisy data: judging candidates after their best affine map, stopping at a
target error, and choosing one formula from a staircase."""

import math
import os
import random
import sys
from collections import namedtuple

import numpy as np
import pytest
import tov_sr
from conftest import run_python
from tov_sr_tools import select

Searcher = tov_sr.Searcher


def quiet(**settings):
    return Searcher(**{"max_complexity": 5, "beam_width": 60, "verbose": False, **settings})


def observed(result):
    """What two equal results share, floats as exact bits."""
    return (result.formula, result.error.hex(), result.complexity, result.parameters)


def mse(result, rows, ys):
    return float(np.mean((np.asarray(result.eval_batch(rows)) - np.asarray(ys)) ** 2))


T = [1.0 + 2.0 * i / 49 for i in range(50)]
XS = [0.1 * i for i in range(30)]
rng = random.Random(1)
NOISY_XS = [0.5 + 0.1 * i for i in range(40)]
NOISY_YS = [2.5 * x * x - 1.25 + rng.gauss(0.0, 0.05) for x in NOISY_XS]

# (settings, xs, ys, formula, parameters): each law is an affine image of a
# formula shorter than the plain search needs; an offset that only rounding
# asks for is left out.
SCALED = [
    ({"operators": ["Neg", "Times", "Exp", "Sqrt", "Square"]}, T,
     [math.exp(-t * t / 2) / math.sqrt(2 * math.pi) for t in T],
     "Times(C, Sqrt(Exp(Neg(Square(v_{0})))))", (1 / math.sqrt(2 * math.pi),)),
    ({"max_complexity": 4}, XS, [3.7 * math.sin(x) + 2.0 for x in XS],
     "Plus(Times(C, Sin(v_{0})), C)", (3.7, 2.0)),
    ({"max_complexity": 4}, XS, [2.5 * x * x - 1.25 for x in XS],
     "Plus(Times(C, Square(v_{0})), C)", (2.5, -1.25)),
]  # fmt: skip


@pytest.mark.parametrize("settings, xs, ys, formula, parameters", SCALED)
def test_linear_scaling_recovers_scaled_laws_the_plain_search_misses(
    settings, xs, ys, formula, parameters
):
    found = quiet(linear_scaling=True, **settings).find_function(xs, ys)
    assert found.formula == formula
    assert found.parameters == pytest.approx(parameters, rel=1e-9, abs=1e-9)
    assert found.error <= 1e-25  # the affine map is solved in closed form, not iterated
    assert quiet(**settings).find_function(xs, ys).error >= 1e-10


# (call, points, value): no sample varies, so there is nothing to scale.
CONSTANT_CALLS = [
    (lambda s: [s.find_function(XS, [3.0] * len(XS))], [[x] for x in XS], 3.0),
    (lambda s: s.find_candidates([[x] for x in XS], [0.0] * len(XS)), [[x] for x in XS], 0.0),
    (lambda s: [s.recognize_constant(math.pi)], [[0.0]], math.pi),
]


@pytest.mark.parametrize("call, points, value", CONSTANT_CALLS)
def test_linear_scaling_of_a_constant_target_gives_the_constant(call, points, value):
    # Every scale factor is 0 here and constant candidates have no variance to divide by.
    for result in call(quiet(linear_scaling=True)):
        assert result.error <= 1e-25 and all(map(math.isfinite, result.parameters))
        assert result.eval_batch(points) == pytest.approx([value] * len(points), abs=1e-12)


DEFAULT_CALLS = [
    lambda s: [s.find_function(NOISY_XS, NOISY_YS)],
    lambda s: [s.find_function(XS, [2.5 * x * x for x in XS])],  # exits at the 1e-10 threshold
    lambda s: s.find_candidates([[x, x * x] for x in NOISY_XS], NOISY_YS),
    lambda s: [s.recognize_constant(math.e + 0.5)],
]


@pytest.mark.parametrize("call", DEFAULT_CALLS)
def test_default_settings_given_explicitly_change_nothing(call):
    plain = [observed(r) for r in call(quiet())]
    assert [observed(r) for r in call(quiet(linear_scaling=False, target_error=None))] == plain


@pytest.mark.parametrize("linear_scaling", [False, True])
@pytest.mark.parametrize("stop_at", [2, 4])
def test_target_error_stops_at_the_first_level_that_reaches_it(linear_scaling, stop_at):
    def levels_run(target_error):
        reports = []
        searcher = quiet(max_complexity=6, linear_scaling=linear_scaling, target_error=target_error)
        result = searcher.find_function(NOISY_XS, NOISY_YS, callback=reports.append)
        return result, reports

    _, full = levels_run(None)
    assert [r.level for r in full] == list(range(1, 7))  # no exact fit: no early exit
    target = full[stop_at - 1].best_error
    assert all(r.best_error > target for r in full[: stop_at - 1])
    stopped, reports = levels_run(target)
    assert [r.level for r in reports] == list(range(1, stop_at + 1))
    shorter = quiet(max_complexity=stop_at, linear_scaling=linear_scaling)
    assert observed(stopped) == observed(shorter.find_function(NOISY_XS, NOISY_YS))
    # One ulp lower the level misses it ("at most", not "below").
    assert len(levels_run(math.nextafter(target, 0.0))[1]) > stop_at


def test_find_candidates_ignores_the_target_error():
    rows = [[x] for x in NOISY_XS]
    reports = []
    stopped = quiet(target_error=1e3).find_candidates(rows, NOISY_YS, callback=reports.append)
    assert [r.level for r in reports] == [1, 2, 3, 4, 5]
    plain = quiet().find_candidates(rows, NOISY_YS)
    assert [observed(r) for r in stopped] == [observed(r) for r in plain]


SCALED_SEARCH = """
import math, os, random, tov_sr
if {pin}:
    os.sched_setaffinity(0, {{0}})
rng = random.Random(7)
xs = [rng.uniform(0.5, 3.0) for _ in range(300)]
ys = [1.5 * math.cos(x) + 0.3 * x * x + rng.gauss(0.0, 0.02) for x in xs]
searcher = tov_sr.Searcher(max_complexity=5, beam_width=100, verbose=False, linear_scaling=True)
for result in searcher.find_candidates([[x] for x in xs], ys):
    print(repr(result), result.error.hex(), [p.hex() for p in result.parameters])
"""


@pytest.mark.skipif(len(os.sched_getaffinity(0)) < 2, reason="needs two CPUs to compare with one")
def test_linear_scaling_gives_the_same_results_on_one_thread_and_on_all():
    one, every = (run_python(SCALED_SEARCH.format(pin=pin)) for pin in (True, False))
    assert one.returncode == 0 and every.returncode == 0, one.stderr + every.stderr
    assert one.stdout == every.stdout and one.stdout.count("\n") >= 3


Entry = namedtuple("Entry", "formula error complexity")


def stairs(errors):
    """Stand-ins for a staircase {complexity: error}, most complex first."""
    return [Entry(f"size {k}", errors[k], k) for k in sorted(errors, reverse=True)]


NOISY = {1: 10.0, 3: 1.0, 5: 0.0101, 7: 0.0100, 9: 0.0099}  # the law at 5, then noise fitting
STEEP = {1: 10.0, 2: 0.03, 6: 0.01}  # a steep step that is 3 times the lowest error
MODEST = {3: 1.0, 5: 0.9}  # two tokens buy 10 %
EXACT = {1: 1.0, 4: 0.0, 6: 0.0}

# (staircase, rule (None: the default), options, expected formula)
PICKS = [
    (MODEST, None, {}, "size 3"),
    (MODEST, "score", {}, "size 5"),
    (NOISY, "penalty", {}, "size 5"),
    (NOISY, "penalty", {"complexity_penalty": 0.0}, "size 9"),
    (NOISY, "score", {}, "size 5"),
    (NOISY, "score", {"tolerance": 1.0}, "size 9"),
    (STEEP, "score", {}, "size 6"),
    (STEEP, "score", {"tolerance": 4.0}, "size 2"),
    (NOISY, "bic", {"n_samples": 100}, "size 5"),
    (MODEST, "bic", {"n_samples": 20}, "size 3"),
    (MODEST, "bic", {"n_samples": 1000}, "size 5"),
    (EXACT, "penalty", {}, "size 4"),
    (EXACT, "score", {}, "size 4"),
    (EXACT, "bic", {"n_samples": 50}, "size 4"),
    ({2: 0.0}, "score", {}, "size 2"),
    ({2: 1.0, 6: 0.5}, "penalty", {"complexity_penalty": 0.5}, "size 2"),  # both score 2.0
    ({1: 4.0, 2: 2.0, 3: 1.0}, "score", {"tolerance": 4.0}, "size 2"),  # both drop ln 2
]


@pytest.mark.parametrize("errors, rule, options, expected", PICKS)
def test_select_picks_the_expected_entry(errors, rule, options, expected):
    entries = stairs(errors)
    rule_args = () if rule is None else (rule,)
    for order in (entries, entries[::-1]):
        assert select(order, *rule_args, **options).formula == expected


NEEDS_N = "the 'bic' rule needs n_samples, the number of samples fitted"
BAD_SELECTIONS = [
    ({}, "penalty", {}, "select needs at least one result"),
    (NOISY, "aic", {}, "unknown rule 'aic'; use one of 'penalty', 'score', 'bic'"),
    (NOISY, "bic", {}, NEEDS_N),
    (NOISY, "bic", {"n_samples": 0}, NEEDS_N),
    (NOISY, "score", {"tolerance": 0.5}, "tolerance must be at least 1, not 0.5"),
    (NOISY, "score", {"tolerance": math.nan}, "tolerance must be at least 1, not nan"),
]


@pytest.mark.parametrize("errors, rule, options, message", BAD_SELECTIONS)
def test_select_refuses_bad_arguments(errors, rule, options, message):
    with pytest.raises(ValueError) as info:
        select(stairs(errors), rule, **options)
    assert str(info.value) == message


def test_the_estimator_picks_the_scaled_law_by_bic_where_no_penalty_overfits():
    pytest.importorskip("sklearn")
    from tov_sr_tools import TovRegressor

    X, y = np.array(NOISY_XS)[:, None], np.array(NOISY_YS)
    model = TovRegressor(
        max_complexity=5, beam_width=60, linear_scaling=True, selection="bic"
    ).fit(X, y)
    assert model.result_ is select(model.candidates_, "bic", n_samples=len(y))
    assert model.result_.formula == "Plus(Times(C, Square(v_{0})), C)"
    # Scaled results report the error of the formula as returned.
    for entry in model.candidates_:
        assert entry.error == pytest.approx(mse(entry, X, y), rel=1e-9)
    # On the same staircase the most accurate entry is a longer formula fitting noise.
    overfit = select(model.candidates_, "penalty", complexity_penalty=0.0)
    assert overfit.complexity > model.result_.complexity


ROWS2 = [[0.5 + 0.25 * i, 0.75 + 0.2 * j] for i in range(6) for j in range(5)]

# (rows, ys, formula): the factor or the offset of the affine map is left
# out when the formula without it is as accurate up to rounding.
SHORTER_MAPS = [
    (ROWS2, [a * b / (2 * math.pi) for a, b in ROWS2], "Times(C, Times(v_{0}, v_{1}))"),
    ([[x] for x in XS], [math.sin(x) + 2.0 for x in XS], "Plus(Sin(v_{0}), C)"),
    ([[x] for x in XS], [math.sin(x) for x in XS], "Sin(v_{0})"),
    ([[x] for x in XS], [3.0 * math.sin(x) for x in XS], "Times(C, Sin(v_{0}))"),
]  # fmt: skip


@pytest.mark.parametrize("rows, ys, formula", SHORTER_MAPS)
def test_linear_scaling_leaves_out_a_factor_or_offset_that_only_rounding_wants(rows, ys, formula):
    found = quiet(max_complexity=4, linear_scaling=True).fit(rows, ys)
    assert found.formula == formula
    assert found.error <= (8 * sys.float_info.epsilon) ** 2 * sum(y * y for y in ys) / len(ys)
