"""Physical units: laws in many variables found through their dimensionless
groups, results in the caller's variables, every error, and the settings
that still apply."""

import math
import os
import pickle
import random
import re
from fractions import Fraction

import pytest
import tov_sr
from conftest import run_python


def quiet(**settings):
    return tov_sr.Searcher(verbose=False, **settings)


def observed(results):
    results = results if isinstance(results, list) else [results]
    return [(r.formula, r.complexity, r.error.hex(), r.parameters) for r in results]


def sample(ranges, n, seed):
    rng = random.Random(seed)
    return [[rng.uniform(lo, hi) for lo, hi in ranges] for _ in range(n)]


# (name, units of the inputs, units of the target, sampling ranges, law,
#  max_complexity)
LAWS = [
    (
        "Lorentz force",
        ["C", "V/m", "T", "m/s", "rad"],
        "N",
        [(1, 5), (1, 5), (1, 5), (1, 5), (0, 3)],
        lambda q, e, b, v, t: q * (e + b * v * math.sin(t)),
        6,
    ),
    (
        "gravitational energy difference",
        ["m^3 kg^-1 s^-2", "kg", "kg", "m", "m"],
        "J",
        [(1, 5), (1, 5), (1, 5), (1, 5), (1, 5)],
        lambda g, m1, m2, r1, r2: g * m1 * m2 * (1 / r2 - 1 / r1),
        5,
    ),
    (
        "gravitation",
        [{"m": 3, "kg": -1, "s": -2}, "kg", "kg", "m"],
        "N",
        [(1, 2), (1, 5), (1, 5), (1, 3)],
        lambda g, m1, m2, r: g * m1 * m2 / r**2,
        3,
    ),
    (
        "barometric density",
        ["m^-3", "kg", "m", "m/s^2", "J/K", "K"],
        "1/m^3",
        [(1, 5), (1, 2), (0.1, 1), (1, 2), (1, 5), (1, 5)],
        lambda n0, m, x, g, kb, t: n0 * math.exp(-m * g * x / (kb * t)),
        4,
    ),
]


@pytest.mark.parametrize("name, x_units, y_units, ranges, law, size", LAWS, ids=[l[0] for l in LAWS])
def test_laws_in_many_variables_are_found_exactly(name, x_units, y_units, ranges, law, size):
    rows = sample(ranges, 60, 1)
    ys = [law(*row) for row in rows]
    searcher = quiet(max_complexity=size, beam_width=200)
    result = searcher.find_multivariate(rows, ys, x_units=x_units, y_units=y_units)
    assert result.error < 1e-20
    # The formula is in the caller's variables and holds on new points.
    fresh = sample(ranges, 30, 2)
    for predicted, row in zip(result.predict(fresh), fresh):
        assert predicted == pytest.approx(law(*row), rel=1e-9, abs=1e-12)
    analysis = result.dimensional_analysis
    assert set(analysis) == {"groups", "monomial", "formula", "used_groups"}
    assert "pi_{" in analysis["formula"] and "v_{" not in analysis["formula"]


def test_the_record_names_the_groups_and_the_monomial():
    name, x_units, y_units, ranges, law, size = LAWS[0]
    rows = sample(ranges, 40, 3)
    result = quiet(max_complexity=size, beam_width=200).find_multivariate(
        rows, [law(*r) for r in rows], x_units=x_units, y_units=y_units
    )
    assert result.dimensional_analysis == {
        "groups": ("v_{4}", "Divide(Times(v_{2}, v_{3}), v_{1})"),
        "monomial": "Times(v_{0}, v_{1})",
        "formula": "Plus(C, Times(pi_{1}, Sin(pi_{0})))",
        "used_groups": (0, 1),
    }
    assert result.formula == (
        "Times(Times(v_{0}, v_{1}), Plus(C, Times(Divide(Times(v_{2}, v_{3}), v_{1}), Sin(v_{4}))))"
    )
    assert result.complexity == 14 and result.parameters == pytest.approx((1.0,))


