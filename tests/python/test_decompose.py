"""decompose: the surrogate's structure tests on functions built with and
without each structure, recombination, the record, the time budget,
interruption, determinism and bad arguments."""

import os
import pickle

import numpy as np
import pytest
import tov_sr
from conftest import run_python

pytest.importorskip("sklearn")
pytest.importorskip("scipy")

import tov_sr_tools  # noqa: E402
from tov_sr_tools import decomposition as D  # noqa: E402
from tov_sr_tools.decomposition import DecompositionResult, Step, decompose  # noqa: E402

X3 = np.random.default_rng(1).uniform(1.0, 3.0, (1500, 3))
A, B, C = X3.T


def small_searcher(**settings):
    return tov_sr.Searcher(
        **{"max_complexity": 7, "beam_width": 200, "max_search_rows": 400, "verbose": False,
           "linear_scaling": True, **settings}
    )  # fmt: skip


def surrogate(y, X=X3):
    return D._Surrogate(X, y, np.random.default_rng(0), 0)


def pairs_of(y):
    found = D._pair_tests(surrogate(y), X3, np.random.default_rng(1), 0.0)
    return [(i, j, kind) for _, i, j, kind in found]


def split_of(y):
    found = D._separability_test(surrogate(y), X3, y, np.random.default_rng(2), 0.0)
    return None if found is None else (found[0], found[2], found[3])


def random_smooth(k):
    """Random smooth functions of three variables, none of them separable
    nor with a pair symmetry: two products of random mixtures of the
    variables, of equal spread so that neither hides the other."""
    rng = np.random.default_rng(100 + k)
    W = rng.normal(0.0, 1.0, (3, 3))
    v = rng.normal(0.0, 1.0)
    z = X3 @ W
    first = np.sin(z[:, 0]) * np.exp(0.5 * z[:, 1])
    second = z[:, 0] * z[:, 2]
    return first / first.std() + v * second / second.std()


@pytest.mark.parametrize(
    "y, expected",
    [
        (np.sin(A - B) + C, [(0, 1, "difference")]),
        (np.exp((A + B) / 3) * C, [(0, 1, "sum")]),
        (A / B + C**2, [(0, 1, "ratio")]),
        (np.sqrt(A * B) + C, [(0, 1, "product")]),
        (np.sin(A) + B * C, [(1, 2, "product")]),
        ((1 + A**2) * np.cos(B + C / 2), []),
    ],
)
def test_pair_symmetries_are_found_where_built(y, expected):
    assert pairs_of(y) == expected


@pytest.mark.parametrize(
    "y, expected",
    [
        (np.sin(A - B) + C, ("none", (0, 1), (2,))),
        (A / B + C**2, ("none", (0, 1), (2,))),
        (np.sin(A) + B * C, ("none", (0,), (1, 2))),
        ((1 + A**2) * np.cos(B + C / 2), ("product", (0,), (1, 2))),
        (np.sqrt(A**2 + B * np.sin(C) + 5), ("square", (0,), (1, 2))),
        (1 / (A + B * np.sin(C)), ("inverse", (0,), (1, 2))),
        ((np.cos(A) + 2 + B * C) ** 2, ("sqrt", (0,), (1, 2))),
    ],
)
def test_separability_is_found_where_built(y, expected):
    assert split_of(y) == expected


@pytest.mark.parametrize("k", range(20))
def test_random_smooth_functions_are_not_split(k):
    y = random_smooth(k)
    assert pairs_of(y) == []
    assert split_of(y) is None


def steps(step):
    return [step.kind, [steps(child) for child in step.children]]


def test_a_distance_is_found_through_two_differences():
    X = np.random.default_rng(10).uniform(1.0, 5.0, (1500, 4))
    y = np.sqrt((X[:, 1] - X[:, 0]) ** 2 + (X[:, 3] - X[:, 2]) ** 2)
    found = decompose(X, y, time_limit=None, searcher=small_searcher(max_complexity=4))
    assert isinstance(found.result, tov_sr.SearchResult)
    assert found.formula == (
        "Sqrt(Plus(Plus(Times(C, Square(Subtract(v_{0}, v_{1}))), C), "
        "Plus(Times(C, Square(Subtract(v_{2}, v_{3}))), C)))"
    )
    assert found.error < 1e-20
    assert np.allclose(found.eval_batch(X), y, rtol=1e-12)
    record = found.decomposition
    assert steps(record) == [
        "choice",
        [["search", []], ["pair", [["separable", [["search", []], ["search", []]]]]]],
    ]
    pair = record.children[1]
    assert pair.detail == (
        "depends only on difference Subtract(v_{0}, v_{1}), difference Subtract(v_{2}, v_{3})"
    )
    assert pair.variables == ("v_{0}", "v_{1}", "v_{2}", "v_{3}")
    split = pair.children[0]
    assert split.variables == ("Subtract(v_{0}, v_{1})", "Subtract(v_{2}, v_{3})")
    assert split.detail == (
        "f^2 = g + h with g of (Subtract(v_{0}, v_{1})), h of (Subtract(v_{2}, v_{3}))"
    )
    assert split.children[0].formula == "Plus(Times(C, Square(Subtract(v_{0}, v_{1}))), C)"
    assert record.detail == "the recombined formula is chosen"
    assert str(record).splitlines()[0] == "choice: the recombined formula is chosen"


