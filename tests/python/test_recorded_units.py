"""Units as data are recorded: prefixed and everyday non-SI units, pint and
astropy units, and data that carry their units (pint and astropy
quantities, pandas DataFrames with pint-pandas columns, astropy QTables),
with the errors for units that are missing or disagree."""

import math
import random

import pytest
import tov_sr
from conftest import run_python
from test_units import observed, quiet, sample


# Distances in km, times in h, speeds in m/s: v = d / t / 3.6.
TRIPS = sample([(1, 50), (0.5, 3)], 40, 1)
SPEEDS = [d / t / 3.6 for d, t in TRIPS]


def test_km_and_h_in_m_per_s_out_leave_the_constant_one_over_3_6():
    result = quiet(max_complexity=3).find_multivariate(
        TRIPS, SPEEDS, x_units=["km", "h"], y_units="m/s"
    )
    assert result.formula == "Times(Divide(v_{0}, v_{1}), C)"
    assert result.parameters == pytest.approx((1 / 3.6,), rel=1e-14)
    assert result.error < 1e-28
    assert result.dimensional_analysis == {
        "groups": (),
        "monomial": "Divide(v_{0}, v_{1})",
        "formula": "C",
        "used_groups": (),
    }


# (units of the inputs, unit of the target): the same law in units as
# laboratories record them gives the same search as in SI base units.
SAME_DIMENSIONS = [
    (["mm", "ms"], "m/s"),
    (["mi", "min"], "km/h"),
    (["Å", "d"], "µm/s"),
    (["inch", "s"], "ft/min"),
]


@pytest.mark.parametrize("x_units, y_units", SAME_DIMENSIONS)
def test_prefixed_and_everyday_units_search_as_their_dimensions(x_units, y_units):
    searcher = quiet(max_complexity=3)
    si = searcher.find_multivariate(TRIPS, SPEEDS, x_units=["m", "s"], y_units="m/s")
    recorded = searcher.find_multivariate(TRIPS, SPEEDS, x_units=x_units, y_units=y_units)
    assert observed(recorded) == observed(si)


def test_mappings_take_prefixed_symbols():
    xs = [0.5 * k for k in range(1, 20)]
    ys = [2.0 * x for x in xs]
    searcher = quiet(max_complexity=3)
    assert observed(searcher.find_function(xs, ys, x_units={"km": 1}, y_units={"m": 1})) == (
        observed(searcher.find_function(xs, ys, x_units="m", y_units="m"))
    )


# (x_units, y_units, the ValueError's whole message)
RECORDED_ERRORS = [
    (["km", "h"], "kg",
     "y_units kg cannot be formed from the inputs' units: no input carries kg. A law with a "
     "dimensional constant (such as G, c, hbar or k_B) needs that constant as an input column "
     "with its units."),
    (["km2", "h"], "m",
     "x_units[0] 'km2' is not a unit: 'km2' is not a unit: write a power as km^2"),
    (["kg km", "kN ms^2"], "mm",
     "y_units m cannot be formed from the inputs' units: no product of powers of the inputs "
     "has these units. A law with a dimensional constant (such as G, c, hbar or k_B) needs that "
     "constant as an input column with its units."),
]  # fmt: skip


@pytest.mark.parametrize("x_units, y_units, message", RECORDED_ERRORS)
def test_recorded_units_that_cannot_work_are_refused(x_units, y_units, message):
    with pytest.raises(ValueError) as raised:
        quiet(max_complexity=2).find_multivariate(TRIPS, SPEEDS, x_units=x_units, y_units=y_units)
    assert str(raised.value) == message


def pint_registry():
    pint = pytest.importorskip("pint")
    return pint.get_application_registry()


def test_pint_units_are_taken_by_their_dimensions():
    ureg = pint_registry()
    searcher = quiet(max_complexity=3)
    si = {"x_units": ["m", "s"], "y_units": "m/s"}
    expected = observed(searcher.find_multivariate(TRIPS, SPEEDS, **si))
    got = searcher.find_multivariate(
        TRIPS, SPEEDS, x_units=[ureg.km, ureg.hour], y_units=ureg.meter / ureg.second
    )
    assert observed(got) == expected
    xs = [0.5 * k for k in range(1, 20)]
    assert observed(
        searcher.find_function(xs, [x**0.5 for x in xs], x_units=ureg.m**2, y_units=ureg.m)
    ) == observed(searcher.find_function(xs, [x**0.5 for x in xs], x_units="m^2", y_units="m"))