def test_results_round_trip_through_pickle_with_their_record():
    rows = sample([(1, 5), (1, 5)], 20, 4)
    result = quiet(max_complexity=4).find_multivariate(
        rows, [a / b**2 for a, b in rows], x_units=["m^3", "m"], y_units="m"
    )
    restored = pickle.loads(pickle.dumps(result))
    assert observed(restored) == observed(result)
    assert restored.dimensional_analysis == result.dimensional_analysis
    state = result.__reduce__()[1][0]
    assert len(state) == 4
    damaged = (*state[:3], (state[3][0], state[3][1], ((9, 0, 0, 0, 0.0, 0.0),)))
    with pytest.raises(ValueError, match=r"^Invalid SearchResult state: reduced: token 0: "):
        tov_sr.SearchResult._from_state(damaged)
    with pytest.raises(ValueError, match=r"^Invalid SearchResult state: the units record"):
        tov_sr.SearchResult._from_state((*state[:3], None))


def test_results_export_to_sympy():
    sympy = pytest.importorskip("sympy")
    from tov_sr_tools import to_sympy

    rows = sample([(1, 5), (1, 5), (1, 5)], 30, 5)
    result = quiet(max_complexity=3).find_multivariate(
        rows, [m * v * v for m, v, _ in rows], x_units=["kg", "m/s", "m/s"], y_units="J"
    )
    expression = to_sympy(result, ["m", "v", "w"])
    m, v, w = sympy.symbols("m v w", real=True)
    for point in sample([(1, 5), (1, 5), (1, 5)], 5, 15):
        value = expression.subs(dict(zip((m, v, w), point)))
        assert float(value) == pytest.approx(point[0] * point[1] ** 2, rel=1e-12)


def test_without_units_nothing_changes():
    rows = sample([(1, 3), (1, 3)], 25, 6)
    ys = [a * b + 1.0 for a, b in rows]
    searcher = quiet(max_complexity=5, beam_width=50)
    plain = searcher.find_candidates(rows, ys)
    assert observed(searcher.find_candidates(rows, ys, x_units=None, y_units=None)) == observed(
        plain
    )
    assert all(r.dimensional_analysis is None for r in plain)


def test_dimensionless_inputs_and_target_only_add_the_record():
    rows = sample([(1, 3), (0, 2)], 25, 7)
    ys = [a * math.cos(b) for a, b in rows]
    searcher = quiet(max_complexity=4, beam_width=50)
    plain = searcher.find_candidates(rows, ys)
    with_units = searcher.find_candidates(rows, ys, x_units=["1", "rad"], y_units="")
    assert observed(with_units) == observed(plain)
    assert with_units[0].dimensional_analysis["groups"] == ("v_{0}", "v_{1}")
    assert with_units[0].dimensional_analysis["monomial"] is None


def test_no_dimensionless_group_leaves_the_constant_to_fit():
    rows = sample([(0.5, 2), (9, 10)], 20, 8)
    ys = [2 * math.pi * math.sqrt(length / g) for length, g in rows]
    result = quiet(max_complexity=1).find_multivariate(rows, ys, x_units=["m", "m/s^2"], y_units="s")
    assert result.formula == "Times(Divide(Sqrt(v_{0}), Sqrt(v_{1})), C)"
    assert result.parameters == pytest.approx((2 * math.pi,), rel=1e-12)
    assert result.dimensional_analysis["groups"] == ()


def test_a_dimensionless_target_is_searched_on_the_groups_alone():
    rows = sample([(1, 3), (1, 3), (1, 3)], 25, 9)
    ys = [v * t / d for d, t, v in rows]
    result = quiet(max_complexity=3).find_multivariate(
        rows, ys, x_units=["m", "s", "m/s"], y_units="1"
    )
    assert result.dimensional_analysis["monomial"] is None
    assert result.error < 1e-25


def test_mappings_and_fractions_equal_unit_texts():
    rows = sample([(1, 5), (1, 5)], 20, 10)
    ys = [math.sqrt(e / m) for e, m in rows]
    searcher = quiet(max_complexity=3)
    texts = searcher.find_multivariate(rows, ys, x_units=["J", "kg"], y_units="m/s")
    mappings = searcher.find_multivariate(
        rows,
        ys,
        x_units=[{"kg": 1, "m": 2, "s": -2}, {"kg": Fraction(1)}],
        y_units={"m": Fraction(2, 2), "s": -1},
    )
    assert observed(mappings) == observed(texts)
    assert texts.dimensional_analysis["monomial"] == "Divide(Sqrt(v_{0}), Sqrt(v_{1}))"


