"""Exception types of the module and the mapping of search failures."""

import math

import numpy as np
import pytest
import tov_sr

EXCEPTION_TYPES = [tov_sr.TovDimensionError, tov_sr.TovComplexityError, tov_sr.TovRuntimeError]
UNEQUAL = "Inputs and target vector must be non-empty and equal length."
NAN = math.nan


@pytest.mark.parametrize("exception_type", EXCEPTION_TYPES)
def test_exception_type_shape(exception_type):
    assert exception_type.__bases__ == (Exception,)
    assert exception_type.__module__ == "tov_sr"
    assert exception_type.__name__ in tov_sr.__all__
    assert exception_type.__doc__ is None
    assert exception_type("text").args == ("text",)


def test_exception_types_are_unrelated():
    for a in EXCEPTION_TYPES:
        for b in EXCEPTION_TYPES:
            assert issubclass(a, b) == (a is b)


SEARCH_FAILURES = [
    (lambda s: s.find_function([1.0, 2.0, 3.0], [1.0, 2.0]), tov_sr.TovDimensionError, UNEQUAL),
    (lambda s: s.find_function([], []), tov_sr.TovDimensionError, UNEQUAL),
    (lambda s: s.find_multivariate([[1.0]], []), tov_sr.TovDimensionError, UNEQUAL),
    (lambda s: s.fit(np.zeros((0, 3)), [1.0]), tov_sr.TovDimensionError, UNEQUAL),
    (lambda s: s.find_candidates([[1.0], [2.0]], (1.0,)), tov_sr.TovDimensionError, UNEQUAL),
    # Data no formula can fit are refused before the search.
    (
        lambda s: s.find_function([1.0, 2.0], [NAN, NAN]),
        ValueError,
        "ys[0] is nan: targets must be finite",
    ),
    (
        lambda s: s.find_candidates([[1.0]], [NAN]),
        ValueError,
        "ys[0] is nan: targets must be finite",
    ),
    (
        lambda s: s.recognize_constant(NAN),
        ValueError,
        "value is nan: the constant must be finite",
    ),
]

# Targets whose squares overflow: no formula has a finite error.
UNSCORABLE = [1e300, -1e300]


@pytest.mark.parametrize("call, exception_type, message", SEARCH_FAILURES)
def test_search_failure_raises_mapped_exception(call, exception_type, message):
    with pytest.raises(exception_type) as info:
        call(tov_sr.Searcher(max_complexity=4, beam_width=20))
    assert type(info.value) is exception_type
    assert info.value.args == (message,)
    assert str(info.value) == message
    assert info.value.__cause__ is None


@pytest.mark.filterwarnings("ignore::RuntimeWarning")
@pytest.mark.parametrize("max_complexity", [0, 2, 5])
def test_no_formula_message_carries_max_complexity(max_complexity):
    searcher = tov_sr.Searcher(max_complexity=max_complexity, beam_width=10)
    with pytest.raises(tov_sr.TovComplexityError) as info:
        searcher.find_function([1.0, 2.0], UNSCORABLE)
    assert str(info.value) == f"No formula found up to complexity {max_complexity}"


@pytest.mark.filterwarnings("ignore::RuntimeWarning")
def test_catching_one_type_does_not_catch_another():
    searcher = tov_sr.Searcher(max_complexity=2, beam_width=10)
    with pytest.raises(tov_sr.TovComplexityError):
        try:
            searcher.find_function([1.0, 2.0], UNSCORABLE)
        except tov_sr.TovDimensionError:
            pytest.fail("TovDimensionError caught a TovComplexityError")
