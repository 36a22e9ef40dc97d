"""Argument binding and argument conversion of both classes."""

import math
import operator
from fractions import Fraction

import numpy as np
import pytest
import tov_sr

Searcher = tov_sr.Searcher

# (receiver, call, exact TypeError message); the receiver is "class",
# "searcher" or "result".
BINDING_FAILURES = [
    (
        "class",
        lambda c: c(1, 2, 3, 4, 5, 6),
        "Searcher.__new__() takes from 0 to 5 positional arguments but 6 were given",
    ),
    (
        "class",
        lambda c: c(depth=3),
        "Searcher.__new__() got an unexpected keyword argument 'depth'",
    ),
    (
        "class",
        lambda c: c(10, max_complexity=3),
        "Searcher.__new__() got multiple values for argument 'max_complexity'",
    ),
    (
        "class",
        lambda c: c(1, 0.1, 5, 0.0, 0.5, l1_ratio=0.5),
        "Searcher.__new__() got multiple values for argument 'l1_ratio'",
    ),
    (
        "searcher",
        lambda s: s.find_function([1.0]),
        "Searcher.find_function() missing 1 required positional argument: 'ys'",
    ),
    (
        "searcher",
        lambda s: s.find_function(ys=[1.0]),
        "Searcher.find_function() missing 1 required positional argument: 'xs'",
    ),
    (
        "searcher",
        lambda s: s.find_function(),
        "Searcher.find_function() missing 2 required positional arguments: 'xs' and 'ys'",
    ),
    (
        "searcher",
        lambda s: s.find_function(alpha=0.1),
        "Searcher.find_function() missing 2 required positional arguments: 'xs' and 'ys'",
    ),
    (
        "searcher",
        lambda s: s.find_function(1, 2, 3, 4, 5),
        "Searcher.find_function() takes from 2 to 4 positional arguments but 5 were given",
    ),
    (
        "searcher",
        lambda s: s.find_function([1.0], [1.0], beta=1),
        "Searcher.find_function() got an unexpected keyword argument 'beta'",
    ),
    (
        "searcher",
        lambda s: s.find_function([1.0], [1.0], xs=[1.0]),
        "Searcher.find_function() got multiple values for argument 'xs'",
    ),
    (
        "searcher",
        lambda s: s.find_multivariate(inputs=[[1.0]]),
        "Searcher.find_multivariate() missing 1 required positional argument: 'ys'",
    ),
    (
        "searcher",
        lambda s: s.fit(),
        "Searcher.fit() missing 2 required positional arguments: 'inputs' and 'ys'",
    ),
    (
        "searcher",
        lambda s: s.fit([[1.0]], [1.0], xs=[1.0]),
        "Searcher.fit() got an unexpected keyword argument 'xs'",
    ),
    (
        "searcher",
        lambda s: s.find_candidates([[1.0]], [1.0], 0.1, 0.2, 0.3),
        "Searcher.find_candidates() takes from 2 to 4 positional arguments but 5 were given",
    ),
    (
        "searcher",
        lambda s: s.recognize_constant(),
        "Searcher.recognize_constant() missing 1 required positional argument: 'value'",
    ),
    (
        "searcher",
        lambda s: s.recognize_constant(1, 2, 3, 4),
        "Searcher.recognize_constant() takes from 1 to 3 positional arguments but 4 were given",
    ),
    (
        "searcher",
        lambda s: s.recognize_constant(1.0, value=2.0),
        "Searcher.recognize_constant() got multiple values for argument 'value'",
    ),
    (
        "result",
        lambda r: r.eval(),
        "SearchResult.eval() missing 1 required positional argument: 'x'",
    ),
    (
        "result",
        lambda r: r.eval(1.0, 2.0),
        "SearchResult.eval() takes 1 positional arguments but 2 were given",
    ),
    (
        "result",
        lambda r: r.eval(y=1.0),
        "SearchResult.eval() got an unexpected keyword argument 'y'",
    ),
    (
        "result",
        lambda r: r.eval(1.0, x=1.0),
        "SearchResult.eval() got multiple values for argument 'x'",
    ),
    (
        "result",
        lambda r: r.eval_batch(),
        "SearchResult.eval_batch() missing 1 required positional argument: 'inputs'",
    ),
    (
        "result",
        lambda r: r.predict([[1.0]], [[2.0]]),
        "SearchResult.predict() takes 1 positional arguments but 2 were given",
    ),
    (
        "result",
        lambda r: r.predict(rows=[[1.0]]),
        "SearchResult.predict() got an unexpected keyword argument 'rows'",
    ),
]