def test_find_function_takes_one_unit():
    xs = [0.5 * k for k in range(1, 20)]
    ys = [3.0 * x * x for x in xs]
    searcher = quiet(max_complexity=3)
    one = searcher.find_function(xs, ys, x_units="m", y_units="m^2")
    listed = searcher.find_function(xs, ys, x_units=["m"], y_units="m^2")
    assert observed(one) == observed(listed)
    assert one.formula == "Times(Square(v_{0}), C)"


ROWS = [[1.0, 2.0], [2.0, 3.0]]
YS = [1.0, 2.0]

# (keyword arguments, the ValueError's message)
ERRORS = [
    ({"x_units": ["m", "s"]}, "x_units needs y_units: give the units of the target too"),
    ({"y_units": "m"}, "y_units needs x_units: give the units of the inputs too"),
    ({"x_units": ["m", "kg^"], "y_units": "m"},
     "x_units[1] 'kg^' is not a unit: expected an integer exponent at position 4"),
    ({"x_units": ["m", "s"], "y_units": "m2"},
     "y_units 'm2' is not a unit: 'm2' is not a unit: write a power as m^2"),
    ({"x_units": ["m", 3], "y_units": "m"},
     "x_units[1] must be a str or a mapping from unit symbols to exponents, not int"),
    ({"x_units": ["m", {"s": 0.5}], "y_units": "m"},
     "x_units[1]: the exponent of 's' must be an int or a fractions.Fraction that fits in 64 "
     "bits, not 0.5"),
    ({"x_units": ["m", {"s": True}], "y_units": "m"},
     "x_units[1]: the exponent of 's' must be an int"),
    ({"x_units": ["m", {2: 1}], "y_units": "m"},
     "x_units[1]: a mapping's keys must be unit symbols (str), not int"),
    ({"x_units": ["m", {"m/s": 1}], "y_units": "m"}, "x_units[1]: 'm/s' is not a unit symbol"),
    ({"x_units": ["m"], "y_units": "m"},
     "x_units has 1 unit for 2 input columns: give one unit per input column"),
    ({"x_units": "m s", "y_units": "m"},
     "x_units must be a sequence with one unit per input column, not a single unit"),
    ({"x_units": 5, "y_units": "m"},
     "x_units must be a sequence of units, one per input column, not int"),
    ({"x_units": ["m", "s"], "y_units": "kg m"},
     "y_units m kg cannot be formed from the inputs' units: no input carries kg. A law with a "
     "dimensional constant (such as G, c, hbar or k_B) needs that constant as an input column "
     "with its units."),
    ({"x_units": ["kg m", "N s^2"], "y_units": "m"},
     "y_units m cannot be formed from the inputs' units: no product of powers of the inputs "
     "has these units"),
]


@pytest.mark.parametrize("keywords, message", ERRORS, ids=[e[1][:40] for e in ERRORS])
def test_unusable_units_raise_value_error(keywords, message):
    with pytest.raises(ValueError) as raised:
        quiet(max_complexity=2).find_multivariate(ROWS, YS, **keywords)
    assert str(raised.value).startswith(message)


def test_find_function_refuses_several_units():
    with pytest.raises(ValueError, match="^x_units has 2 units for 1 input column: "):
        quiet(max_complexity=2).find_function([1.0, 2.0], YS, x_units=["m", "s"], y_units="m")


def test_a_sample_without_group_values_is_refused_unless_it_weighs_nothing():
    rows = [[1.0, 2.0, 3.0], [1.0, 0.0, 3.0], [2.0, 1.0, 1.0]]
    units = {"x_units": ["m", "m", "s"], "y_units": "s"}
    with pytest.raises(tov_sr.TovDimensionError, match=r"^Physical units: the dimensionless group "
                       r"pi_\{0\} = Divide\(v_\{0\}, v_\{1\}\) has no finite real value at "
                       r"sample 1\.$"):
        quiet(max_complexity=2).find_multivariate(rows, [1.0, 2.0, 3.0], **units)
    result = quiet(max_complexity=2).find_multivariate(
        rows, [3.0, 2.0, 1.0], weights=[1.0, 0.0, 1.0], **units
    )
    assert result.error < 1e-25