def test_parts_of_a_transformed_sum_are_recombined_with_their_constants_refined():
    # Beyond the size the searches reach whole: sqrt of a sum of two parts.
    X = np.random.default_rng(11).uniform(1.0, 3.0, (1500, 3))
    y = np.sqrt(X[:, 0] ** 2 + np.sin(X[:, 1]) * X[:, 2] + 5)
    found = decompose(X, y, time_limit=None, searcher=small_searcher(max_complexity=5))
    assert found.error < 1e-20
    assert np.allclose(found.eval_batch(X), y, rtol=1e-13)
    record = found.decomposition
    assert steps(record) == [
        "choice", [["search", []], ["separable", [["search", []], ["search", []]]]]
    ]  # fmt: skip
    split = record.children[1]
    assert split.detail == "f^2 = g + h with g of (v_{0}), h of (v_{1}, v_{2})"
    assert split.statistic <= D.SEPARABLE_THRESHOLD
    assert split.children[1].variables == ("v_{1}", "v_{2}")
    assert "Sin(v_{1})" in split.children[1].formula


def test_with_units_the_groups_are_decomposed():
    X = np.random.default_rng(3).uniform(1.0, 5.0, (1500, 4))
    y = np.sqrt((X[:, 1] - X[:, 0]) ** 2 + (X[:, 3] - X[:, 2]) ** 2)
    searcher = small_searcher(max_complexity=4)
    found = decompose(X, y, time_limit=None, searcher=searcher, x_units=["m"] * 4, y_units="m")
    units = found.decomposition.children[1]
    assert units.kind == "units"
    assert units.detail == "y = M f(groups), M = v_{0}"
    analysis = searcher.fit(X, y, x_units=["m"] * 4, y_units="m").dimensional_analysis
    assert units.children[0].variables == analysis["groups"]
    assert units.formula.startswith("Times(v_{0}, ")
    # The differences do not survive the reduction to ratios: the variables
    # themselves are decomposed too, and that formula is exact.
    variables = found.decomposition.children[2]
    assert variables.kind == "pair"
    assert variables.variables == ("v_{0}", "v_{1}", "v_{2}", "v_{3}")
    assert found.decomposition.detail == "the recombined (variables) formula is chosen"
    assert found.error < 1e-20


def x(j):
    return D._var(j)


@pytest.mark.parametrize(
    "transform, expected",
    [
        ("none", lambda a, b: a + b),
        ("product", lambda a, b: a * b),
        ("square", lambda a, b: np.sqrt(a + b)),
        ("sqrt", lambda a, b: (a + b) ** 2),
        ("inverse", lambda a, b: 1 / (a + b)),
    ],
)
def test_parts_combine_by_their_transform(transform, expected):
    # The engine computes in complex arithmetic: within an ulp of NumPy's.
    tokens = D._combine(transform, x(0), x(1), np.ones(3))
    assert np.allclose(D._evaluate(tokens, X3[:, :2]), expected(A, B), rtol=1e-15, atol=0.0)


def test_negative_targets_of_a_square_take_the_negative_root():
    tokens = D._combine("square", x(0), x(1), -np.ones(3))
    assert D._formula(tokens) == "Neg(Sqrt(Plus(v_{0}, v_{1})))"


def test_substitution_puts_definitions_for_variables():
    part = D._apply("Times", x(0), D._apply("Sin", x(1)))
    definitions = [D._apply("Subtract", x(2), x(0)), D._apply("Divide", x(1), x(2))]
    tokens = D._substitute(part, definitions)
    assert D._formula(tokens) == "Times(Subtract(v_{2}, v_{0}), Sin(Divide(v_{1}, v_{2})))"
    assert np.allclose(D._evaluate(tokens, X3), (C - A) * np.sin(B / C), rtol=1e-14, atol=0.0)


