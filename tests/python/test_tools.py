"""tov_sr_tools: the scikit-learn estimator, the staircase frame, the SymPy
export and the silencing of the search's output."""

import cmath
import math
import pickle
import random

import numpy as np
import pytest
import tov_sr
from conftest import run_python

sklearn = pytest.importorskip("sklearn")
pd = pytest.importorskip("pandas")
sympy = pytest.importorskip("sympy")

from sklearn.model_selection import GridSearchCV, KFold, cross_val_score  # noqa: E402
from sklearn.pipeline import make_pipeline  # noqa: E402
from sklearn.preprocessing import FunctionTransformer  # noqa: E402
from sklearn.utils.estimator_checks import parametrize_with_checks  # noqa: E402
from tov_sr_tools import TovRegressor, staircase_frame, to_sympy  # noqa: E402

RNG = np.random.default_rng(3)
X = RNG.uniform(0.5, 3.0, size=(40, 2))
Y = 1.5 * X[:, 0] * X[:, 1]


def small(**settings):
    return TovRegressor(**{"max_complexity": 5, "beam_width": 60, **settings})


@parametrize_with_checks([TovRegressor(max_complexity=4, beam_width=50)])
def test_scikit_learn_conventions(estimator, check):
    check(estimator)


def test_fit_keeps_the_staircase_and_chooses_by_score():
    model = small(complexity_penalty=0.5).fit(X, Y)
    assert model.n_features_in_ == 2 and not hasattr(model, "feature_names_in_")
    scores = [r.error * (1 + 0.5 * r.complexity) for r in model.candidates_]
    assert model.result_.formula == model.candidates_[int(np.argmin(scores))].formula
    assert model.result_.formula == "Times(v_{1}, Times(C, v_{0}))"
    assert model.result_.parameters == pytest.approx((1.5,))
    assert model.predict(X).tolist() == model.result_.eval_batch(X)
    assert model.score(X, Y) == pytest.approx(1.0)


def test_a_larger_penalty_prefers_a_shorter_formula():
    noisy = Y + np.random.default_rng(4).normal(scale=0.5, size=len(Y))
    models = [small(max_complexity=6, complexity_penalty=p).fit(X, noisy) for p in (0.0, 1.0)]
    assert models[0].result_.formula == models[0].candidates_[0].formula
    assert models[0].result_.complexity == 6
    assert models[1].result_.formula == "Times(C, Times(v_{0}, v_{1}))"


def test_data_frames_give_feature_names():
    frame = pd.DataFrame({"mass": X[:, 0], "speed": X[:, 1]})
    model = small().fit(frame, Y)
    assert model.feature_names_in_.tolist() == ["mass", "speed"]
    mass, speed = sympy.symbols("mass speed", real=True)
    (constant,) = model.sympy().atoms(sympy.Float)
    assert model.sympy() == constant * mass * speed and constant == pytest.approx(1.5)
    assert model.predict(frame).tolist() == model.result_.eval_batch(X)


def test_pipeline_cross_validation_and_grid_search():
    pipeline = make_pipeline(FunctionTransformer(lambda x: 2.0 * x), small())
    assert pipeline.fit(X, Y).score(X, Y) == pytest.approx(1.0)
    scores = cross_val_score(small(), X, Y, cv=KFold(3))
    assert scores.shape == (3,) and scores.min() > 0.999
    grid = GridSearchCV(small(), {"max_complexity": [1, 5]}, cv=KFold(2)).fit(X, Y)
    assert grid.best_params_ == {"max_complexity": 5}


def test_fitted_estimator_pickles():
    model = small().fit(X, Y)
    restored = pickle.loads(pickle.dumps(model))
    assert restored.predict(X).tolist() == model.predict(X).tolist()
    assert [r.formula for r in restored.candidates_] == [r.formula for r in model.candidates_]


def test_output_is_silenced_unless_verbose():
    result = run_python("""
        import numpy as np
        from tov_sr_tools import TovRegressor, silence_search_output
        X = np.arange(1.0, 6.0).reshape(-1, 1)
        print("quiet", flush=True)
        TovRegressor(max_complexity=2).fit(X, X.ravel())
        print("verbose", flush=True)
        TovRegressor(max_complexity=2, verbose=True).fit(X, X.ravel())
        with silence_search_output():
            print("hidden")
        print("done")
        """)
    assert result.returncode == 0, result.stderr
    quiet, verbose = result.stdout.split("verbose\n")
    assert quiet == "quiet\n"
    assert verbose.startswith("[TOV-SR] Started search space exploration.")
    assert verbose.endswith("\ndone\n") and "hidden" not in verbose


def test_staircase_frame():
    results = tov_sr.Searcher(max_complexity=5, beam_width=60).find_candidates(X, Y)
    frame = staircase_frame(results)
    assert frame.columns.tolist() == ["complexity", "error", "formula", "latex"]
    assert frame.dtypes.astype(str).tolist()[:2] == ["int64", "float64"]
    assert frame.to_dict("records") == [
        {"complexity": r.complexity, "error": r.error, "formula": r.formula, "latex": r.to_latex()}
        for r in results
    ]
    assert staircase_frame([]).columns.tolist() == frame.columns.tolist()


