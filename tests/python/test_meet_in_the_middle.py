"""Meet in the middle: laws built from two retained formulas, found by
lookup, at sizes the levels do not reach; the setting's conventions; and the
same results with weights of one, with units, on a cluster and with the sums."""

import pickle

import numpy as np
import pytest
import tov_sr
from tov_sr import Searcher

RNG = np.random.default_rng(11)


def quiet(**settings):
    return Searcher(verbose=False, **settings)


def observed(results):
    return [(r.formula, r.error.hex(), [p.hex() for p in r.parameters]) for r in results]


def test_the_setting_follows_the_keyword_conventions():
    searcher = quiet(meet_in_the_middle=True)
    assert searcher.meet_in_the_middle is True
    assert repr(searcher).endswith("verbose=False, meet_in_the_middle=True)")
    assert pickle.loads(pickle.dumps(searcher)).meet_in_the_middle is True
    default = Searcher()
    assert default.meet_in_the_middle is False
    assert "meet_in_the_middle" not in repr(default)
    assert pickle.dumps(default) == pickle.dumps(Searcher(meet_in_the_middle=False))
    with pytest.raises(TypeError):
        Searcher(1, 0.1, 10, 0.0, 0.5, True)


def test_a_quotient_of_two_halves_beyond_the_levels():
    # (m1 r1 + m2 r2) is out of reach; r (x - u t) / sqrt(1 - u^2 / c^2) is a
    # quotient of a 5- and a 7-token formula: 13 tokens from levels up to 5.
    X = np.column_stack([RNG.uniform(1, 5, 60), RNG.uniform(1, 2, 60), RNG.uniform(1, 2, 60),
                         RNG.uniform(3, 6, 60)])  # fmt: skip
    y = (X[:, 0] - X[:, 1] * X[:, 2]) / np.sqrt(1 - (X[:, 1] / X[:, 3]) ** 2)
    levels = []
    result = quiet(max_complexity=5, linear_scaling=True, meet_in_the_middle=True).fit(
        X, y, callback=lambda report: levels.append(report.level)
    )
    assert result.error < 1e-20
    assert result.complexity == 13
    assert levels[-1] <= 5
    assert np.allclose(result.predict(X), y, rtol=1e-12)


def test_weights_of_one_change_nothing_and_weights_steer():
    X = RNG.uniform(1, 3, (40, 2))
    y = np.sin(X[:, 0]) * np.exp(X[:, 1])
    searcher = quiet(max_complexity=3, beam_width=60, meet_in_the_middle=True)
    plain = searcher.find_candidates(X, y)
    assert observed(searcher.find_candidates(X, y, weights=np.ones(40))) == observed(plain)
    assert plain[0].formula == "Times(Sin(v_{0}), Exp(v_{1}))"
    # A spoiled row that weighs nothing leaves the law as it was.
    spoiled = y.copy()
    spoiled[5] = 1e3
    weights = np.ones(40)
    weights[5] = 0.0
    assert searcher.fit(X, spoiled, weights=weights).formula == "Times(Sin(v_{0}), Exp(v_{1}))"


def test_with_units_the_lookup_runs_on_the_groups():
    # The driven oscillator x = q E / (m (w0^2 - w^2)): with units the
    # reduced law is f(p) = 1 / (1 - p^2) in p = w / w0.
    n = 60
    q, E, m = (RNG.uniform(1, 3, n) for _ in range(3))
    w0, w = RNG.uniform(3, 5, n), RNG.uniform(1, 2, n)
    X = np.column_stack([q, E, m, w0, w])
    y = q * E / (m * (w0**2 - w**2))
    units = {"x_units": ["A*s", "kg*m/(s^3*A)", "kg", "1/s", "1/s"], "y_units": "m"}
    searcher = quiet(max_complexity=3, linear_scaling=True, meet_in_the_middle=True)
    result = searcher.fit(X, y, **units)
    assert result.error < 1e-25
    assert np.allclose(result.predict(X), y, rtol=1e-12)


def test_the_pairs_join_the_sums():
    # The pair comes within the lookup's tolerance of y; the sums add the rest.
    X = RNG.uniform(1, 3, (50, 3))
    y = np.sin(X[:, 0]) * np.exp(X[:, 1]) + 0.01 * X[:, 2]
    searcher = quiet(max_complexity=3, beam_width=60, max_terms=2, meet_in_the_middle=True)
    result = searcher.fit(X, y)
    assert result.error < 1e-20, result.formula


def test_a_cluster_gives_the_local_result():
    distributed = pytest.importorskip("distributed")
    from tov_sr_tools.distributed import DaskSearcher

    X = RNG.uniform(1, 3, (30, 3))
    y = np.exp(X[:, 0] / X[:, 1]) * np.sqrt(X[:, 2]) + RNG.normal(0, 0.01, 30)
    searcher = quiet(max_complexity=4, beam_width=60, linear_scaling=True, meet_in_the_middle=True)
    cluster = distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
    )
    with distributed.Client(cluster) as client:
        remote = DaskSearcher(searcher, client, shards=3).find_candidates(X, y)
    cluster.close()
    assert observed(remote) == observed(searcher.find_candidates(X, y))


def test_the_regressor_passes_the_setting_on():
    pytest.importorskip("sklearn")
    from tov_sr_tools import TovRegressor

    X = RNG.uniform(1, 3, (40, 2))
    y = np.sin(X[:, 0]) * np.exp(X[:, 1])
    model = TovRegressor(max_complexity=3, meet_in_the_middle=True).fit(X, y)
    assert model.get_params()["meet_in_the_middle"] is True
    assert model.result_.error < 1e-25