def test_astropy_units_are_taken_by_their_dimensions():
    u = pytest.importorskip("astropy.units")
    searcher = quiet(max_complexity=3)
    si = {"x_units": ["m", "s"], "y_units": "m/s"}
    expected = observed(searcher.find_multivariate(TRIPS, SPEEDS, **si))
    got = searcher.find_multivariate(TRIPS, SPEEDS, x_units=[u.km, u.h], y_units=u.m / u.s)
    assert observed(got) == expected
    # Angles are dimensionless; a unit outside the SI (a count) is a
    # dimension of its own.
    rows = sample([(1, 5), (0, 3)], 30, 2)
    ys = [r * math.sin(a) for r, a in rows]
    assert observed(
        searcher.find_multivariate(rows, ys, x_units=[u.ct, u.deg], y_units=u.ct)
    ) == observed(searcher.find_multivariate(rows, ys, x_units=["ct", "rad"], y_units="ct"))


def test_quantities_carry_their_units():
    np = pytest.importorskip("numpy")
    ureg = pint_registry()
    searcher = quiet(max_complexity=3)
    trips, speeds = np.array(TRIPS), np.array(SPEEDS)
    # A 2-D quantity has one unit for all its columns.
    lengths = ureg.Quantity(trips, "m")
    same = searcher.find_multivariate(lengths, ureg.Quantity(speeds, "km"))
    assert same.dimensional_analysis["monomial"] == "v_{0}"
    # Vectors: the one input of find_function and the targets.
    xs = ureg.Quantity(trips[:, 0], "km")
    with_units = searcher.find_function(xs, ureg.Quantity(1000.0 * trips[:, 0], "m"))
    assert with_units.formula == "Times(v_{0}, C)"
    assert with_units.parameters == pytest.approx((1000.0,), rel=1e-14)
    assert with_units.dimensional_analysis["monomial"] == "v_{0}"
    # Explicit units win over (and agree with) the ones carried.
    explicit = searcher.find_multivariate(
        ureg.Quantity(trips, "m"), ureg.Quantity(speeds, "m"), x_units=["km", "mm"], y_units="m"
    )
    assert observed(explicit) == observed(same)


def test_astropy_quantities_carry_their_units():
    np = pytest.importorskip("numpy")
    u = pytest.importorskip("astropy.units")
    searcher = quiet(max_complexity=3)
    lengths = np.array(TRIPS) * u.m
    plain = searcher.find_multivariate(TRIPS, SPEEDS, x_units=["m", "m"], y_units="m")
    assert observed(searcher.find_multivariate(lengths, np.array(SPEEDS) * u.km)) == observed(plain)


def pint_frame():
    pd = pytest.importorskip("pandas")
    pytest.importorskip("pint_pandas")
    frame = pd.DataFrame(
        {
            "distance": pd.Series([d for d, _ in TRIPS], dtype="pint[km]"),
            "duration": pd.Series([t for _, t in TRIPS], dtype="pint[h]"),
        }
    )
    return pd, frame, pd.Series(SPEEDS, dtype="pint[m/s]")


def test_pint_pandas_columns_carry_units_and_names():
    pd, frame, speeds = pint_frame()
    searcher = quiet(max_complexity=3)
    result = searcher.find_multivariate(frame, speeds)
    expected = searcher.find_multivariate(TRIPS, SPEEDS, x_units=["km", "h"], y_units="m/s")
    assert observed(result) == observed(expected)
    assert result.variable_names == ("distance", "duration")
    assert result.to_latex() == r"\frac{\mathrm{distance}}{\mathrm{duration}} \cdot 0.2778"
    assert result.dimensional_analysis["monomial"] == "Divide(distance, duration)"
    # Every data method takes them; the targets may be plain numbers with
    # y_units, or the inputs plain with x_units.
    assert observed(searcher.find_candidates(frame, SPEEDS, y_units="m/s")) == observed(
        searcher.find_candidates(TRIPS, SPEEDS, x_units=["km", "h"], y_units="m/s")
    )
    assert observed(searcher.fit(TRIPS, speeds, x_units=["km", "h"])) == observed(expected)
    # Evaluating and snapping read the magnitudes.
    assert result.predict(frame) == result.eval_batch(frame) == expected.predict(TRIPS)
    assert observed(result.snap(frame, speeds)) == observed(expected.snap(TRIPS, SPEEDS))
    metres = [1000.0 * d for d, _ in TRIPS]
    assert observed(
        searcher.find_function(frame["distance"], pd.Series(metres, dtype="pint[m]"))
    ) == observed(searcher.find_function([d for d, _ in TRIPS], metres, x_units="km", y_units="m"))


