"""The SearchResult class: attributes, evaluation, renderings, representation."""

import math
import re

import numpy as np
import pytest
import tov_sr
from conftest import runtime_doc, runtime_parameters, stub_doc, stub_parameters

SearchResult = tov_sr.SearchResult

# The opening text of each docstring, which stays as it is; the stub's
# docstring goes on from there with the reference sections.
PINNED_OPENINGS = [
    ("SearchResult", "A high-performance symbolic regression result."),
    ("formula", "The discovered mathematical formula as a string."),
    ("error", "The residual error (Mean Squared Error) of the formula."),
    ("complexity", "The structural complexity of the formula."),
    ("parameters", "The fitted constants in formula order, at full precision."),
    ("to_latex", "Returns the formula in LaTeX format for academic reporting."),
    ("to_python", "Returns the formula in Python/NumPy format for immediate use."),
    ("eval", "Evaluates the discovered formula for a given input (float or list/array)."),
    ("eval_batch", "Evaluates the formula for a batch of inputs (list of lists or 2D array)."),
    ("predict", "Alias for eval_batch (Scikit-Learn style)."),
]
PROPERTIES = {"formula", "error", "complexity", "parameters", "dimensional_analysis"}
PROPERTIES |= {"variable_names"}


def public_members():
    names = [name for name in vars(SearchResult) if not name.startswith("_")]
    return ["SearchResult", "_repr_latex_"] + names


@pytest.mark.parametrize("name, opening", PINNED_OPENINGS)
def test_docstrings_and_signatures(name, opening):
    """The pinned openings stay; the rest of each docstring is the stub's."""
    member = SearchResult if name == "SearchResult" else getattr(SearchResult, name)
    doc = member.__doc__
    assert doc == opening or doc.startswith(opening + "\n\n")


@pytest.mark.parametrize("name", public_members())
def test_the_stub_is_the_runtime_text(name):
    """Every member's docstring is the opening of the stub's, every method's signature the
    stub's (names, kinds, defaults), and every public one has an example."""
    if name == "SearchResult":
        member, qualified = SearchResult, "SearchResult"
    else:
        member, qualified = vars(SearchResult)[name], "SearchResult." + name
    doc = stub_doc(qualified)
    assert member.__doc__ == runtime_doc(qualified)
    if name in PROPERTIES:
        assert getattr(member, "__text_signature__", None) is None
    elif name != "SearchResult":
        assert runtime_parameters(member) == stub_parameters(qualified)
    if not name.startswith("_"):
        assert "Examples\n--------" in doc
    if name not in PROPERTIES | {"SearchResult"} and not name.startswith("_"):
        assert "Returns\n-------" in doc


def test_class_members_in_order():
    members = [name for name in vars(SearchResult) if not name.startswith("_")]
    methods = [
        name
        for name in members
        if not isinstance(vars(SearchResult)[name], property) and callable(vars(SearchResult)[name])
    ]
    assert methods == ["to_latex", "to_python", "eval", "eval_batch", "predict", "snap"]
    assert [name for name in members if name not in methods] == [
        "formula",
        "error",
        "complexity",
        "parameters",
        "dimensional_analysis",
        "variable_names",
    ]


def test_no_constructor():
    with pytest.raises(TypeError) as info:
        SearchResult()
    assert str(info.value) == "No constructor defined for SearchResult"


@pytest.mark.parametrize("name", ["formula", "error", "complexity", "parameters", "other"])
def test_attributes_cannot_be_set(product, name):
    before = getattr(product, name, None)
    with pytest.raises(AttributeError):
        setattr(product, name, 1)
    assert getattr(product, name, None) == before


def test_attribute_types(product):
    assert (product.formula, product.error, product.complexity) == ("Times(v_{0}, v_{1})", 0.0, 3)
    assert (type(product.formula), type(product.error), type(product.complexity)) == (
        str,
        float,
        int,
    )


def test_refined_parameter_shows_in_renderings_only(with_parameter):
    assert "C" in with_parameter.formula
    rendering = with_parameter.to_python()
    assert "C" not in rendering
    assert re.search(r"\d\.\d{4}\b", rendering)
    assert "C" not in with_parameter.to_latex()


def scientific6(value):
    """The repr's notation, derived from Python's own formatting."""
    if math.isnan(value):
        return "NaN"
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    mantissa, exponent = f"{value:.6e}".split("e")
    return f"{mantissa}e{int(exponent)}"


def test_repr_examples(selectors, product):
    assert repr(selectors[0]) == "SearchResult(formula='v_{0}', error=0.000000e0, complexity=1)"
    assert (
        repr(product)
        == "SearchResult(formula='Times(v_{0}, v_{1})', error=0.000000e0, complexity=3)"
    )


@pytest.mark.parametrize(
    "ys",
    [
        [1.0, 2.0, 3.0, 5.0],
        [3.5, 5.0, 7.5, 11.0],
        [1e-3, 2e5, -3.0, 4.0],
        [1e150, -1e150, 0.0, 1.0],
    ],
)
def test_repr_error_notation(ys):
    result = tov_sr.Searcher(max_complexity=3, beam_width=20).find_function(
        [1.0, 2.0, 3.0, 4.0], ys
    )
    assert repr(result) == (
        f"SearchResult(formula='{result.formula}', error={scientific6(result.error)}, "
        f"complexity={result.complexity})"
    )


def test_eval_of_scalars_and_points(product):
    assert math.isnan(product.eval(3.0))
    assert (
        product.eval([3.0, 4.0])
        == product.eval((3, 4))
        == product.eval(np.array([3.0, 4.0]))
        == 12.0
    )
    assert product.eval([3.0, 4.0, 100.0]) == 12.0


def test_eval_of_nested_list_is_refused_but_is_a_batch(selectors):
    with pytest.raises(ValueError, match=r"^Input must be a float or a 1D list/array$"):
        selectors[0].eval([[1.0, 2.0]])
    assert selectors[0].eval_batch([[1.0, 2.0]]) == [1.0]


def test_batch_marks_rows_without_value(product):
    rows = [[1.0, 2.0], [3.0], [2.0, -4.0], []]
    values = product.eval_batch(rows)
    assert values[0] == 2.0 and values[2] == -8.0
    assert math.isnan(values[1]) and math.isnan(values[3])
    assert type(values) is list and all(type(v) is float for v in values)
    assert product.predict(rows)[0::2] == values[0::2]


def test_result_outlives_its_searcher():
    searcher = tov_sr.Searcher(max_complexity=1)
    result = searcher.find_function([1.0, 2.0], [1.0, 2.0])
    del searcher
    assert result.eval(5.0) == 5.0 and result.to_python() == "v_{0}"
