"""Conversion of Python inputs: observed through results whose formulas are
v_{0} ... v_{3}, so evaluating all of them shows the whole converted point."""

import array
import math
import sys
from decimal import Decimal
from fractions import Fraction

import numpy as np
import pytest
import tov_sr
from conftest import padded, same_floats
from hypothesis import given
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

VEC_MESSAGE = "Input must be a 1D list or NumPy array of floats"
MATRIX_MESSAGE = "Input must be a 2D list or 2D NumPy array of floats"
EVAL_MESSAGE = "Input must be a float or a 1D list/array"
NOT_CONTIGUOUS = "The given array is not contiguous"


def observe_point(selectors, value):
    return [r.eval(value) for r in selectors]


def observe_rows(selectors, value):
    columns = [r.eval_batch(value) for r in selectors]
    return [list(row) for row in zip(*columns)]


class LyingLength:
    """A sequence whose length fails but whose iteration works."""

    def __len__(self):
        raise RuntimeError("no length")

    def __getitem__(self, i):
        if i < 3:
            return float(i)
        raise IndexError(i)


class HugeLength(LyingLength):
    def __len__(self):
        return sys.maxsize


class FailingItem:
    def __len__(self):
        return 2

    def __getitem__(self, i):
        raise KeyError(i)


class FailingFloat:
    def __float__(self):
        raise ZeroDivisionError("no value")


class ArraySubtype(np.ndarray):
    pass


VEC_ACCEPTED = [
    ([1, 2.5, True], [1.0, 2.5, 1.0]),
    ((1.0, 2.0), [1.0, 2.0]),
    ([], []),
    (range(3), [0.0, 1.0, 2.0]),
    (array.array("d", [4.0, 5.0]), [4.0, 5.0]),
    ([Fraction(1, 4), Decimal("0.5"), np.float32(1.5), np.int8(-3)], [0.25, 0.5, 1.5, -3.0]),
    ([math.nan, math.inf, -math.inf, 1e308], [math.nan, math.inf, -math.inf, 1e308]),
    (LyingLength(), [0.0, 1.0, 2.0]),
    (HugeLength(), [0.0, 1.0, 2.0]),
    (np.array([1.0, 2.0, 3.0]), [1.0, 2.0, 3.0]),
    (np.arange(8.0).reshape(2, 4)[1], [4.0, 5.0, 6.0, 7.0]),
    (np.arange(6, dtype=np.int64)[::2], [0.0, 2.0, 4.0]),
    (np.array([1.0, 2.0], dtype=">f8"), [1.0, 2.0]),
    (np.array([1.0, 2.0, 3.0, 4.0], dtype=">f8")[::2], [1.0, 3.0]),
    (np.array([1.5, -2.5], dtype=np.float32), [1.5, -2.5]),
    (np.array([True, False]), [1.0, 0.0]),
    (np.array([1.0, 2.0, 3.0]).view(ArraySubtype)[1:], [2.0, 3.0]),
]


@pytest.mark.parametrize("value, expected", VEC_ACCEPTED)
def test_vector_conversion(selectors, value, expected):
    assert same_floats(observe_point(selectors, value), padded(expected))


VEC_REJECTED = [
    "abc",
    3.0,
    None,
    {"a": 1.0},
    {1.0, 2.0},
    (x for x in [1.0, 2.0]),
    [[1.0], [2.0]],
    [1.0, "x"],
    [1.0, None],
    [FailingFloat()],
    FailingItem(),
    [10**400],
    np.array(1.0),
    np.zeros((2, 2)),
    np.array(["1.0", "2.0"]),
]


@pytest.mark.parametrize("value", VEC_REJECTED)
def test_vector_rejection(value):
    searcher = tov_sr.Searcher(max_complexity=1)
    for call in (
        lambda: searcher.find_function(value, [1.0]),
        lambda: searcher.find_function([1.0], value),
    ):
        with pytest.raises(ValueError) as info:
            call()
        assert type(info.value) is ValueError
        assert str(info.value) == VEC_MESSAGE
        assert info.value.__cause__ is None and info.value.__context__ is None


@pytest.mark.parametrize(
    "value",
    [np.arange(6.0)[::2], np.arange(6.0)[::-1], np.arange(8.0).reshape(4, 2)[:, 0]],
)
def test_strided_float64_vector_is_refused(value):
    searcher = tov_sr.Searcher(max_complexity=1)
    with pytest.raises(TypeError) as info:
        searcher.find_function(value, [1.0, 2.0, 3.0])
    assert str(info.value) == NOT_CONTIGUOUS


@pytest.mark.parametrize(
    "value", ["abc", "1.0", [[1.0, 2.0]], np.zeros((2, 2)), np.arange(6.0)[::2], {1: 2}]
)
def test_eval_rejection(selectors, value):
    with pytest.raises(ValueError) as info:
        selectors[0].eval(value)
    assert str(info.value) == EVAL_MESSAGE
    assert info.value.__cause__ is None and info.value.__context__ is None


@pytest.mark.parametrize(
    "value", [2, 2.0, np.float64(2.0), np.float32(2.0), np.int32(2), Fraction(2)]
)
def test_eval_scalar_is_a_one_variable_point(selectors, value):
    assert same_floats(observe_point(selectors, value), padded([2.0]))