def test_plain_data_frames_give_names_only():
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame({"distance": [d for d, _ in TRIPS], "duration": [t for _, t in TRIPS]})
    searcher = quiet(max_complexity=3)
    result = searcher.find_multivariate(frame, SPEEDS)
    assert observed(result) == observed(searcher.find_multivariate(TRIPS, SPEEDS))
    assert result.variable_names == ("distance", "duration")
    assert result.dimensional_analysis is None
    # Column labels that are not all str name nothing; nor do repeated ones.
    for columns in ([0, 1], ["t", "t"]):
        unnamed = searcher.find_multivariate(pd.DataFrame(TRIPS, columns=columns), SPEEDS)
        assert unnamed.variable_names is None
    with pytest.raises(ValueError) as raised:
        searcher.find_multivariate(pd.DataFrame({"a": [1.0, 2.0], "b": ["x", "y"]}), [1.0, 2.0])
    assert str(raised.value).startswith("column 'b' of the inputs cannot be read as floats: ")


def test_astropy_tables_carry_units_and_names():
    u = pytest.importorskip("astropy.units")
    table_module = pytest.importorskip("astropy.table")
    table = table_module.QTable(
        {"distance": [d for d, _ in TRIPS] * u.km, "duration": [t for _, t in TRIPS] * u.h}
    )
    searcher = quiet(max_complexity=3)
    result = searcher.find_multivariate(table, SPEEDS * u.m / u.s)
    expected = searcher.find_multivariate(TRIPS, SPEEDS, x_units=["km", "h"], y_units="m/s")
    assert observed(result) == observed(expected)
    assert result.variable_names == ("distance", "duration")
    # A Table's columns with a unit count too.
    plain_table = table_module.Table(
        {"distance": [d for d, _ in TRIPS], "duration": [t for _, t in TRIPS]},
        units={"distance": "km", "duration": "h"},
    )
    assert observed(searcher.find_multivariate(plain_table, SPEEDS, y_units="m/s")) == observed(
        expected
    )


def test_units_that_disagree_or_are_missing_are_refused():
    pd, frame, speeds = pint_frame()
    mixed = frame.assign(count=[1.0] * len(frame))
    distance = frame["distance"]
    # (inputs, targets, keywords, the ValueError's whole message)
    cases = [
        (frame, speeds, {"x_units": ["km", "kg"]},
         "x_units[1] has dimension kg but column 'duration' of the inputs has the unit hour, of "
         "dimension s"),
        (frame, speeds, {"y_units": "N"},
         "y_units has dimension m kg s^-2 but ys has the unit meter / second, of dimension m s^-1"),
        (distance, speeds, {"x_units": "s"},
         "x_units has dimension s but xs has the unit kilometer, of dimension m"),
        (frame, SPEEDS, {},
         "the inputs carry units but the target does not: give y_units too, or targets with "
         "their unit"),
        (TRIPS, speeds, {},
         "the target carries a unit but the inputs do not: give x_units too, or inputs with "
         "their units"),
        (frame, SPEEDS, {"x_units": ["km", "h"]},
         "x_units needs y_units: give the units of the target too"),
        (TRIPS, speeds, {"y_units": "m/s"},
         "y_units needs x_units: give the units of the inputs too"),
        (mixed, speeds, {},
         "column 'count' of the inputs carries no unit, unlike the others: give x_units, with "
         "\"1\" for a dimensionless column"),
        (frame, speeds, {"x_units": ["km"]},
         "x_units has 1 unit for 2 input columns: give one unit per input column"),
    ]  # fmt: skip
    searcher = quiet(max_complexity=2)
    for inputs, targets, keywords, message in cases:
        method = searcher.find_function if inputs is distance else searcher.find_multivariate
        with pytest.raises(ValueError) as raised:
            method(inputs, targets, **keywords)
        assert str(raised.value) == message
    # A column without a unit is fine where x_units gives them all.
    result = searcher.find_multivariate(mixed, speeds, x_units=["km", "h", "1"])
    assert result.variable_names == ("distance", "duration", "count")


