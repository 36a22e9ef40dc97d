"""Variable names: results keep the names given to a search and render
with them (LaTeX, Python, SymPy, readable text, notebooks, plots, the
estimator), while the formula stays the search's own text."""

import copy
import math
import pickle
import random

import pytest
import tov_sr

NAMES = ["q", "E", "B", "v", "theta"]
UNITS = {"x_units": ["C", "V/m", "T", "m/s", "rad"], "y_units": "N"}


def quiet(**settings):
    return tov_sr.Searcher(verbose=False, **settings)


def observed(results):
    results = results if isinstance(results, list) else [results]
    return [(repr(r), r.formula, r.complexity, r.error.hex(), r.parameters) for r in results]


def lorentz(n, seed):
    rng = random.Random(seed)
    rows = [[rng.uniform(1, 5) for _ in range(4)] + [rng.uniform(0, 3)] for _ in range(n)]
    return rows, [q * (e + b * v * math.sin(t)) for q, e, b, v, t in rows]


ROWS, FORCES = lorentz(40, 3)


@pytest.fixture(scope="module")
def force():
    return quiet(max_complexity=6, beam_width=200).find_multivariate(
        ROWS, FORCES, variable_names=NAMES, **UNITS
    )


def test_the_names_render_and_the_formula_stays(force):
    plain = quiet(max_complexity=6, beam_width=200).find_multivariate(ROWS, FORCES, **UNITS)
    assert observed(force) == observed(plain)
    assert plain.variable_names is None
    assert force.variable_names == tuple(NAMES)
    assert force.formula == (
        "Times(Times(v_{0}, v_{1}), Plus(C, Times(Divide(Times(v_{2}, v_{3}), v_{1}), Sin(v_{4}))))"
    )
    assert force.to_latex() == (
        r"q \cdot E \cdot \left(1.0000 + \frac{B \cdot v}{E} \cdot \sin(\theta)\right)"
    )
    assert force._repr_latex_() == f"${force.to_latex()}$"
    assert force.to_python() == "((q)*(E))*((1.0000)+(((((B)*(v))/(E)))*(np.sin(theta))))"
    assert plain.to_python() == (
        "((v_{0})*(v_{1}))*((1.0000)+(((((v_{2})*(v_{3}))/(v_{1})))*(np.sin(v_{4}))))"
    )
    assert force.dimensional_analysis == {
        "groups": ("theta", "Divide(Times(B, v), E)"),
        "monomial": "Times(q, E)",
        "formula": "Plus(C, Times(pi_{1}, Sin(pi_{0})))",
        "used_groups": (0, 1),
    }
    assert force.eval_batch(ROWS) == plain.eval_batch(ROWS)


def test_results_pickle_and_copy_with_their_names(force):
    for restored in (pickle.loads(pickle.dumps(force)), copy.deepcopy(force)):
        assert observed(restored) == observed(force)
        assert restored.variable_names == force.variable_names
        assert restored.to_latex() == force.to_latex()
        assert restored.dimensional_analysis == force.dimensional_analysis
    state = force.__reduce__()[1][0]
    assert state[4] == tuple(NAMES) and len(state) == 5
    # Names without a units record.
    named = quiet(max_complexity=3).find_multivariate(
        [[1.0, 2.0], [2.0, 3.0], [3.0, 5.0]], [2.0, 6.0, 15.0], variable_names=["a", "b"]
    )
    state = named.__reduce__()[1][0]
    assert state[3:] == (None, ("a", "b"))
    assert pickle.loads(pickle.dumps(named)).to_python() == named.to_python() == "(a)*(b)"
    # A state the names do not fit is refused.
    refused = [
        ((*state[:4], ("a",)), "the formula has more variables than names"),
        ((*state[:4], ("a", "a")),
         "variable_names[1] repeats variable_names[0]: every variable needs a name of its own"),
        ((*state[:4], ("a", "")), "variable_names[1] is empty: a variable needs a name"),
        ((*state[:4], ("a", 2)), "variable name 1 is not a str"),
        ((*state[:4], ["a", "b"]), "the variable names are not a tuple"),
        ((*state[:3], None), "the units record is not a tuple (groups, monomial, reduced formula)"),
    ]  # fmt: skip
    for damaged, reason in refused:
        with pytest.raises(ValueError) as raised:
            tov_sr.SearchResult._from_state(damaged)
        assert str(raised.value) == "Invalid SearchResult state: " + reason
    with_record = force.__reduce__()[1][0]
    with pytest.raises(ValueError) as raised:
        tov_sr.SearchResult._from_state((*with_record[:4], ("q", "E", "B", "v")))
    assert str(raised.value) == (
        "Invalid SearchResult state: the formula has more variables than names"
    )