def test_refinement_finds_the_constants_of_the_data():
    tokens = D._apply("Plus", D._apply("Times", D._const(1.0), x(0)), D._const(0.0))
    refined, error = D._refine(tokens, X3, 2.5 * A - 1.25, None)
    values = [t[4] for t in refined if t[0] == D._PARAM]
    assert np.allclose(values, [2.5, -1.25], rtol=1e-12)
    assert error < 1e-25
    assert [t[2] for t in refined if t[0] == D._PARAM] == [0, 1]


def test_the_result_pickles_with_its_record():
    X = np.random.default_rng(12).uniform(1.0, 2.0, (60, 3))
    found = decompose(X, X[:, 0] * X[:, 1] + X[:, 2], time_limit=None,
                      searcher=small_searcher())  # fmt: skip
    back = pickle.loads(pickle.dumps(found))
    assert isinstance(back, DecompositionResult)
    assert (back.formula, back.error, back.parameters) == (
        found.formula, found.error, found.parameters,
    )  # fmt: skip
    assert back.decomposition == found.decomposition
    assert repr(back) == repr(found.result)


def test_few_rows_decline_every_test():
    X = np.random.default_rng(13).uniform(1.0, 5.0, (D.MIN_ROWS - 1, 4))
    y = np.sqrt((X[:, 1] - X[:, 0]) ** 2 + (X[:, 3] - X[:, 2]) ** 2)
    found = decompose(X, y, time_limit=None, searcher=small_searcher(max_complexity=4))
    assert steps(found.decomposition) == ["choice", [["search", []], ["search", []]]]


def test_targets_the_surrogate_cannot_resolve_decline_every_test():
    X = np.random.default_rng(14).uniform(1.0, 5.0, (1000, 4))
    y = np.random.default_rng(5).normal(0.0, 1.0, 1000)
    found = decompose(X, y, time_limit=None, searcher=small_searcher(max_complexity=3))
    assert steps(found.decomposition) == ["choice", [["search", []], ["search", []]]]


# --- The budget and interruption, with the clock and the searches stood in for.

FAKE = tov_sr.Searcher(max_complexity=1, verbose=False).fit(
    [[1.0], [2.0], [4.0]], [1.5, 2.0, 4.5]
)  # v_{0}, with an error above 0


class FakeTime:
    """Searches that take exactly their time limit, on a clock that moves
    only then."""

    def __init__(self, interrupt_at=None):
        self.now = 0.0
        self.limits = []
        self.interrupt_at = interrupt_at

    def clock(self):
        return self.now

    def search(self, searcher, X, y, weights, units):
        if len(self.limits) == self.interrupt_at:
            raise KeyboardInterrupt
        self.limits.append(searcher.time_limit)
        self.now += searcher.time_limit
        return FAKE


@pytest.fixture
def fake_time(monkeypatch):
    def install(**options):
        fake = FakeTime(**options)
        monkeypatch.setattr(D, "_clock", fake.clock)
        monkeypatch.setattr(D, "_run_search", fake.search)
        return fake

    return install


DISTANCE_X = np.random.default_rng(2).uniform(1.0, 5.0, (1500, 4))
DISTANCE_Y = np.sqrt((DISTANCE_X[:, 1] - DISTANCE_X[:, 0]) ** 2 + (DISTANCE_X[:, 3] - DISTANCE_X[:, 2]) ** 2)


def test_the_budget_is_shared_as_documented(fake_time):
    fake = fake_time()
    decompose(DISTANCE_X, DISTANCE_Y, time_limit=40, searcher=small_searcher())
    variants = len(D._variants(small_searcher(), 4)[1])
    # A quarter to the undecomposed search, its variants sharing it; the
    # rest to the one part left after the pairs, its variants sharing it.
    first = [10.0 / variants] * variants
    assert fake.limits[:variants] == pytest.approx(first)
    rest = fake.limits[variants:]
    assert sum(rest) == pytest.approx(30.0)
    assert rest == pytest.approx([rest[0]] * len(rest))
    assert fake.now == pytest.approx(40.0)


def test_a_search_past_the_budget_still_gets_its_minimum(fake_time):
    fake = fake_time()
    fake.now = 0.0
    D._search(small_searcher(), DISTANCE_X, DISTANCE_Y, None, 0.0)
    assert fake.limits == [D.MIN_SEARCH_SECONDS] * len(D._variants(small_searcher(), 4)[1])


