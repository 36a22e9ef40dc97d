"""Data no search can use are refused before the search, naming the value;
weights count only by their ratios; targets out of scale are warned about."""

import math

import numpy as np
import pytest
import tov_sr

XS = [0.3 + 0.1 * i for i in range(24)]
YS = [2.0 * math.sin(x) for x in XS]
ROWS = [[x, x * x] for x in XS]


def with_value(values, index, value):
    out = list(values)
    out[index] = value
    return out


BAD_DATA = [
    (lambda s: s.find_function(XS, with_value(YS, 17, math.nan)), "ys[17] is nan: targets must be finite"),
    (lambda s: s.find_function(with_value(XS, 3, math.inf), YS), "xs[3] is inf: inputs must be finite"),
    (lambda s: s.fit(with_value(ROWS, 3, [1.0, math.inf]), YS), "inputs[3][1] is inf: inputs must be finite"),
    (lambda s: s.find_multivariate(np.array(with_value(ROWS, 5, [-math.inf, 1.0])), YS),
     "inputs[5][0] is -inf: inputs must be finite"),
    (lambda s: s.find_candidates(ROWS, with_value(YS, 0, -math.inf)), "ys[0] is -inf: targets must be finite"),
    (lambda s: s.recognize_constant(math.inf), "value is inf: the constant must be finite"),
    (lambda s: s.find_function(XS, YS, weights=[1e308] * 23 + [math.inf]),
     "weights must be finite and non-negative: weights[23] is inf"),
]  # fmt: skip


@pytest.mark.parametrize("call, message", BAD_DATA)
def test_bad_data_are_refused_with_their_position(call, message):
    with pytest.raises(ValueError) as info:
        call(tov_sr.Searcher(max_complexity=4, verbose=False))
    assert type(info.value) is ValueError and str(info.value) == message


def test_zero_weight_samples_may_hold_anything():
    ys = with_value(YS, 4, math.nan)
    xs = with_value(XS, 9, math.inf)
    weights = [0.0 if i in (4, 9) else 1.0 for i in range(len(XS))]
    searcher = tov_sr.Searcher(max_complexity=4, verbose=False)
    kept = [i for i in range(len(XS)) if weights[i]]
    expected = searcher.find_function([XS[i] for i in kept], [YS[i] for i in kept])
    found = searcher.find_function(xs, ys, weights=weights)
    assert (found.formula, found.error) == (expected.formula, expected.error)


@pytest.mark.parametrize("scale", [5e-324, 1e-300, 3.0, 1e308])
def test_a_uniform_scale_of_the_weights_changes_nothing(scale):
    searcher = tov_sr.Searcher(max_complexity=4, verbose=False)
    plain = searcher.find_candidates(ROWS, YS)
    scaled = searcher.find_candidates(ROWS, YS, weights=[scale] * len(YS))
    assert [(r.formula, r.error, r.parameters) for r in scaled] == [
        (r.formula, r.error, r.parameters) for r in plain
    ]


@pytest.mark.parametrize(
    "factor, message",
    [
        (1e160, "targets reach 2e+160 in magnitude: their squares overflow, so errors are "
                "infinite; rescale the targets (for example divide them by their largest magnitude)"),
        (1e-160, "targets are at most 2e-160 in magnitude: their squares underflow, so every "
                 "error is 0; rescale the targets (for example divide them by their largest "
                 "magnitude)"),
    ],
)  # fmt: skip
def test_targets_out_of_scale_are_warned_about(factor, message):
    searcher = tov_sr.Searcher(max_complexity=2, verbose=False)
    with pytest.warns(RuntimeWarning) as warned:
        try:
            searcher.find_function([1.0, 2.0], [factor, 2.0 * factor])
        except tov_sr.TovComplexityError:
            pass
    assert [str(w.message) for w in warned] == [message]


def test_a_constant_out_of_scale_is_warned_about():
    searcher = tov_sr.Searcher(max_complexity=2, verbose=False)
    with pytest.warns(RuntimeWarning, match=r"^targets are at most 1e-300 in magnitude"):
        searcher.recognize_constant(1e-300)
