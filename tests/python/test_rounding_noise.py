"""Fits that rounding cannot fool: with linear scaling, a formula whose real
part is only the rounding of its values (tan(asin x) for x > 1 is imaginary)
scores as the constant it is, and a search stops early only on an answer."""

import numpy as np
import pytest
import tov_sr

TOLERANCE = 1e-10


def levels_of(search, *args, **kwargs):
    """The result and the last level the search completed."""
    levels = []
    result = search(*args, callback=lambda report: levels.append(report.level), **kwargs)
    return result, levels[-1]


def relative_error(result, X, y):
    predicted = np.asarray(result.eval_batch(X))
    return float(np.max(np.abs(predicted - y) / np.abs(y)))


def test_a_law_through_a_domain_edge_is_found_without_units():
    # For p > 1, tan(asin p) has a real part of about 1e-16 / (p^2 - 1): an
    # affine function of y, which linear scaling once took for an exact fit.
    rng = np.random.default_rng(0)
    p = rng.uniform(1.5, 5.0, 100)
    y = p**2 / (p**2 - 1)
    searcher = tov_sr.Searcher(max_complexity=6, linear_scaling=True, verbose=False)
    result = searcher.find_function(p, y)
    assert result.error <= TOLERANCE
    assert relative_error(result, p[:, None], y) < 1e-12


def test_the_driven_oscillator_is_found_with_units():
    rng = np.random.default_rng(0)
    n = 100
    q, E, m = (rng.uniform(1, 3, n) for _ in range(3))
    w0, w = rng.uniform(3, 5, n), rng.uniform(1, 2, n)
    X = np.column_stack([q, E, m, w0, w])
    y = q * E / (m * (w0**2 - w**2))
    searcher = tov_sr.Searcher(max_complexity=6, linear_scaling=True, verbose=False)
    result = searcher.find_multivariate(
        X, y, x_units=["A*s", "kg*m/(s^3*A)", "kg", "1/s", "1/s"], y_units="m"
    )
    assert result.error <= TOLERANCE
    assert relative_error(result, X, y) < 1e-12


@pytest.mark.parametrize(
    "law",
    [lambda x: 1 / (x**2 - 1) + 2, lambda x: x / np.sqrt(x**2 - 1)],
    ids=["1/(x^2-1)+2", "x/sqrt(x^2-1)"],
)
def test_laws_with_a_pole_at_the_edge_of_the_data_are_exact(law):
    rng = np.random.default_rng(1)
    x = rng.uniform(1.0, 3.0, 100)
    y = law(x)
    searcher = tov_sr.Searcher(max_complexity=6, linear_scaling=True, verbose=False)
    result = searcher.find_function(x, y)
    assert result.error <= TOLERANCE
    assert relative_error(result, x[:, None], y) < 1e-9


def test_planck_does_not_stop_on_an_approximation_of_the_reduced_targets():
    # On the reduced targets y / M, 1 / sin(c pi_0) comes within 1e-10 at
    # level 5; in the caller's variables it is off by far more, so the search
    # goes on to its last level.
    rng = np.random.default_rng(1)
    n = 100
    omega, T, h, kb, c = (rng.uniform(1, 5, n) for _ in range(5))
    X = np.column_stack([omega, T, h, kb, c])
    hbar = h / (2 * np.pi)
    y = hbar * omega**3 / (np.pi**2 * c**2 * (np.exp(hbar * omega / (kb * T)) - 1))
    searcher = tov_sr.Searcher(max_complexity=6, linear_scaling=True, verbose=False)
    units = {"x_units": ["rad/s", "K", "J*s", "J/K", "m/s"], "y_units": "J/m^2"}
    result, last_level = levels_of(searcher.find_multivariate, X, y, **units)
    assert last_level == 6
    assert result.error > TOLERANCE


def test_target_error_with_units_is_the_callers_tolerance():
    # E = m c^2 / 2 (a monomial law): the reduced targets are the constant 1/2
    # whatever the scale of y, and the caller's target_error decides.
    rng = np.random.default_rng(2)
    m, v = rng.uniform(1, 5, 50), rng.uniform(1, 5, 50)
    X = np.column_stack([m, v])
    units = {"x_units": ["kg", "m/s"], "y_units": "J"}
    y = 1e6 * (0.5 * m * v**2 + rng.normal(0, 1e-6, 50))
    noisy_error = tov_sr.Searcher(max_complexity=3, verbose=False).fit(X, y, **units).error
    assert noisy_error > TOLERANCE
    loose = tov_sr.Searcher(max_complexity=3, verbose=False, target_error=2 * noisy_error)
    result, last_level = levels_of(loose.fit, X, y, **units)
    assert result.error <= 2 * noisy_error
    assert last_level < 3


def random_problems(count, seed):
    """Targets from random compositions of functions that pass through the
    edges of their domains on the sampled ranges, in one and two variables."""
    rng = np.random.default_rng(seed)
    outer = [
        np.sqrt, np.log, np.exp, np.sin, np.cos, np.tan, np.arcsin, np.arccos, np.arctan,
        lambda u: 1 / u, np.square, lambda u: u**3, lambda u: 1 / (1 - u**2),
        lambda u: np.sqrt(np.abs(u**2 - 1)),
    ]  # fmt: skip
    inner = [
        lambda x0, x1: x0, lambda x0, x1: x0 * x1, lambda x0, x1: x0 / x1,
        lambda x0, x1: x0 - x1, lambda x0, x1: x0**2 - x1, lambda x0, x1: 1 + x0 * x1,
    ]  # fmt: skip
    problems = []
    while len(problems) < count:
        variables = int(rng.integers(1, 3))
        X = rng.uniform(rng.uniform(-2, 1), rng.uniform(1.2, 4), (60, variables))
        x0, x1 = X[:, 0], X[:, -1]
        f = outer[rng.integers(len(outer))]
        g = inner[rng.integers(len(inner))] if variables == 2 else inner[0]
        with np.errstate(all="ignore"):
            y = rng.uniform(0.5, 3) * f(g(x0, x1)) + rng.uniform(-2, 2)
        if np.all(np.isfinite(y)) and np.ptp(y) > 1e-3 and np.max(np.abs(y)) < 1e6:
            problems.append((X, y))
    return problems


@pytest.mark.parametrize("seed", range(3))
def test_an_early_stop_with_linear_scaling_always_answers_within_the_tolerance(seed):
    searcher = tov_sr.Searcher(
        max_complexity=4, beam_width=200, linear_scaling=True, verbose=False
    )
    for X, y in random_problems(12, seed):
        result, last_level = levels_of(searcher.find_multivariate, X, y)
        if last_level < searcher.max_complexity:
            assert result.error <= TOLERANCE, result.formula
