"""Exact constants: the named-constant search, snapping fitted constants,
and their renderings, pickles and SymPy export."""

import math
import pickle
import re
import warnings

import numpy as np
import pytest
import tov_sr

Searcher = tov_sr.Searcher
SearchResult = tov_sr.SearchResult

# Token tuples of the pickle state: (kind, arity, index, op_id, re, im).
TIMES, PLUS, EXP, SQUARE, INV = 9, 8, 12, 21, 7


def var(j):
    return (2, 0, j, 0, 0.0, 0.0)


def op(op_id, arity=2):
    return (4, arity, 0, op_id, 0.0, 0.0)


def with_constants(tokens, values):
    """A result with `tokens`, its parameters taking `values` in order."""
    values = iter(values)
    filled, k = [], 0
    for token in tokens:
        if token == "C":
            filled.append((3, 0, k, 0, float(next(values)), 0.0))
            k += 1
        else:
            filled.append(token)
    return SearchResult._from_state((1, 0.0, tuple(filled)))


def floor(ys):
    return (8 * 2.0**-52) ** 2 * float(np.mean(np.square(ys)))


def data(variables, law, n=60, seed=3):
    X = np.random.default_rng(seed).uniform(1.0, 3.0, size=(n, variables))
    return X, law(*X.T)


def quiet(**settings):
    return Searcher(verbose=False, **settings)


# --- The setting ---------------------------------------------------------


def test_the_setting_and_its_defaults():
    assert Searcher().constants == "free"
    named = Searcher(constants="named")
    assert named.constants == "named"
    assert repr(named).endswith(", constants='named')")
    assert "constants" not in repr(Searcher(constants="free"))
    assert pickle.dumps(Searcher(constants="free")) == pickle.dumps(Searcher())
    assert pickle.loads(pickle.dumps(named)).constants == "named"


@pytest.mark.parametrize(
    "value, error, message",
    [
        ("fixed", ValueError, "constants must be 'free' or 'named', not 'fixed'"),
        ("named\0", ValueError, "constants must be 'free' or 'named', not 'named\\x00'"),
        (1, TypeError, "constants must be 'free' or 'named', not int"),
        (None, TypeError, "constants must be 'free' or 'named', not NoneType"),
    ],
)
def test_the_setting_refuses_other_values(value, error, message):
    with pytest.raises(error) as info:
        Searcher(constants=value)
    assert str(info.value) == message


def test_free_constants_search_as_before():
    xs = [0.5 + 0.1 * i for i in range(15)]
    ys = [2.5 * math.exp(-x) + x for x in xs]
    for call in (
        lambda s: s.find_function(xs, ys),
        lambda s: s.recognize_constant(math.e + 1.0),
    ):
        before = call(quiet(max_complexity=5, beam_width=100))
        now = call(quiet(max_complexity=5, beam_width=100, constants="free"))
        assert (now.formula, now.error.hex(), now.parameters) == (
            before.formula,
            before.error.hex(),
            before.parameters,
        )


# --- Named constants -----------------------------------------------------

GOLDEN = (1 + math.sqrt(5)) / 2


@pytest.mark.parametrize(
    "value, beam_width, formula, latex",
    [
        (math.sqrt(2) + math.sqrt(3), 300, "Plus(Sqrt(2), Sqrt(3))", r"\sqrt{2} + \sqrt{3}"),
        (math.pi**2, 300, "Square(Pi)", r"{\pi}^2"),
        (math.exp(math.pi), 300, "Exp(Pi)", r"e^{\pi}"),
        (math.log(2), 300, "Log(2)", r"\ln(2)"),
        (GOLDEN, 3000, "Divide(2, Subtract(Sqrt(5), 1))", r"\frac{2}{\sqrt{5} - 1}"),
    ],
)
def test_named_constants_give_closed_forms(value, beam_width, formula, latex):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        result = quiet(max_complexity=6, beam_width=beam_width, constants="named").recognize_constant(
            value
        )
    assert (result.formula, result.to_latex(), result.parameters) == (formula, latex, ())
    assert result.error <= floor([value])
    assert result.eval([]) == pytest.approx(value, rel=1e-15)


@pytest.mark.parametrize("value", [0.7390851332151607, 0.915965594177219, 3.3598856662431775])
def test_random_numbers_come_back_as_near_misses(value):
    searcher = quiet(max_complexity=5, beam_width=200, constants="named")
    with pytest.warns(UserWarning, match=r"no closed form of .* up to complexity 5") as warned:
        result = searcher.recognize_constant(value)
    assert result.error > floor([value]) and result.error > 0
    assert result.parameters == () and not re.search(r"\bC\b|v_\{", result.formula)
    found = result.eval([])
    assert str(warned[0].message) == (
        f"no closed form of {value!r} up to complexity 5; the nearest found, "
        f"{result.formula} = {found!r}, is off by {abs(found - value)!r}"
    )