@pytest.mark.parametrize("at", [0, 1, 2])
def test_an_interrupt_propagates_and_leaves_the_inputs(fake_time, at):
    fake_time(interrupt_at=at)
    X, y = DISTANCE_X.copy(), DISTANCE_Y.copy()
    with pytest.raises(KeyboardInterrupt):
        decompose(X, y, time_limit=40, searcher=small_searcher())
    assert np.array_equal(X, DISTANCE_X) and np.array_equal(y, DISTANCE_Y)


def test_the_same_seed_gives_the_same_result_whatever_the_threads():
    code = """
        import numpy as np
        from tov_sr_tools import decompose
        import tov_sr
        X = np.random.default_rng(4).uniform(1.0, 3.0, (1200, 4))
        y = X[:, 0] * X[:, 1] + np.sin(X[:, 2] - X[:, 3])
        s = tov_sr.Searcher(max_complexity=4, beam_width=100, max_search_rows=300,
                            linear_scaling=True, verbose=False)
        found = decompose(X, y, time_limit=None, searcher=s, random_state=3)
        print(found.formula, found.error.hex(), [p.hex() for p in found.parameters])
        print(found.decomposition)
        """
    outputs = []
    for threads in ("1", "2"):
        env = {"OPENBLAS_NUM_THREADS": threads, "OMP_NUM_THREADS": threads}
        saved = {k: os.environ.get(k) for k in env}
        os.environ.update(env)
        try:
            result = run_python(code, timeout=300)
        finally:
            for k, v in saved.items():
                if v is None:
                    os.environ.pop(k)
                else:
                    os.environ[k] = v
        assert result.returncode == 0, result.stderr
        outputs.append(result.stdout)
    assert outputs[0] == outputs[1]
    assert "pair" in outputs[0]


@pytest.mark.parametrize(
    "arguments, error, message",
    [
        ({"X": [1.0, 2.0]}, ValueError,
         "X must be a non-empty 2-D array: one row per sample, one column per variable"),
        ({"y": [1.0]}, ValueError, "y must hold one target per row of X (3), not shape (1,)"),
        ({"y": [1.0, np.nan, 2.0]}, ValueError, "X and y must be finite"),
        ({"weights": [1.0, -1.0, 1.0]}, ValueError,
         "weights must hold one finite non-negative weight per row of X"),
        ({"weights": [0.0, 0.0, 0.0]}, ValueError, "weights must not all be zero"),
        ({"time_limit": 0}, ValueError, "time_limit must be positive and finite, not 0"),
        ({"time_limit": "1"}, TypeError, "time_limit must be a number of seconds or None, not '1'"),
        ({"searcher": "fast"}, TypeError, "searcher must be a tov_sr.Searcher or None, not str"),
        ({"random_state": -1}, ValueError, "random_state must be a non-negative int, not -1"),
    ],
)  # fmt: skip
def test_bad_arguments_are_named(arguments, error, message):
    call = {"X": [[1.0, 2.0], [2.0, 3.0], [3.0, 5.0]], "y": [1.0, 2.0, 3.0], **arguments}
    with pytest.raises(error) as raised:
        decompose(call.pop("X"), call.pop("y"), **call)
    assert str(raised.value) == message


def test_the_package_exports_decompose():
    assert tov_sr_tools.decompose is decompose
    assert isinstance(Step("search", "x", ()), Step)


def test_the_estimators_auto_strategy_keeps_the_best_of_its_tries():
    from tov_sr_tools import TovRegressor

    X = np.random.default_rng(15).uniform(1.0, 3.0, (800, 3))
    y = X[:, 0] * X[:, 1] + X[:, 2]
    model = TovRegressor(max_complexity=5, beam_width=100, max_search_rows=300,
                         linear_scaling=True, strategy="auto").fit(X, y)  # fmt: skip
    assert model.strategy_ in ("search", "sums", "meet in the middle", "decompose")
    assert isinstance(model.decomposition_, Step)
    assert model.result_.error < 1e-20
    assert isinstance(model.result_, tov_sr.SearchResult)


def test_the_estimators_strategy_is_checked():
    from tov_sr_tools import TovRegressor

    with pytest.raises(ValueError) as raised:
        TovRegressor(strategy="fast").fit([[1.0], [2.0], [3.0]], [1.0, 2.0, 3.0])
    assert str(raised.value) == "strategy must be 'search' or 'auto', not 'fast'"
    assert TovRegressor().get_params()["strategy"] == "search"
