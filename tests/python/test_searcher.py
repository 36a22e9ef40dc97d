"""The Searcher class: construction, settings, per-call overrides, and the
four kinds of search through every accepted input form."""

import inspect

import numpy as np
import pytest
import tov_sr
from conftest import runtime_doc, runtime_parameters, stub_doc, stub_parameters

Searcher = tov_sr.Searcher
SETTINGS = ["max_complexity", "beam_width", "complexity_penalty", "alpha", "l1_ratio"]
KEYWORD_SETTINGS = [
    "operators",
    "time_limit",
    "verbose",
    "max_search_rows",
    "linear_scaling",
    "target_error",
    "max_terms",
    "term_pool",
    "constants",
    "meet_in_the_middle",
    "checkpoint",
]
XS = [1.0, 2.0, 3.0, 4.0]
YS = [3.5, 5.0, 7.5, 11.0]


def small(**settings):
    return Searcher(**{"max_complexity": 3, "beam_width": 20, **settings})


def outputs(result):
    """Everything a result shows (the values as text, so NaN compares equal)."""
    values = result.eval_batch([[0.5, 1.5], [2.5, -1.0]])
    return (repr(result), result.to_latex(), result.to_python(), repr(values))


def test_defaults():
    searcher = Searcher()
    assert [getattr(searcher, name) for name in SETTINGS] == [10, 1000, 0.1, 0.0, 0.5]


# The opening text of each docstring, which stays as it is; the stub's
# docstring goes on from there with the reference sections.
PINNED_OPENINGS = [
    (Searcher, "Searcher", "The core TOV-SR search engine exposed to Python."),
    (
        Searcher.find_function,
        "Searcher.find_function",
        "Finds a univariate function f(x) ≈ y.\nSupports both Python lists and NumPy arrays.",
    ),
    (
        Searcher.find_multivariate,
        "Searcher.find_multivariate",
        "Finds a multivariate function f(x0, x1, ...) ≈ y.\n"
        "Inputs should be a 2D array-like structure.",
    ),
    (Searcher.fit, "Searcher.fit", "Alias for find_multivariate (Scikit-Learn style)."),
    (
        Searcher.find_candidates,
        "Searcher.find_candidates",
        "Returns the Pareto-front of all candidate formulas found.",
    ),
    (
        Searcher.recognize_constant,
        "Searcher.recognize_constant",
        "Identifies a closed-form expression for a scalar constant.",
    ),
]


@pytest.mark.parametrize("member, name, opening", PINNED_OPENINGS)
def test_docstrings_and_signatures(member, name, opening):
    """The runtime docstring is the pinned text, which opens the stub's, and
    the runtime signature (the text signature) is the stub's parameters that
    may be given by position: the same names and defaults, in the same order."""
    doc = stub_doc(name)
    assert member.__doc__ == runtime_doc(name) == opening
    assert doc == opening or doc.startswith(opening + "\n\n")
    for section in ("Parameters\n----------", "Examples\n--------"):
        assert section in doc
    if member is not Searcher:
        for section in ("Returns\n-------", "Raises\n------"):
            assert section in doc
    positional = [row for row in stub_parameters(name) if row[1] is not inspect.Parameter.KEYWORD_ONLY]
    assert runtime_parameters(member) == positional
    assert member.__text_signature__.startswith("($self, " if member is not Searcher else "(")


def test_constructor_documents_every_setting():
    """The settings' properties carry no docstring; the class docstring
    documents each of them, in parameter order, as a constructor parameter."""
    doc = stub_doc("Searcher")
    section = doc[doc.index("Parameters\n----------") :]
    positions = [section.index(f"\n{name} : ") for name, _, _ in stub_parameters("Searcher")]
    assert positions == sorted(positions)
    assert [name for name, _, _ in stub_parameters("Searcher")] == [
        "max_complexity",
        "complexity_penalty",
        "beam_width",
        "alpha",
        "l1_ratio",
    ] + KEYWORD_SETTINGS
    # The stub's defaults are the settings of a default searcher.
    searcher = Searcher()
    for name, _, default in stub_parameters("Searcher"):
        if default != "None":
            assert repr(getattr(searcher, name)) == default, name


def test_class_members():
    members = {name: value for name, value in vars(Searcher).items() if not name.startswith("__")}
    properties = [n for n, v in members.items() if isinstance(v, type(Searcher.alpha))]
    assert properties == SETTINGS + KEYWORD_SETTINGS
    assert [n for n in members if n not in properties] == [
        "find_function",
        "find_multivariate",
        "fit",
        "find_candidates",
        "recognize_constant",
    ]
    assert all(Searcher.__dict__[name].__doc__ is None for name in properties)


