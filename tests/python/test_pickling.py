"""Pickling and copying of Searcher and SearchResult: exact round trips for
results of every request, and refusal of damaged states."""

import copy
import math
import pickle
import random
import re
import struct

import numpy as np
import pytest
import tov_sr
from hypothesis import given, settings
from hypothesis import strategies as st

SearchResult = tov_sr.SearchResult

XS = [0.5, 1.0, 1.5, 2.0, 2.5, 3.0]
ROWS = [[x, 4.0 - x] for x in XS]
# Each request with data that a short formula with fitted constants matches.
REQUESTS = {
    "find_function": lambda s: [s.find_function(XS, [1.7 * x * x + 0.3 for x in XS])],
    "find_multivariate": lambda s: [s.find_multivariate(ROWS, [2.5 * a * b for a, b in ROWS])],
    "fit": lambda s: [s.fit(ROWS, [a / b - 0.4 for a, b in ROWS])],
    "find_candidates": lambda s: s.find_candidates(
        [[x] for x in XS], [math.sin(1.3 * x) for x in XS]
    ),
    "recognize_constant": lambda s: [s.recognize_constant(math.pi**2)],
    "elastic_net": lambda s: [s.find_function(XS, [2.7 * x + 0.4 for x in XS], alpha=0.01)],
}
COPIES = {
    **{f"pickle{p}": lambda r, p=p: pickle.loads(pickle.dumps(r, protocol=p)) for p in range(6)},
    "copy": copy.copy,
    "deepcopy": copy.deepcopy,
}


@pytest.fixture(scope="module", params=list(REQUESTS))
def results(request):
    return REQUESTS[request.param](tov_sr.Searcher(max_complexity=5, beam_width=60))


def bits(values):
    return [struct.pack("<d", v) for v in values]


def observed(result):
    """Everything a caller can read from a result, floats as their bits."""
    rng = random.Random(7)
    rows = [[rng.uniform(-4.0, 4.0) for _ in range(2)] for _ in range(40)]
    return (
        result.formula,
        bits([result.error]),
        result.complexity,
        bits(result.parameters),
        result.to_latex(),
        result.to_python(),
        repr(result),
        bits(result.eval_batch(rows)),
        bits([result.eval(row) for row in rows] + [result.eval(row[0]) for row in rows]),
    )


@pytest.mark.parametrize("how", list(COPIES))
def test_round_trip_is_exact(results, how):
    for result in results:
        restored = COPIES[how](result)
        assert type(restored) is SearchResult and restored is not result
        assert observed(restored) == observed(result)
        assert pickle.dumps(restored) == pickle.dumps(result)


def test_the_requests_gave_refined_parameters(results):
    assert any(r.parameters and r.parameters[0] not in (0.0, 0.1) for r in results)


def test_parameters_are_the_constants_in_formula_order(results):
    for result in results:
        assert type(result.parameters) is tuple
        assert len(result.parameters) == len(re.findall(r"\bC\b", result.formula))
        state = result.__reduce__()[1][0]
        assert result.parameters == tuple(t[4] for t in state[2] if t[0] == 3)
        # The renderings keep the leaves in formula order too.
        rendering, position = result.to_python(), 0
        for value in result.parameters:
            position = rendering.index(f"{value:.4f}", position) + 1


SETTINGS = ["max_complexity", "complexity_penalty", "beam_width", "alpha", "l1_ratio"]


@pytest.mark.parametrize(
    "arguments",
    [{}, dict(max_complexity=3, complexity_penalty=0.0, beam_width=7, alpha=1e-3, l1_ratio=1.0)],
)
@pytest.mark.parametrize("how", list(COPIES))
def test_searcher_round_trip(arguments, how):
    searcher = tov_sr.Searcher(**arguments)
    restored = COPIES[how](searcher)
    assert type(restored) is tov_sr.Searcher and restored is not searcher
    assert [getattr(restored, n) for n in SETTINGS] == [getattr(searcher, n) for n in SETTINGS]


def test_restored_searcher_searches_alike():
    searcher = tov_sr.Searcher(max_complexity=4, beam_width=30, alpha=0.001)
    restored = pickle.loads(pickle.dumps(searcher))
    ys = [math.exp(0.7 * x) for x in XS]
    assert observed(restored.find_function(XS, ys)) == observed(searcher.find_function(XS, ys))