def test_settings_apply_to_the_reduced_search():
    name, x_units, y_units, ranges, law, size = LAWS[0]
    rows = sample(ranges, 80, 11)
    ys = [law(*r) for r in rows]
    reports = []
    searcher = quiet(max_complexity=3, beam_width=50, operators=["Times", "Plus", "Sin"],
                     max_search_rows=20)
    results = searcher.find_candidates(
        rows, ys, weights=[1.0] * 80, callback=reports.append, x_units=x_units, y_units=y_units
    )
    assert [r.level for r in reports] == [1, 2, 3]
    errors = [r.error for r in results]
    assert errors == sorted(errors) and len(set(errors)) == len(errors)
    sizes = [r.complexity for r in results]
    assert sizes == sorted(sizes, reverse=True)
    allowed = {"Times", "Plus", "Sin", "Divide"}  # Divide from the groups
    for r in results:
        assert set(re.findall(r"([A-Za-z]+)\(", r.formula)) <= allowed


def test_the_regressor_takes_units():
    pytest.importorskip("sklearn")
    import numpy as np
    from tov_sr_tools import TovRegressor

    name, x_units, y_units, ranges, law, size = LAWS[2]
    X = np.array(sample(ranges, 40, 12))
    y = np.array([law(*r) for r in X])
    model = TovRegressor(max_complexity=size).fit(X, y, x_units=x_units, y_units=y_units)
    assert model.score(X, y) == pytest.approx(1.0)
    assert model.result_.dimensional_analysis["used_groups"] == (0,)


UNITS_SEARCH = """
import math, os, random, tov_sr
if {pin}:
    os.sched_setaffinity(0, {{0}})
rng = random.Random(13)
rows = [[rng.uniform(1, 5) for _ in range(4)] + [rng.uniform(0, 3)] for _ in range(200)]
ys = [q * (e + b * v * math.sin(t)) + rng.gauss(0, 0.01) for q, e, b, v, t in rows]
searcher = tov_sr.Searcher(max_complexity=5, beam_width=100, verbose=False, linear_scaling=True)
units = ["C", "V/m", "T", "m/s", "rad"]
for result in searcher.find_candidates(rows, ys, x_units=units, y_units="N"):
    print(repr(result), result.error.hex(), [p.hex() for p in result.parameters])
"""


@pytest.mark.skipif(len(os.sched_getaffinity(0)) < 2, reason="needs two CPUs to compare with one")
def test_units_give_the_same_results_on_one_thread_and_on_all():
    one, every = (run_python(UNITS_SEARCH.format(pin=pin)) for pin in (True, False))
    assert one.returncode == 0 and every.returncode == 0, one.stderr + every.stderr
    assert one.stdout == every.stdout and one.stdout.count("\n") >= 2


def test_a_cluster_search_with_units_gives_the_local_result():
    distributed = pytest.importorskip("distributed")
    from tov_sr_tools import DaskSearcher

    x_units, y_units = ["C", "V/m", "kg", "rad/s", "rad/s"], "m"
    ranges = [(1, 5), (1, 5), (1, 5), (3, 5), (1, 2)]

    def law(q, e, m, w0, w):
        return q * e / (m * (w0**2 - w**2))

    rows = sample(ranges, 40, 14)
    ys = [law(*r) for r in rows]
    searcher = quiet(max_complexity=5, beam_width=60)
    local = searcher.find_candidates(rows, ys, x_units=x_units, y_units=y_units)
    cluster = distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
    )
    with distributed.Client(cluster) as client:
        remote = DaskSearcher(searcher, client).find_candidates(
            rows, ys, x_units=x_units, y_units=y_units
        )
    cluster.close()
    assert observed(remote) == observed(local)
    assert [r.dimensional_analysis for r in remote] == [r.dimensional_analysis for r in local]