MATRIX_ACCEPTED = [
    ([[1.0, 2.0], [3.0]], [[1.0, 2.0], [3.0]]),
    (((1, 2), (3, 4)), [[1.0, 2.0], [3.0, 4.0]]),
    ([], []),
    ([[]], [[]]),
    ([np.array([1.0, 2.0]), np.array([3.0, 4.0])], [[1.0, 2.0], [3.0, 4.0]]),
    ([range(2), array.array("d", [5.0])], [[0.0, 1.0], [5.0]]),
    (np.arange(6.0).reshape(3, 2), [[0.0, 1.0], [2.0, 3.0], [4.0, 5.0]]),
    (np.arange(6.0).reshape(3, 2).T, [[0.0, 2.0, 4.0], [1.0, 3.0, 5.0]]),
    (np.arange(6.0).reshape(3, 2)[::-1, ::-1], [[5.0, 4.0], [3.0, 2.0], [1.0, 0.0]]),
    (np.arange(12.0).reshape(3, 4)[::2, 1::2], [[1.0, 3.0], [9.0, 11.0]]),
    (np.zeros((0, 3)), []),
    (np.zeros((3, 0)), [[], [], []]),
    (np.arange(6, dtype=np.int32).reshape(2, 3), [[0.0, 1.0, 2.0], [3.0, 4.0, 5.0]]),
    (np.broadcast_to(np.array([1.0, 2.0]), (3, 2)), [[1.0, 2.0]] * 3),
]


@pytest.mark.parametrize("value, expected", MATRIX_ACCEPTED)
def test_matrix_conversion(selectors, value, expected):
    rows = observe_rows(selectors, value)
    assert len(rows) == len(expected)
    for row, want in zip(rows, expected):
        assert same_floats(row, padded(want))


MATRIX_REJECTED = [
    [1.0, 2.0],
    np.array([1.0, 2.0]),
    "ab",
    ["ab"],
    3.0,
    None,
    [[1.0], None],
    [[1.0], [object()]],
    [[1.0], (x for x in [1.0])],
    [FailingItem()],
    np.zeros((2, 2, 2)),
    {(1.0,): 1},
]


@pytest.mark.parametrize("value", MATRIX_REJECTED)
def test_matrix_rejection(selectors, value):
    searcher = tov_sr.Searcher(max_complexity=1)
    for call in (
        lambda: searcher.fit(value, [1.0]),
        lambda: selectors[0].eval_batch(value),
        lambda: selectors[0].predict(value),
    ):
        with pytest.raises(ValueError) as info:
            call()
        assert str(info.value) == MATRIX_MESSAGE
        assert info.value.__cause__ is None and info.value.__context__ is None


@given(st.floats())
def test_float_round_trip(selectors, x):
    identity = selectors[0]
    assert same_floats([identity.eval(x), identity.eval([x])], [x, x])
    assert same_floats(identity.eval_batch([[x], (x, 0.0)]), [x, x])


@given(st.lists(st.floats(), max_size=6))
def test_vector_round_trip(selectors, values):
    expected = padded(values)
    for form in (values, tuple(values)):
        assert same_floats(observe_point(selectors, form), expected)
    if len(values) >= 2:  # a one-element array is taken as a scalar first
        assert same_floats(observe_point(selectors, np.array(values)), expected)


DTYPES = st.sampled_from(
    [np.float64, np.dtype(">f8"), np.float32, np.float16, np.int64, np.int32, np.uint8, np.bool_]
)


@st.composite
def strided_matrices(draw):
    """Arrays of any element type viewed in any order: transposed, Fortran
    order, reversed and stepped axes."""
    base = draw(
        hnp.arrays(DTYPES, hnp.array_shapes(min_dims=2, max_dims=2, min_side=0, max_side=6))
    )
    if draw(st.booleans()):
        base = np.asfortranarray(base)
    if draw(st.booleans()):
        base = base.T
    steps = [draw(st.sampled_from([1, 2, -1, -2])) for _ in range(2)]
    return base[:: steps[0], :: steps[1]]


@given(strided_matrices())
def test_matrix_of_any_dtype_and_strides(selectors, matrix):
    expected = [[float(v) for v in row] for row in matrix]
    rows = observe_rows(selectors, matrix)
    assert len(rows) == len(expected)
    for row, want in zip(rows, expected):
        assert same_floats(row, padded(want))


# At least two elements survive the step: a one-element array would be taken
# as a scalar by eval.
@given(hnp.arrays(DTYPES, st.integers(4, 8)), st.sampled_from([1, 2, -1]))
def test_vector_of_any_dtype_and_stride(selectors, vector, step):
    view = vector[::step]
    float64 = view.dtype == np.float64 and view.dtype.isnative
    if float64 and not (view.flags.c_contiguous or view.flags.f_contiguous):
        with pytest.raises(TypeError, match=f"^{NOT_CONTIGUOUS}$"):
            tov_sr.Searcher(max_complexity=1).find_function(view, view)
        return
    assert same_floats(observe_point(selectors, view), padded([float(v) for v in view]))