@pytest.mark.parametrize("name", SETTINGS + ["extra"])
def test_instances_are_read_only(name):
    searcher = Searcher(alpha=0.25)
    before = getattr(searcher, name, None)
    with pytest.raises(AttributeError):
        setattr(searcher, name, 0.3)
    assert getattr(searcher, name, None) == before


def test_per_call_override_uses_a_private_copy():
    searcher = small()
    baseline = outputs(searcher.find_function(XS, YS))
    assert outputs(searcher.find_function(XS, YS, alpha=None, l1_ratio=None)) == baseline
    overridden = outputs(searcher.find_function(XS, YS, alpha=0.5))
    assert overridden != baseline
    assert overridden == outputs(small(alpha=0.5).find_function(XS, YS))
    assert outputs(searcher.find_function(XS, YS, 0.5, 0.0)) == outputs(
        small(alpha=0.5, l1_ratio=0.0).find_function(XS, YS)
    )
    assert (searcher.alpha, searcher.l1_ratio) == (0.0, 0.5)
    assert outputs(searcher.find_function(XS, YS)) == baseline


def test_fit_is_find_multivariate():
    inputs = [[1.0, 5.0], [2.0, 7.0], [3.0, 9.0], [4.0, 2.0]]
    ys = [6.5, 9.5, 12.0, 7.0]
    searcher = small()
    assert outputs(searcher.fit(inputs, ys)) == outputs(searcher.find_multivariate(inputs, ys))
    assert outputs(searcher.fit(inputs, ys, alpha=0.1)) == outputs(
        searcher.find_multivariate(inputs, ys, alpha=0.1)
    )


def test_find_candidates_searches_every_level(capfd):
    xs = [[1.0], [2.0], [3.0], [4.0]]
    ys = [1.0, 4.0, 9.0, 16.0]
    candidates = small(max_complexity=4).find_candidates(xs, ys)
    out = capfd.readouterr().out
    assert "Level 4 processed" in out
    assert type(candidates) is list and all(type(c) is tov_sr.SearchResult for c in candidates)
    complexities = [c.complexity for c in candidates]
    errors = [c.error for c in candidates]
    assert complexities == sorted(complexities, reverse=True) and len(set(complexities)) == len(
        complexities
    )
    assert all(a < b for a, b in zip(errors, errors[1:]))
    assert outputs(candidates[0]) == outputs(small(max_complexity=4).find_multivariate(xs, ys))

    small(max_complexity=4).find_multivariate(xs, ys)
    assert "Level 4 processed" not in capfd.readouterr().out


def test_recognize_constant():
    result = small().recognize_constant(2.5)
    assert result.error < 1e-10
    assert abs(result.eval(0.0) - 2.5) < 1e-9
    assert outputs(small().recognize_constant(np.float64(2.5))) == outputs(result)


def test_results_agree_with_the_error_they_report():
    result = small().find_function(XS, YS)
    predictions = result.predict([[x] for x in XS])
    mse = sum((p - y) ** 2 for p, y in zip(predictions, YS)) / len(YS)
    assert result.error == pytest.approx(mse, rel=1e-12)


INPUTS = [[1.0, 5.0], [2.0, 7.0], [3.0, 9.0], [4.0, 2.0], [5.0, 1.0]]
TARGETS = [6.0, 9.0, 12.0, 6.0, 6.0]
INPUT_FORMS = [
    INPUTS,
    tuple(tuple(row) for row in INPUTS),
    np.array(INPUTS),
    np.asfortranarray(INPUTS),
    np.array(INPUTS).T.copy().T,
    np.hstack([np.array(INPUTS), np.zeros((5, 1))])[:, :2],
    np.array(INPUTS)[::-1][::-1],
    [np.array(row) for row in INPUTS],
    np.array(INPUTS, dtype=np.float32),
]
TARGET_FORMS = [TARGETS, tuple(TARGETS), np.array(TARGETS), np.array(TARGETS, dtype=">f8")]


def test_every_input_form_gives_the_same_search():
    searcher = small()
    expected = outputs(searcher.find_multivariate(INPUTS, TARGETS))
    for inputs in INPUT_FORMS:
        assert outputs(searcher.find_multivariate(inputs, TARGETS)) == expected
    for ys in TARGET_FORMS:
        assert outputs(searcher.find_multivariate(INPUTS, ys)) == expected
    column = [row[0] for row in INPUTS]
    univariate = outputs(searcher.find_function(column, TARGETS))
    for xs in [tuple(column), np.array(column), np.array(INPUTS)[:, 0].copy(), range(1, 6)]:
        assert outputs(searcher.find_function(xs, np.array(TARGETS))) == univariate
    assert univariate == outputs(searcher.find_multivariate([[x] for x in column], TARGETS))