@pytest.fixture
def receivers(selectors):
    return {"class": Searcher, "searcher": Searcher(max_complexity=1), "result": selectors[0]}


@pytest.mark.parametrize("receiver, call, message", BINDING_FAILURES)
def test_binding_failure_message(receivers, receiver, call, message):
    with pytest.raises(TypeError) as info:
        call(receivers[receiver])
    assert type(info.value) is TypeError
    assert str(info.value) == message


@pytest.mark.parametrize("method", ["to_latex", "to_python"])
def test_renderings_take_no_arguments(selectors, method):
    with pytest.raises(TypeError):
        getattr(selectors[0], method)(1)


def test_every_parameter_binds_by_position_or_keyword(selectors):
    identity = selectors[0]
    assert identity.eval(x=2.0) == identity.eval(2.0) == 2.0
    assert identity.eval_batch(inputs=[[2.0]]) == identity.predict(inputs=[[2.0]]) == [2.0]
    by_keyword = Searcher(
        l1_ratio=0.25, alpha=0.5, beam_width=7, complexity_penalty=0.2, max_complexity=3
    )
    by_position = Searcher(3, 0.2, 7, 0.5, 0.25)
    for name in ["max_complexity", "complexity_penalty", "beam_width", "alpha", "l1_ratio"]:
        assert getattr(by_keyword, name) == getattr(by_position, name)
    searcher = Searcher(max_complexity=1)
    xs, ys = [1.0, 2.0], [1.0, 2.0]
    assert repr(searcher.find_function(ys=ys, xs=xs, l1_ratio=None, alpha=None)) == repr(
        searcher.find_function(xs, ys, None, None)
    )


def float_rule_error(value):
    with pytest.raises(TypeError) as info:
        math.fabs(value)  # the interpreter's own float conversion
    return str(info.value)


def integer_rule_error(value):
    with pytest.raises(TypeError) as info:
        operator.index(value)
    return str(info.value)


# (call, parameter name, offending value, rule)
CONVERSION_FAILURES = [
    (lambda s, v: Searcher(max_complexity=v), "max_complexity", 3.0, integer_rule_error),
    (lambda s, v: Searcher(beam_width=v), "beam_width", "10", integer_rule_error),
    (lambda s, v: Searcher(max_complexity=v), "max_complexity", None, integer_rule_error),
    (lambda s, v: Searcher(complexity_penalty=v), "complexity_penalty", "x", float_rule_error),
    (lambda s, v: Searcher(alpha=v), "alpha", None, float_rule_error),
    (lambda s, v: Searcher(l1_ratio=v), "l1_ratio", [0.5], float_rule_error),
    (lambda s, v: s.find_function([1.0], [1.0], alpha=v), "alpha", "a", float_rule_error),
    (lambda s, v: s.find_function([1.0], [1.0], l1_ratio=v), "l1_ratio", {}, float_rule_error),
    (lambda s, v: s.fit([[1.0]], [1.0], alpha=v), "alpha", 1j, float_rule_error),
    (lambda s, v: s.recognize_constant(v), "value", "pi", float_rule_error),
    (lambda s, v: s.recognize_constant(v), "value", None, float_rule_error),
]


@pytest.mark.parametrize("call, name, value, rule", CONVERSION_FAILURES)
def test_argument_conversion_failure_names_the_parameter(call, name, value, rule):
    with pytest.raises(TypeError) as info:
        call(Searcher(max_complexity=1), value)
    assert type(info.value) is TypeError
    assert str(info.value) == f"argument '{name}': {rule(value)}"
    # The interpreter's own conversion errors carry no cause; the one they
    # raised is the context.
    assert info.value.__cause__ is None
    assert type(info.value.__context__) is TypeError
    assert str(info.value.__context__) == rule(value)