# Builtin operator ids by arity.
UNARY = [6, 7, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22]
BINARY = [5, 8, 9, 10, 11]


def random_tree(rng, budget):
    """Postfix tokens of a random expression of at most `budget` tokens."""
    if budget == 1 or rng.random() < 0.25:
        if rng.random() < 0.4:
            return [(3, 0, 0, 0, rng.uniform(-2.0, 2.0), 0.0)]
        return [(2, 0, rng.randrange(2), 0, 0.0, 0.0)]
    if budget >= 3 and rng.random() < 0.5:
        left_budget = rng.randrange(1, budget - 1)
        left = random_tree(rng, left_budget)
        right = random_tree(rng, budget - 1 - len(left))
        return left + right + [(4, 2, 0, rng.choice(BINARY), 0.0, 0.0)]
    return random_tree(rng, budget - 1) + [(4, 1, 0, rng.choice(UNARY), 0.0, 0.0)]


def random_result(rng):
    tokens = random_tree(rng, 8)
    params = iter(range(len(tokens)))
    tokens = [(k, a, next(params) if k == 3 else i, o, re, im) for k, a, i, o, re, im in tokens]
    return tov_sr.SearchResult._from_state((1, 0.0, tuple(tokens)))


def found_results():
    rng = np.random.default_rng(5)
    inputs = rng.uniform(-2.0, 3.0, size=(12, 2))
    searcher = tov_sr.Searcher(max_complexity=5, beam_width=40)
    targets = [np.sin(inputs[:, 0]) * inputs[:, 1], np.log(inputs[:, 0] ** 2 + 1.0)]
    return [r for ys in targets for r in searcher.find_candidates(inputs, ys)]


def agree(result, expression, symbols, points):
    """Checks the export against eval_batch wherever the exact value is real,
    finite and well-conditioned (rounding in double arithmetic cannot move it
    much); returns how many points were compared."""
    import mpmath

    function = sympy.lambdify(symbols, expression, modules="mpmath")

    def exact(point, scale=1):
        try:
            return complex(function(*[mpmath.mpf(x) * scale for x in point]))
        except (ZeroDivisionError, ValueError, OverflowError):
            return complex(math.nan)

    compared = 0
    with mpmath.workdps(40):
        for point, value in zip(points, result.eval_batch(points)):
            reference = exact(point)
            size = max(1.0, abs(reference))
            nearby = [exact(point, 1 + d) for d in (-1e-13, 1e-13)]
            if (
                math.isfinite(value)
                and cmath.isfinite(reference)
                and abs(reference.imag) <= 1e-9 * size
                and all(abs(z - reference) <= 1e-9 * size for z in nearby)
            ):
                assert value == pytest.approx(reference.real, rel=1e-7, abs=1e-9), (
                    result.formula,
                    point,
                )
                compared += 1
    return compared


def test_sympy_export_matches_eval_batch():
    rng = random.Random(11)
    results = found_results() + [random_result(rng) for _ in range(300)]
    points = [[rng.uniform(-3.0, 3.0), rng.uniform(-3.0, 3.0)] for _ in range(12)]
    symbols = sympy.symbols("v_0 v_1", real=True)
    compared = [agree(r, to_sympy(r), symbols, points) for r in results]
    assert sum(c > 0 for c in compared) > 0.8 * len(results)


def test_sympy_export_uses_names_and_exact_constants():
    result = tov_sr.SearchResult._from_state(
        (1, 0.0, ((2, 0, 1, 0, 0.0, 0.0), (3, 0, 0, 0, 0.1, 0.0), (4, 2, 0, 9, 0.0, 0.0)))
    )
    expression = to_sympy(result, feature_names=["a", "b"])
    (constant,) = expression.atoms(sympy.Float)
    assert float(constant) == 0.1 and sympy.Rational(constant) == sympy.Rational(0.1)
    assert expression.free_symbols == {sympy.Symbol("b", real=True)}
    assert to_sympy(result).free_symbols == {sympy.Symbol("v_1", real=True)}
    with pytest.raises(ValueError, match="uses variable 1 but only 1 feature names"):
        to_sympy(result, feature_names=["a"])


def test_importing_the_tools_needs_no_optional_package():
    result = run_python("""
        import sys
        for name in ("sklearn", "pandas", "sympy"):
            sys.modules[name] = None
        import tov_sr, tov_sr_tools
        print(sorted(tov_sr_tools.__all__))
        """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split("\n")[-2] == str(
        sorted(
            [
                "DaskSearcher",
                "TovRegressor",
                "decompose",
                "plot_fit",
                "plot_staircase",
                "progress_bar",
                "select",
                "silence_search_output",
                "staircase_frame",
                "to_sympy",
            ]
        )
    )