# (names, their LaTeX, their Python identifiers)
RENDERED = [
    (["x_1", "x_2"], ["x_{1}", "x_{2}"], ["x_1", "x_2"]),
    (["theta", "omega_0"], [r"\theta", r"\omega_{0}"], ["theta", "omega_0"]),
    (["θ", "Δx"], [r"\theta", r"\mathrm{{\Delta}x}"], ["θ", "Δx"]),
    (["mass", "T_c"], [r"\mathrm{mass}", "T_{c}"], ["mass", "T_c"]),
    (["x y", "2nd"], [r"\mathrm{x\ y}", r"\mathrm{2nd}"], ["x_y", "_2nd"]),
    (["lambda", "np"], [r"\lambda", r"\mathrm{np}"], ["lambda_", "np_"]),
    (["a-b", "a_b"], [r"\mathrm{a-b}", "a_{b}"], ["a_b", "a_b_"]),
    (["v (m/s)", "50%"], [r"\mathrm{v\ (m/s)}", r"\mathrm{50\%}"], ["v__m_s_", "_50_"]),
]


@pytest.mark.parametrize("names, latex, python", RENDERED, ids=[r[0][0] for r in RENDERED])
def test_names_in_latex_and_valid_python(names, latex, python):
    np = pytest.importorskip("numpy")
    rows = [[1.0 + i, 2.0 + i * i] for i in range(8)]
    result = quiet(max_complexity=3).find_multivariate(
        rows, [a * b for a, b in rows], variable_names=names
    )
    assert result.formula == "Times(v_{0}, v_{1})"
    assert result.variable_names == tuple(names)
    assert result.to_latex() == f"{latex[0]} \\cdot {latex[1]}"
    assert result.to_python() == f"({python[0]})*({python[1]})"
    # The Python rendering runs, and gives the formula's values.
    code = compile(result.to_python(), "<formula>", "eval")
    for a, b in rows:
        assert eval(code, {"np": np, python[0]: a, python[1]: b}) == a * b


def test_names_in_sympy_and_readable_text(force):
    sympy = pytest.importorskip("sympy")
    from tov_sr_tools.export import to_sympy, to_text

    q, E, B, v, theta = sympy.symbols(NAMES, real=True)
    (constant,) = to_sympy(force).atoms(sympy.Float)
    assert sympy.simplify(to_sympy(force) - q * E * (constant + B * v * sympy.sin(theta) / E)) == 0
    assert to_text(force) == "q*E*(1.0000 + B*v/E*sin(theta))"
    # Explicit feature names still win.
    assert {str(s) for s in to_sympy(force, list("abcde")).free_symbols} == set("abcde")


# (formula, readable text)
TEXTS = [
    ("Plus(v_{0}, Neg(v_{1}))", "x - y"),
    ("Subtract(v_{0}, Plus(v_{1}, v_{0}))", "x - (y + x)"),
    ("Subtract(v_{0}, Neg(v_{1}))", "x + y"),
    ("Divide(v_{0}, Times(v_{1}, v_{0}))", "x/(y*x)"),
    ("Times(v_{0}, Divide(v_{1}, v_{0}))", "x*y/x"),
    ("Times(v_{0}, Neg(v_{1}))", "x*(-y)"),
    ("Square(Plus(v_{0}, v_{1}))", "(x + y)**2"),
    ("Square(Neg(v_{0}))", "(-x)**2"),
    ("Neg(Square(v_{0}))", "-x**2"),
    ("Inv(Times(v_{0}, v_{1}))", "1/(x*y)"),
    ("Cube(Exp(v_{0}))", "exp(x)**3"),
    ("TOV(v_{0}, v_{1})", "exp(x) - log(y)"),
    ("ArcTan(Sqrt(v_{0}))", "atan(sqrt(x))"),
]


def test_readable_text_puts_parentheses_where_precedence_needs_them():
    from tov_sr_tools.export import to_text

    class Formula:
        variable_names = ("x", "y")
        parameters = ()

        def __init__(self, formula):
            self.formula = formula

    for formula, text in TEXTS:
        assert to_text(Formula(formula)) == text, formula
    # Exact constants read as numbers: 1/(2*Pi) is 1/(2*pi).
    snapped = Formula("Times(v_{0}, 1/(2*Pi))")
    assert to_text(snapped) == "x*1/(2*pi)"