class RaisingIndex:
    """__index__ and __float__ fail with TypeError, chained to `cause`."""

    def __init__(self, cause):
        self.cause = cause

    def fail(self):
        if self.cause is None:
            raise TypeError("boom")
        raise TypeError("boom") from self.cause

    __index__ = __float__ = fail


# The integer rule, the float rule and a per-call override.
CAUSE_CALLS = [
    ("max_complexity", lambda v: Searcher(max_complexity=v)),
    ("alpha", lambda v: Searcher(alpha=v)),
    ("l1_ratio", lambda v: Searcher(max_complexity=1).find_function([1.0], [1.0], l1_ratio=v)),
]


@pytest.mark.parametrize("name, call", CAUSE_CALLS)
@pytest.mark.parametrize("cause", [None, KeyError("k")])
def test_argument_error_takes_over_the_cause_of_the_conversion_error(name, call, cause):
    with pytest.raises(TypeError) as info:
        call(RaisingIndex(cause))
    assert str(info.value) == f"argument '{name}': boom"
    assert info.value.__cause__ is cause
    assert str(info.value.__context__) == "boom"


@pytest.mark.parametrize(
    "call",
    [
        lambda: Searcher(beam_width=-1),
        lambda: Searcher(max_complexity=2**64),
        lambda: Searcher(alpha=10**400),
        lambda: Searcher(max_complexity=1).recognize_constant(10**400),
    ],
)
def test_overflow_passes_unchanged(call):
    with pytest.raises(OverflowError) as info:
        call()
    assert not str(info.value).startswith("argument")
    assert info.value.__cause__ is None


class Indexable:
    def __index__(self):
        return 6


# (keyword, given value, stored value)
ACCEPTED_ARGUMENTS = [
    ("alpha", 1, 1.0),
    ("alpha", True, 1.0),
    ("alpha", Fraction(1, 4), 0.25),
    ("alpha", np.float32(0.5), 0.5),
    ("alpha", math.inf, math.inf),
    ("l1_ratio", Indexable(), 6.0),
    ("complexity_penalty", -2, -2.0),
    ("max_complexity", True, 1),
    ("max_complexity", 2**64 - 1, 2**64 - 1),
    ("max_complexity", np.int64(7), 7),
    ("beam_width", Indexable(), 6),
    ("beam_width", 0, 0),
]


@pytest.mark.parametrize("keyword, value, stored", ACCEPTED_ARGUMENTS)
def test_accepted_argument_is_stored_converted(keyword, value, stored):
    searcher = Searcher(**{keyword: value})
    assert getattr(searcher, keyword) == stored
    assert type(getattr(searcher, keyword)) is type(stored)


def test_nan_argument_passes_unchanged():
    assert math.isnan(Searcher(alpha=math.nan).alpha)


# Checks run in order: `value`, then alpha, then l1_ratio, then the data
# (xs or inputs before ys); each row breaks the first check it reaches.
NOT_CONTIGUOUS = np.arange(6.0)[::2]
CHECK_ORDER = [
    (lambda s: s.recognize_constant("v", alpha="a"), TypeError, "argument 'value'"),
    (lambda s: s.find_function("x", "y", alpha="a", l1_ratio="b"), TypeError, "argument 'alpha'"),
    (lambda s: s.find_function("x", "y", l1_ratio="b"), TypeError, "argument 'l1_ratio'"),
    (lambda s: s.find_function(NOT_CONTIGUOUS, "y"), TypeError, "The given array"),
    (lambda s: s.find_function("x", NOT_CONTIGUOUS), ValueError, "Input must be a 1D"),
    (lambda s: s.fit("x", NOT_CONTIGUOUS), ValueError, "Input must be a 2D"),
    (lambda s: s.find_candidates([[1.0]], NOT_CONTIGUOUS), TypeError, "The given array"),
]


@pytest.mark.parametrize("call, exception_type, prefix", CHECK_ORDER)
def test_first_failing_check_is_reported(call, exception_type, prefix):
    with pytest.raises(exception_type) as info:
        call(Searcher(max_complexity=1))
    assert str(info.value).startswith(prefix)
