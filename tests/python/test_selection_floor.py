"""Errors below the rounding floor of the targets count as equal when
choosing from a staircase, so the simplest exact formula wins."""

import math
from collections import namedtuple

import numpy as np
import pytest
from tov_sr_tools import select

Entry = namedtuple("Entry", "formula error complexity")

FLOOR = 2.0**-98  # (8 ε)² for targets of mean square 1


def stairs(errors):
    """Stand-ins for a staircase {complexity: error}, most complex first."""
    return [Entry(f"size {k}", errors[k], k) for k in sorted(errors, reverse=True)]


# (staircase, rule, options, target_scale, without the scale, with it)
PICKS = [
    # Two exact formulas: rounding ranks them without the scale.
    ({4: 2.3e-31, 6: 4.5e-32}, "penalty", {}, 1.0, "size 6", "size 4"),
    ({4: 2.3e-31, 6: 4.5e-32}, "penalty", {}, 16.9, "size 6", "size 4"),
    ({1: 1.0, 4: 1e-31, 5: 1e-300}, "score", {}, 1.0, "size 5", "size 4"),
    ({4: 1e-31, 6: 1e-40}, "bic", {"n_samples": 50}, 1.0, "size 6", "size 4"),
    # At the floor is equal to it; above it, the errors compare as they are.
    ({4: FLOOR, 6: 0.0}, "penalty", {}, 1.0, "size 6", "size 4"),
    ({4: 2 * FLOOR, 6: 0.0}, "penalty", {}, 1.0, "size 6", "size 6"),
    ({4: 1e-20, 6: 1e-25}, "penalty", {}, 1.0, "size 6", "size 6"),
    # The floor scales with the targets.
    ({4: 1e-25, 6: 1e-28}, "penalty", {}, 1.0, "size 6", "size 6"),
    ({4: 1e-25, 6: 1e-28}, "penalty", {}, 1e6, "size 6", "size 4"),
    # A zero scale is no floor.
    ({4: 1e-40, 6: 0.0}, "penalty", {}, 0.0, "size 6", "size 6"),
]


@pytest.mark.parametrize("errors, rule, options, scale, plain, floored", PICKS)
def test_errors_below_the_floor_count_as_equal(errors, rule, options, scale, plain, floored):
    entries = stairs(errors)
    for order in (entries, entries[::-1]):
        assert select(order, rule, **options).formula == plain
        assert select(order, rule, **options, target_scale=None).formula == plain
        assert select(order, rule, **options, target_scale=scale).formula == floored


@pytest.mark.parametrize("scale", [-1.0, math.nan, math.inf])
def test_a_bad_target_scale_is_refused(scale):
    with pytest.raises(ValueError) as info:
        select(stairs({1: 1.0}), target_scale=scale)
    assert str(info.value) == (
        f"target_scale must be a finite non-negative number or None, not {scale!r}"
    )


def test_the_estimator_returns_the_shortest_exact_formula():
    pytest.importorskip("sklearn")
    from tov_sr_tools import TovRegressor

    X = np.random.default_rng(3).uniform(0.5, 3.0, size=(30, 2))
    y = X[:, 0] ** 2 / X[:, 1]
    model = TovRegressor(max_complexity=6).fit(X, y)
    assert model.result_.formula == "Divide(Square(v_{0}), v_{1})"
    # A longer formula of the staircase rounds less, and loses all the same.
    assert model.candidates_[0].complexity == 6
    assert model.candidates_[0].error < model.result_.error < FLOOR * np.mean(y * y)
