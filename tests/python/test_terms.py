"""Sums of terms and products of powers (max_terms): exact recovery, the
setting's conventions, weights, determinism, and results unchanged without
it."""

import math
import os
import pickle

import numpy as np
import pytest
import tov_sr
from conftest import run_python

Searcher = tov_sr.Searcher


def quiet(**settings):
    return Searcher(**{"verbose": False, **settings})


def observed(results):
    results = results if isinstance(results, list) else [results]
    return [(r.formula, r.complexity, r.error.hex(), r.parameters) for r in results]


RNG = np.random.default_rng(3)
POSITIVE = RNG.uniform(1.0, 4.0, (40, 6))
SIGNED = RNG.uniform(-2.0, 2.0, (40, 3))


# Monomials: the exact shape C * prod v_j^e_j and the exact constant.
MONOMIALS = [
    (
        lambda v: 8.99 * v[:, 0] * v[:, 1] / (v[:, 2] ** 2 * v[:, 3]),
        4,
        "Divide(Times(C, Times(v_{0}, v_{1})), Times(Square(v_{2}), v_{3}))",
        8.99,
    ),
    (
        lambda v: 1.5 * v[:, 0] * v[:, 1] ** 2 * np.sqrt(v[:, 2]) / (v[:, 3] * v[:, 4] ** 3),
        5,
        "Divide(Times(C, Times(v_{0}, Times(Square(v_{1}), Sqrt(v_{2})))), Times(v_{3}, Cube(v_{4})))",
        1.5,
    ),
    (
        lambda v: 0.25 * v[:, 0] ** 2 * v[:, 1] * v[:, 2] * v[:, 3] ** 1.5 / (v[:, 4] * v[:, 5]),
        6,
        "Divide(Times(C, Times(Square(v_{0}), Times(v_{1}, Times(v_{2}, Cube(Sqrt(v_{3})))))), "
        "Times(v_{4}, v_{5}))",
        0.25,
    ),
]


@pytest.mark.parametrize("law, variables, formula, constant", MONOMIALS)
def test_monomials_come_out_exactly(law, variables, formula, constant):
    inputs = POSITIVE[:, :variables]
    result = quiet(max_complexity=4, beam_width=100, max_terms=6).find_multivariate(
        inputs, law(inputs)
    )
    assert result.formula == formula
    assert result.parameters == pytest.approx((constant,), rel=1e-12)
    assert result.error < 1e-20


# Sums of known terms: exact fits, each written as Plus(Times(C, f), ... C).
SUMS = [
    (lambda v: 3.0 * v[:, 0] ** 2 - 2.0 * np.sin(v[:, 0]), 1),
    (lambda v: 2.0 * v[:, 0] * v[:, 1] + 3.0 * v[:, 1] * v[:, 2], 3),
    (lambda v: 1.5 * np.exp(v[:, 0]) - v[:, 1] ** 3 + 0.5 * np.cos(v[:, 1]), 2),
    (lambda v: v[:, 0] ** 2 + 2.0 * v[:, 1] - 3.0 * v[:, 2] + 4.0, 3),
    (lambda v: 1.5 * v[:, 0] * v[:, 1] - v[:, 2] ** 2 + 3.0 * np.sin(v[:, 2]) + 0.5 * v[:, 0], 3),
]


@pytest.mark.parametrize("law, variables", SUMS)
def test_sums_of_known_terms_come_out_exactly(law, variables):
    inputs = SIGNED[:, :variables]
    plain = quiet(max_complexity=4, beam_width=200).find_multivariate(inputs, law(inputs))
    result = quiet(max_complexity=4, beam_width=200, max_terms=4).find_multivariate(
        inputs, law(inputs)
    )
    assert plain.error > 1e-6
    assert result.error < 1e-20
    assert result.formula.startswith("Plus(Times(C, ")
    predicted = np.array(result.predict(SIGNED[:5, :variables] * 0.7))
    assert predicted == pytest.approx(law(SIGNED[:5, :variables] * 0.7), rel=1e-9, abs=1e-9)


def test_ordinary_least_squares_is_a_candidate():
    X = RNG.normal(size=(60, 3))
    y = X @ np.array([0.3, -1.2, 2.0]) + 0.7 + RNG.normal(scale=0.5, size=60)
    staircase = quiet(max_complexity=2, beam_width=30, max_terms=3).find_candidates(X, y)
    ols = "Plus(Times(C, v_{0}), Plus(Times(C, v_{1}), Plus(Times(C, v_{2}), C)))"
    entry = next(r for r in staircase if r.formula == ols)
    design = np.column_stack([X, np.ones(60)])
    coefficients, *_ = np.linalg.lstsq(design, y, rcond=None)
    assert entry.parameters == pytest.approx(tuple(coefficients), rel=1e-9)
    assert entry.error == pytest.approx(np.mean((design @ coefficients - y) ** 2), rel=1e-12)