def test_specified_behaviour_stays():
    with pytest.raises(TypeError, match="^No constructor defined for SearchResult$"):
        SearchResult()
    assert tov_sr.__all__[:5] == [
        "Searcher",
        "SearchResult",
        "TovDimensionError",
        "TovComplexityError",
        "TovRuntimeError",
    ]


# A valid state to damage: Plus(Times(C, v_{0}), C).
GOOD = (
    1,
    0.25,
    ((3, 0, 0, 0, 1.5, 0.0), (2, 0, 0, 0, 0.0, 0.0), (4, 2, 0, 9, 0.0, 0.0),
     (3, 0, 1, 0, -2.0, 0.0), (4, 2, 0, 8, 0.0, 0.0)),
)  # fmt: skip


def with_token(position, **fields):
    names = ["kind", "arity", "index", "op_id", "re", "im"]
    tokens = list(GOOD[2])
    token = list(tokens[position])
    for name, value in fields.items():
        token[names.index(name)] = value
    tokens[position] = tuple(token)
    return (GOOD[0], GOOD[1], tuple(tokens))


DAMAGED = {
    "not a tuple": [1, 0.25, GOOD[2]],
    "short": GOOD[:2],
    "version": (2, *GOOD[1:]),
    "version type": (1.0, *GOOD[1:]),
    "error type": (1, 1, GOOD[2]),
    "tokens type": (1, 0.25, list(GOOD[2])),
    "no tokens": (1, 0.25, ()),
    "token length": (1, 0.25, GOOD[2][:-1] + ((4, 2, 0, 8, 0.0),)),
    "kind range": with_token(0, kind=5),
    "kind negative": with_token(0, kind=-1),
    "kind bool": with_token(0, kind=True),
    "constant kind": with_token(1, kind=0),
    "real kind": with_token(1, kind=1),
    "arity range": with_token(2, arity=256),
    "arity mismatch": with_token(2, arity=1),
    "op id range": with_token(2, op_id=23),
    "op id huge": with_token(2, op_id=2**64),
    "op id of a constant": with_token(2, op_id=3, arity=0),
    "unary in binary place": with_token(4, op_id=12, arity=1),
    "param index": with_token(3, index=0),
    "var index": with_token(1, index=255),
    "var value": with_token(1, re=1.0),
    "op value": with_token(2, im=-0.0),
    "value type": with_token(0, re=1),
    "missing operand": (1, 0.25, GOOD[2][1:]),
    "two expressions": (1, 0.25, GOOD[2][:2]),
}


@pytest.mark.parametrize("state", list(DAMAGED.values()), ids=list(DAMAGED))
def test_damaged_states_are_refused(state):
    with pytest.raises(ValueError, match=r"^Invalid SearchResult state: "):
        SearchResult._from_state(state)


def test_the_damage_table_starts_from_a_valid_state():
    result = SearchResult._from_state(GOOD)
    assert result.formula == "Plus(Times(C, v_{0}), C)"
    assert result.parameters == (1.5, -2.0)
    assert result.eval(2.0) == 1.0
    assert result.__reduce__()[1][0] == GOOD


def test_damaged_pickle_is_refused():
    data = pickle.dumps(SearchResult._from_state(GOOD), protocol=0)
    assert data.count(b"I8\n") == 1  # the op id of Plus, the last token
    damaged = data.replace(b"I8\n", b"I7\n")
    with pytest.raises(ValueError, match=r"^Invalid SearchResult state: token 4: "):
        pickle.loads(damaged)


FIELDS = st.tuples(
    st.integers(0, 4),
    st.integers(0, 2),
    st.integers(0, 3),
    st.integers(0, 24),
    st.sampled_from([0.0, -0.0, 0.5, math.inf, math.nan]),
    st.sampled_from([0.0, 1.0]),
)


@settings(max_examples=300, deadline=None)
@given(st.lists(FIELDS, min_size=0, max_size=7))
def test_any_state_is_refused_cleanly_or_kept_exactly(tokens):
    state = (1, 0.5, tuple(tokens))
    try:
        result = SearchResult._from_state(state)
    except ValueError as error:
        assert str(error).startswith("Invalid SearchResult state: ")
        return
    assert bits(np.array(result.__reduce__()[1][0][2], dtype=float).ravel()) == bits(
        np.array(state[2], dtype=float).ravel()
    )
    result.eval_batch([[0.5, 2.0], [-1.0, 3.0]])
    result.to_latex()