def test_named_constants_fit_data_with_closed_forms():
    X, y = data(1, lambda r: 4 * np.pi * r**2)
    result = quiet(max_complexity=6, beam_width=300, constants="named").fit(X, y)
    assert result.formula == "Times(Square(v_{0}), Times(4, Pi))"
    assert result.to_python() == "((v_{0})**2)*((4)*(np.pi))"
    assert result.parameters == () and result.error <= floor(y)


def test_named_results_pickle_and_export_exactly():
    sympy = pytest.importorskip("sympy")
    from tov_sr_tools import to_sympy

    result = quiet(max_complexity=6, beam_width=3000, constants="named").recognize_constant(GOLDEN)
    again = pickle.loads(pickle.dumps(result))
    assert (again.formula, again.error, again.to_python()) == (
        result.formula,
        result.error,
        result.to_python(),
    )
    assert sympy.simplify(to_sympy(again) - (1 + sympy.sqrt(5)) / 2) == 0


# --- Snapping -------------------------------------------------------------

HBAR_OMEGA = ["C", var(0), var(1), op(TIMES), op(TIMES)]
# C exp(C v0^2) + C
GAUSSIAN = ["C", "C", var(0), op(SQUARE, 1), op(TIMES), op(EXP, 1), op(TIMES), "C", op(PLUS)]
LINEAR = ["C", var(0), op(TIMES)]


@pytest.mark.parametrize(
    "tokens, constants, law, variables, formula, python",
    [
        (
            HBAR_OMEGA,
            [0.15915494309189535],
            lambda h, w: h * w / (2 * np.pi),
            2,
            "Times(1/(2*Pi), Times(v_{0}, v_{1}))",
            "(1/(2*np.pi))*((v_{0})*(v_{1}))",
        ),
        (
            GAUSSIAN,
            [0.3989422804014331, -0.5000000000000002, -1.1e-16],
            lambda t: np.exp(-(t**2) / 2) / np.sqrt(2 * np.pi),
            1,
            "Plus(Times(1/Sqrt(2*Pi), Exp(Times(-1/2, Square(v_{0})))), 0)",
            "((1/np.sqrt(2*np.pi))*(np.exp((-1/2)*((v_{0})**2))))+(0)",
        ),
        (LINEAR, [0.6000000000000001], lambda x: 0.6 * x, 1, "Times(3/5, v_{0})", "(3/5)*(v_{0})"),
    ],
)
def test_snapping_constants_with_closed_forms(tokens, constants, law, variables, formula, python):
    X, y = data(variables, law)
    snapped = with_constants(tokens, constants).snap(X, y)
    assert (snapped.formula, snapped.to_python(), snapped.parameters) == (formula, python, ())
    assert snapped.error <= floor(y)
    assert np.allclose(snapped.predict(X), y, rtol=1e-15, atol=0)


def test_a_constant_without_closed_form_is_left_as_it_is():
    k = 1.2345678901234567
    X, y = data(1, lambda x: k * x)
    fitted = with_constants(LINEAR, [k])
    snapped = fitted.snap(X, y)
    assert (snapped.formula, snapped.parameters) == ("Times(C, v_{0})", (k,))
    assert snapped.to_latex() == fitted.to_latex() == "1.2346 \\cdot v_{0}"


def test_an_exact_error_stays_exact():
    X, y = data(1, lambda x: 0.5 * x)
    fitted = with_constants(LINEAR, [0.5])
    assert fitted.snap(X, y).error == 0.0
    assert fitted.snap(X, y).formula == "Times(1/2, v_{0})"


def test_the_tolerance_lets_a_constant_of_noisy_data_snap():
    X, y = data(1, lambda x: 0.5 * x)
    noisy = y + np.random.default_rng(9).normal(0, 1e-3, len(y))
    slope = float(X[:, 0] @ noisy / (X[:, 0] @ X[:, 0]))  # the least-squares fit
    fitted = with_constants(LINEAR, [slope]).snap(X, noisy, tolerance=0.0)
    assert fitted.parameters == (slope,) and abs(slope - 0.5) > 1e-5
    assert fitted.snap(X, noisy).formula == "Times(C, v_{0})"
    loose = fitted.snap(X, noisy, tolerance=4 * fitted.error / len(y))
    assert loose.formula == "Times(1/2, v_{0})"
    assert fitted.error < loose.error <= fitted.error * (1 + 4 / len(y))


def test_a_searched_law_snaps_and_exports_exactly():
    sympy = pytest.importorskip("sympy")
    from tov_sr_tools import to_sympy

    X, y = data(2, lambda h, w: h * w / (2 * np.pi))
    fitted = quiet(max_complexity=5, beam_width=200).fit(X, y)
    snapped = fitted.snap(X, y)
    assert "C" not in snapped.formula and snapped.to_latex().count(r"\frac{1}{2\pi}") == 1
    h, w = sympy.symbols("h w", real=True)
    assert to_sympy(snapped, ["h", "w"]) == h * w / (2 * sympy.pi)
    restored = pickle.loads(pickle.dumps(snapped))
    assert (restored.formula, restored.error.hex()) == (snapped.formula, snapped.error.hex())
    assert restored.predict(X) == snapped.predict(X)