def test_the_staircase_keeps_sums_at_their_own_sizes():
    x = SIGNED[:, 0]
    y = 3.0 * x**2 - 2.0 * np.sin(x) + np.exp(x)
    staircase = quiet(max_complexity=3, beam_width=60, max_terms=3).find_candidates(
        x[:, None], y
    )
    sizes = [r.complexity for r in staircase]
    errors = [r.error for r in staircase]
    assert sizes == sorted(sizes, reverse=True) and errors == sorted(errors)
    assert sizes[0] > 3 and errors[0] < 1e-20


def test_weights_of_one_and_zero_weight_rows_change_nothing():
    inputs = SIGNED[:, :2]
    y = 2.0 * inputs[:, 0] ** 2 + np.cos(inputs[:, 1]) + RNG.normal(scale=0.01, size=40)
    searcher = quiet(max_complexity=3, beam_width=40, max_terms=3)
    plain = searcher.find_candidates(inputs, y)
    assert observed(searcher.find_candidates(inputs, y, weights=np.ones(40))) == observed(plain)
    padded = np.vstack([inputs, [[9.0, -9.0]]])
    zero = searcher.find_candidates(padded, np.append(y, 1e6), weights=np.append(np.ones(40), 0))
    assert observed(zero) == observed(plain)


def test_weights_steer_the_fit():
    x = np.ascontiguousarray(SIGNED[:, 0])
    law = 3.0 * x**2 - 2.0 * np.sin(x)
    y = np.where(x > 0, law, 50.0 * np.cos(7.0 * x))
    weights = np.where(x > 0, 1.0, 1e-9)
    result = quiet(max_complexity=3, beam_width=40, max_terms=2).find_function(
        x, y, weights=weights
    )
    heavy = x > 0
    assert np.array(result.predict(x[heavy, None])) == pytest.approx(law[heavy], abs=1e-3)
    unweighted = quiet(max_complexity=3, beam_width=40, max_terms=2).find_function(x, y)
    assert unweighted.formula != result.formula


def test_default_results_are_those_without_the_setting():
    x = SIGNED[:, 0]
    y = 3.0 * x**2 - 2.0 * np.sin(x)
    before = quiet(max_complexity=4, beam_width=60).find_candidates(x[:, None], y)
    after = quiet(max_complexity=4, beam_width=60, max_terms=1, term_pool=7).find_candidates(
        x[:, None], y
    )
    assert observed(after) == observed(before)


def test_the_setting_follows_the_keyword_conventions():
    searcher = quiet(max_terms=3, term_pool=20)
    assert (searcher.max_terms, searcher.term_pool) == (3, 20)
    assert repr(searcher).endswith("verbose=False, max_terms=3, term_pool=20)")
    again = pickle.loads(pickle.dumps(searcher))
    assert (again.max_terms, again.term_pool) == (3, 20)
    default = Searcher()
    assert (default.max_terms, default.term_pool) == (1, 150)
    assert "max_terms" not in repr(default)
    assert pickle.dumps(default) == pickle.dumps(Searcher(max_terms=1, term_pool=150))


@pytest.mark.parametrize(
    "settings, error, message",
    [
        ({"max_terms": 0}, ValueError, "max_terms must be an integer from 1 to 64, not 0"),
        ({"max_terms": 65}, ValueError, "max_terms must be an integer from 1 to 64, not 65"),
        ({"term_pool": 0}, ValueError, "term_pool must be an integer from 1 to 1000, not 0"),
        ({"term_pool": 1001}, ValueError, "term_pool must be an integer from 1 to 1000, not 1001"),
        ({"max_terms": 2.5}, TypeError, "max_terms"),
    ],
)
def test_bad_settings_are_refused(settings, error, message):
    with pytest.raises(error, match=message):
        Searcher(**settings)


def test_operators_outside_the_subset_are_never_used():
    inputs = POSITIVE[:, :3]
    y = 2.0 * inputs[:, 0] * inputs[:, 1] / inputs[:, 2]
    arithmetic = ["Plus", "Times", "Subtract", "Neg"]
    for result in quiet(
        max_complexity=3, beam_width=40, max_terms=3, operators=arithmetic
    ).find_candidates(inputs, y):
        names = {word.split("(")[0] for word in result.formula.replace(" ", "").split(",")}
        assert not {"Divide", "Square", "Sqrt", "Cube", "Inv"} & names, result.formula


TERMS_SEARCH = """
import os, numpy as np, tov_sr
if {pin}:
    os.sched_setaffinity(0, {{0}})
rng = np.random.default_rng(4)
X = rng.uniform(0.5, 2.0, (200, 3))
y = X[:, 0] ** 2 + np.sin(X[:, 1]) * 2 + X[:, 2] / X[:, 0] + rng.normal(0, 0.01, 200)
searcher = tov_sr.Searcher(max_complexity=4, beam_width=80, verbose=False, max_terms=4)
for result in searcher.find_candidates(X, y):
    print(repr(result), result.error.hex(), [p.hex() for p in result.parameters])
"""