def test_every_data_method_takes_names():
    searcher = quiet(max_complexity=4)
    xs = [0.5 * k for k in range(1, 12)]
    ys = [3.0 * x * x for x in xs]
    one = searcher.find_function(xs, ys, variable_names="t")
    assert one.variable_names == ("t",) and one.to_python() == "(3.0000)*((t)**2)"
    assert searcher.find_function(xs, ys, variable_names=["t"]).variable_names == ("t",)
    rows = [[x] for x in xs]
    assert searcher.fit(rows, ys, variable_names=["t"]).variable_names == ("t",)
    staircase = searcher.find_candidates(rows, ys, variable_names=["t"])
    assert len(staircase) > 1 and all(r.variable_names == ("t",) for r in staircase)
    # Snapping keeps them.
    assert one.snap(rows, ys).variable_names == ("t",)


def test_unusable_names_are_refused():
    rows = [[1.0, 2.0], [2.0, 3.0]]
    # (variable_names, the exception's type, its whole message)
    cases = [
        (["a"], ValueError, "variable_names has 1 name for 2 input columns: give one name per "
         "input column"),
        (["a", "b", "c"], ValueError, "variable_names has 3 names for 2 input columns: give one "
         "name per input column"),
        (["a", "a"], ValueError, "variable_names[1] repeats variable_names[0]: every variable "
         "needs a name of its own"),
        (["a", ""], ValueError, "variable_names[1] is empty: a variable needs a name"),
        (["a", 2], TypeError, "variable_names[1] must be a str, not int"),
        ("ab", TypeError, "variable_names must be a sequence of str, one per input column, not a "
         "single str"),
        (5, TypeError, "variable_names must be a sequence of str, one per input column, not int"),
    ]  # fmt: skip
    for names, kind, message in cases:
        with pytest.raises(kind) as raised:
            quiet(max_complexity=2).find_multivariate(rows, [1.0, 2.0], variable_names=names)
        assert type(raised.value) is kind and str(raised.value) == message
    with pytest.raises(ValueError) as raised:
        quiet(max_complexity=2).find_function([1.0, 2.0], [1.0, 2.0], variable_names=["a", "b"])
    assert str(raised.value) == (
        "variable_names has 2 names for 1 input column: give one name per input column"
    )


def test_explicit_names_win_over_the_columns():
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame(ROWS, columns=["a", "b", "c", "d", "e"])
    result = quiet(max_complexity=6, beam_width=200).find_multivariate(
        frame, FORCES, variable_names=NAMES, **UNITS
    )
    assert result.variable_names == tuple(NAMES)


def test_the_estimator_renders_with_the_names():
    pytest.importorskip("sklearn")
    pd = pytest.importorskip("pandas")
    np = pytest.importorskip("numpy")
    from tov_sr_tools import TovRegressor

    X, y = np.array(ROWS), np.array(FORCES)
    plain = TovRegressor(max_complexity=6, beam_width=200).fit(X, y, **UNITS)
    assert str(plain) == repr(plain)
    assert plain.result_.variable_names is None
    named = TovRegressor(max_complexity=6, beam_width=200).fit(X, y, variable_names=NAMES, **UNITS)
    assert str(named) == "q*E*(1.0000 + B*v/E*sin(theta))"
    assert repr(named) == repr(plain)
    assert named.result_.to_latex().startswith(r"q \cdot E")
    frame = pd.DataFrame(X, columns=NAMES)
    on_frame = TovRegressor(max_complexity=6, beam_width=200).fit(frame, y, **UNITS)
    assert str(on_frame) == str(named)
    assert all(r.variable_names == tuple(NAMES) for r in on_frame.candidates_)
    assert {str(s) for s in on_frame.sympy().free_symbols} <= set(NAMES)
    restored = pickle.loads(pickle.dumps(on_frame))
    assert str(restored) == str(on_frame)


def test_plots_label_with_the_names(force):
    pytest.importorskip("matplotlib")
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from tov_sr_tools import plot_fit, plot_staircase

    xs = [0.5 * k for k in range(1, 12)]
    ys = [3.0 * x * x for x in xs]
    one = quiet(max_complexity=4).find_function(xs, ys, variable_names="θ_1")
    axes = plot_fit(one, xs, [3.0 * x * x for x in xs])
    assert axes.get_xlabel() == "θ_1"
    assert axes.get_legend().get_texts()[1].get_text() == "$" + one.to_latex() + "$"
    assert one.to_latex() == r"3.0000 \cdot {\theta_{1}}^2"
    axes = plot_staircase([force])
    assert [t.get_text() for t in axes.texts] == [f"${force.to_latex()}$"]
    # Where matplotlib cannot typeset the LaTeX, the readable text.
    odd = quiet(max_complexity=3).find_function(xs, [3.0 * x for x in xs], variable_names="R&D")
    from tov_sr_tools.export import to_text

    axes = plot_staircase([odd])
    assert [t.get_text() for t in axes.texts] == [to_text(odd)]
    assert to_text(odd) == "R&D/0.3333" and odd.formula == "Divide(v_{0}, C)"
    plt.close("all")