@pytest.mark.parametrize(
    "value, text, exact",
    [
        (0.6, "3/5", "Rational(3, 5)"),
        (-2.5, "-5/2", "Rational(-5, 2)"),
        (4 * math.pi, "4*Pi", "4*pi"),
        (1 / (2 * math.pi), "1/(2*Pi)", "1/(2*pi)"),
        (math.pi**2 / 6, "Pi^2/6", "pi**2/6"),
        (math.sqrt(2) / 2, "Sqrt(2)/2", "sqrt(2)/2"),
        (5 * math.sqrt(3) / 4, "5*Sqrt(3)/4", "5*sqrt(3)/4"),
        (math.sqrt(math.pi), "Sqrt(Pi)", "sqrt(pi)"),
        (2 / (7 * math.sqrt(math.pi)), "2/(7*Sqrt(Pi))", "2/(7*sqrt(pi))"),
        (3 * math.sqrt(2 * math.pi) / 2, "3*Sqrt(2*Pi)/2", "3*sqrt(2*pi)/2"),
        (1 / math.sqrt(2 * math.pi), "1/Sqrt(2*Pi)", "1/sqrt(2*pi)"),
        (3 * math.e, "3*E", "3*E"),
        (2 / (3 * math.e), "2/(3*E)", "2/(3*E)"),
        (math.log(2), "Log(2)", "log(2)"),
    ],
)
def test_every_basis_renders_and_exports_exactly(value, text, exact):
    sympy = pytest.importorskip("sympy")
    from tov_sr_tools import to_sympy

    X, y = data(1, lambda x: value * x)
    snapped = with_constants(LINEAR, [value]).snap(X, y)
    assert snapped.formula == f"Times({text}, v_{{0}})"
    v = sympy.Symbol("v_0", real=True)
    assert to_sympy(snapped) == sympy.sympify(exact) * v
    rendered = eval(snapped.to_python().replace("v_{0}", "2.0"), {"np": np})
    assert rendered == pytest.approx(2 * value, rel=1e-15)


@pytest.mark.parametrize(
    "arguments, error, message",
    [
        ({"tolerance": -1.0}, ValueError, "tolerance must be a finite, non-negative number or None, not -1.0"),
        ({"tolerance": math.inf}, ValueError, "tolerance must be a finite, non-negative number or None, not inf"),
        ({"tolerance": "a"}, TypeError, "argument 'tolerance'"),
        ({"weights": [1.0]}, ValueError, "weights must have one entry per target: 1 weights for 3 targets"),
    ],
)
def test_snap_refuses_bad_arguments(arguments, error, message):
    fitted = with_constants(LINEAR, [0.5])
    with pytest.raises(error, match=message.replace("(", r"\(").replace(")", r"\)")):
        fitted.snap([[1.0], [2.0], [3.0]], [0.5, 1.0, 1.5], **arguments)


def test_snap_refuses_data_the_formula_has_no_value_on():
    fitted = SearchResult._from_state((1, 0.0, (var(0), op(INV, 1))))
    with pytest.raises(ValueError, match="snap: the formula has no finite error on these data"):
        fitted.snap([[0.0], [1.0]], [1.0, 1.0])
    with pytest.raises(tov_sr.TovDimensionError):
        fitted.snap([[1.0], [2.0]], [1.0])


def test_snap_weighs_the_samples():
    X, y = data(1, lambda x: 0.5 * x)
    y[0] += 1.0  # a faulty reading, left out by its weight of 0
    weights = np.ones(len(y))
    weights[0] = 0.0
    fitted = with_constants(LINEAR, [0.5000000000000001])
    assert fitted.snap(X, y, weights=weights).formula == "Times(1/2, v_{0})"
    assert fitted.snap(X, y, weights=weights).error == 0.0
    assert fitted.snap(X, y).formula != "Times(1/2, v_{0})"


def test_the_estimator_snaps_and_searches_named_constants():
    pytest.importorskip("sklearn")
    from tov_sr_tools import TovRegressor

    X, y = data(2, lambda h, w: h * w / (2 * np.pi))
    plain = TovRegressor(max_complexity=5).fit(X, y)
    snapped = TovRegressor(max_complexity=5, snap=True).fit(X, y)
    assert "C" in plain.result_.formula and "1/(2*Pi)" in snapped.result_.formula
    assert snapped.result_.parameters == ()
    X, y = data(1, lambda r: 4 * np.pi * r**2)
    named = TovRegressor(max_complexity=6, beam_width=300, constants="named").fit(X, y)
    assert named.result_.formula == "Times(Square(v_{0}), Times(4, Pi))"