@pytest.mark.skipif(len(os.sched_getaffinity(0)) < 2, reason="needs two CPUs to compare with one")
def test_the_same_results_on_one_thread_and_on_all():
    one, every = (run_python(TERMS_SEARCH.format(pin=pin)) for pin in (True, False))
    assert one.returncode == 0 and every.returncode == 0, one.stderr + every.stderr
    assert one.stdout == every.stdout and "max" not in one.stdout
    assert "Plus(Times(C, " in one.stdout


def test_a_cluster_gives_the_local_result():
    distributed = pytest.importorskip("distributed")
    from tov_sr_tools.distributed import DaskSearcher

    X = POSITIVE[:30, :3]
    y = X[:, 0] ** 2 + 2.0 * np.sin(X[:, 1]) + RNG.normal(0, 0.01, 30)
    searcher = quiet(max_complexity=4, beam_width=40, max_terms=3, max_search_rows=20)
    cluster = distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
    )
    with distributed.Client(cluster) as client:
        remote = DaskSearcher(searcher, client, shards=3).find_candidates(X, y)
    cluster.close()
    assert observed(remote) == observed(searcher.find_candidates(X, y))
    assert any(r.formula.startswith("Plus(Times(C, ") for r in remote)


def test_a_time_limit_cut_answers_as_the_shorter_search():
    x = SIGNED[:, 0]
    y = 3.0 * x**2 - 2.0 * np.sin(x) + 0.1 * np.exp(x)

    def stop_at_three(report):
        return report.level == 3

    searcher = quiet(max_complexity=6, beam_width=40, max_terms=3)
    cut = searcher.find_candidates(x[:, None], y, callback=stop_at_three)
    shorter = quiet(max_complexity=3, beam_width=40, max_terms=3).find_candidates(x[:, None], y)
    assert observed(cut) == observed(shorter)
    assert not math.isnan(cut[0].error)


def test_cross_validation_picks_the_law_of_a_noisy_sum():
    pytest.importorskip("scipy")
    from tov_sr_tools.cross_validation import select_cv

    rng = np.random.default_rng(8)
    X = rng.uniform(-2.0, 2.0, (120, 2))
    y = 2.0 * X[:, 0] ** 2 - 3.0 * np.sin(X[:, 1]) + rng.normal(0.0, 0.1, 120)
    staircase = quiet(max_complexity=3, beam_width=60, max_terms=4).find_candidates(X, y)
    chosen = select_cv(staircase, X, y)
    assert observed(chosen) == observed(select_cv(staircase[::-1], X, y))
    assert chosen.complexity < staircase[0].complexity
    law = 2.0 * X[:, 0] ** 2 - 3.0 * np.sin(X[:, 1])
    assert np.mean((np.array(chosen.predict(X)) - law) ** 2) < 0.01
    for folds in (1, 121, 2.0):
        with pytest.raises(ValueError, match="folds must be"):
            select_cv(staircase, X, y, folds=folds)


def test_the_regressor_selects_by_cross_validation():
    pytest.importorskip("sklearn")
    from tov_sr_tools import TovRegressor

    rng = np.random.default_rng(9)
    X = rng.uniform(0.5, 2.0, (80, 3))
    y = X[:, 0] * X[:, 1] + 2.0 * X[:, 2] ** 2 + rng.normal(0.0, 0.05, 80)
    model = TovRegressor(max_complexity=3, beam_width=40, max_terms=3, selection="cv").fit(X, y)
    assert observed(model.result_)[0] in [observed(r)[0] for r in model.candidates_]
    assert model.score(X, y) > 0.99


# (targets, formula): an intercept that only rounding asks for is left out.
WITHOUT_INTERCEPT = [
    (lambda v: 3.0 * v[:, 1] * v[:, 2] + 2.0 * v[:, 0] * v[:, 1],
     "Plus(Times(C, Times(v_{1}, v_{2})), Times(C, Times(v_{0}, v_{1})))"),
    (lambda v: 3.0 * v[:, 1] * v[:, 2] + 2.0 * v[:, 0] * v[:, 1] + 0.5,
     "Plus(Times(C, Times(v_{1}, v_{2})), Plus(Times(C, Times(v_{0}, v_{1})), C))"),
]  # fmt: skip


@pytest.mark.parametrize("law, formula", WITHOUT_INTERCEPT)
def test_a_sum_keeps_its_intercept_only_where_the_data_ask_for_it(law, formula):
    rows = SIGNED[:, :3]
    found = quiet(max_complexity=3, beam_width=100, max_terms=3).fit(rows, law(rows))
    assert found.formula == formula