def test_the_regressor_takes_data_with_units():
    pytest.importorskip("sklearn")
    np = pytest.importorskip("numpy")
    from tov_sr_tools import TovRegressor

    pd, frame, speeds = pint_frame()
    model = TovRegressor(max_complexity=3).fit(frame, speeds)
    assert model.feature_names_in_.tolist() == ["distance", "duration"]
    assert model.result_.parameters == pytest.approx((1 / 3.6,), rel=1e-12)
    assert model.result_.variable_names == ("distance", "duration")
    assert str(model) == "distance/duration*0.2778"
    assert model.predict(frame) == pytest.approx(np.array(SPEEDS), rel=1e-12)
    with pytest.raises(ValueError) as raised:
        TovRegressor(max_complexity=3).fit(frame, speeds, y_units="s")
    assert str(raised.value) == (
        "y_units has dimension s but ys has the unit meter / second, of dimension m s^-1"
    )
    u = pytest.importorskip("astropy.units")
    table = pytest.importorskip("astropy.table").QTable(
        {"d": [d for d, _ in TRIPS] * u.km, "t": [t for _, t in TRIPS] * u.h}
    )
    on_table = TovRegressor(max_complexity=3).fit(table, np.array(SPEEDS) * u.m / u.s)
    assert on_table.result_.variable_names == ("d", "t") and str(on_table) == "d/t*0.2778"
    assert on_table.predict(table) == pytest.approx(np.array(SPEEDS), rel=1e-12)


def test_tables_need_the_tools_package():
    pytest.importorskip("pandas")
    result = run_python("""
        import sys
        import pandas as pd
        sys.modules["tov_sr_tools"] = None
        import tov_sr
        searcher = tov_sr.Searcher(max_complexity=1, verbose=False)
        print(searcher.find_multivariate([[1.0], [2.0]], [1.0, 2.0]).formula)
        try:
            searcher.find_multivariate(pd.DataFrame({"a": [1.0, 2.0]}), [1.0, 2.0])
        except ImportError as error:
            print(error)
        """)
    assert result.returncode == 0, result.stderr
    assert result.stdout == (
        "v_{0}\nreading a DataFrame needs tov_sr_tools, which is part of the tov_sr "
        "distribution and cannot be imported\n"
    )


def test_importing_tov_sr_loads_no_table_or_unit_library():
    result = run_python("""
        import sys
        import tov_sr
        searcher = tov_sr.Searcher(max_complexity=1, verbose=False)
        searcher.find_multivariate([[1.0], [2.0]], [1.0, 2.0], x_units=["km"], y_units="m")
        print(sorted(m for m in ("pandas", "pint", "astropy", "tov_sr_tools") if m in sys.modules))
        """)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "[]\n"


@pytest.mark.parametrize(
    "settings, scale, formula, reduced",
    [
        ({}, 1.0, "Divide(v_{0}, v_{1})", "1"),
        ({"linear_scaling": True}, 1.0, "Divide(v_{0}, v_{1})", "1"),
        ({"constants": "named"}, 1.0, "Divide(v_{0}, v_{1})", "1"),
        ({}, 2.5, "Times(Divide(v_{0}, v_{1}), C)", "C"),
    ],
)
def test_a_reduced_law_of_one_gives_the_monomial_alone(settings, scale, formula, reduced):
    rng = random.Random(4)
    rows = [[rng.uniform(1, 3), rng.uniform(1, 3)] for _ in range(30)]
    ys = [scale * d / t for d, t in rows]
    searcher = tov_sr.Searcher(max_complexity=4, verbose=False, **settings)
    result = searcher.fit(rows, ys, x_units=["m", "s"], y_units="m/s")
    assert result.formula == formula
    assert result.dimensional_analysis["formula"] == reduced


def test_a_unit_factor_of_the_reduced_law_is_left_out():
    # E = m v^2 sin(a): f = C sin(pi_0) with C = 1 comes back without C.
    rng = random.Random(5)
    rows = [[rng.uniform(1, 3), rng.uniform(1, 3), rng.uniform(0, 1)] for _ in range(30)]
    ys = [m * v**2 * math.sin(a) for m, v, a in rows]
    searcher = tov_sr.Searcher(max_complexity=4, verbose=False)
    result = searcher.fit(rows, ys, x_units=["kg", "m/s", "1"], y_units="J")
    assert result.formula == "Times(Times(v_{0}, Square(v_{1})), Sin(v_{2}))"
    assert result.dimensional_analysis["formula"] == "Sin(pi_{0})"
