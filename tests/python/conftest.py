"""Shared fixtures: small searches with known results, subprocess runs, and
the stub's definitions."""

import ast
import inspect
import math
import os
import pathlib
import subprocess
import sys
import textwrap

import pytest
import tov_sr

# Sample k holds distinct primes, so v_{k} alone fits column k exactly.
SELECTOR_INPUTS = [[2.0, 3.0, 5.0, 7.0], [11.0, 13.0, 17.0, 19.0], [23.0, 29.0, 31.0, 37.0]]


@pytest.fixture(scope="session")
def selectors():
    """Results whose formulas are v_{0} ... v_{3}: evaluating all of them at a
    point shows the whole converted point (NaN past its end)."""
    searcher = tov_sr.Searcher(max_complexity=1)
    results = []
    for k in range(4):
        result = searcher.find_multivariate(SELECTOR_INPUTS, [row[k] for row in SELECTOR_INPUTS])
        assert result.formula == f"v_{{{k}}}"
        results.append(result)
    return results


@pytest.fixture(scope="session")
def product():
    result = tov_sr.Searcher(max_complexity=3, beam_width=20).fit(
        [[1.0, 5.0], [2.0, 7.0], [3.0, 9.0]], [5.0, 14.0, 27.0]
    )
    assert result.formula == "Times(v_{0}, v_{1})"
    return result


@pytest.fixture(scope="session")
def with_parameter():
    result = tov_sr.Searcher(max_complexity=3, beam_width=20).find_function(
        [1.0, 2.0, 3.0, 4.0], [3.5, 5.0, 7.5, 11.0]
    )
    assert "C" in result.formula
    return result


def padded(values, width=4):
    return [values[k] if k < len(values) else math.nan for k in range(width)]


def same_floats(actual, expected):
    return len(actual) == len(expected) and all(
        (math.isnan(a) and math.isnan(e)) or a == e for a, e in zip(actual, expected)
    )


def run_python(code, timeout=120):
    """Runs `code` in a fresh interpreter that imports the same tov_sr."""
    module_dir = os.path.dirname(tov_sr.__file__)
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [module_dir, env.get("PYTHONPATH")]))
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        env=env,
        timeout=timeout,
    )


STUB = pathlib.Path(__file__).resolve().parents[2] / "src" / "python" / "tov_sr.pyi"


def _stub_tree():
    return ast.parse(STUB.read_text(encoding="utf-8"))


def stub_definition(qualified_name):
    """The stub's definition of a module-level name or of "Class.member"
    (for a class, its __new__ gives the parameters)."""
    node = _stub_tree()
    for part in qualified_name.split("."):
        found = [
            child
            for child in node.body
            if isinstance(child, (ast.ClassDef, ast.FunctionDef)) and child.name == part
        ]
        assert found, f"{qualified_name} is not in the stub"
        node = found[0]
    return node


def stub_doc(qualified_name):
    """The stub's docstring of a name, cleaned as the interpreter shows it."""
    return ast.get_docstring(stub_definition(qualified_name), clean=True)


def runtime_doc(qualified_name):
    """The part of the stub's docstring the module carries: its opening
    paragraph."""
    return stub_doc(qualified_name).split("\n\n", 1)[0]


def stub_parameters(qualified_name):
    """(name, kind, default) for each parameter of a stub function or of a
    class's __new__, without self and cls; the default as its repr, None
    when there is none."""
    node = stub_definition(qualified_name)
    if isinstance(node, ast.ClassDef):
        node = next(c for c in node.body if isinstance(c, ast.FunctionDef) and c.name == "__new__")
    arguments = node.args
    positional = arguments.posonlyargs + arguments.args
    defaults = [None] * (len(positional) - len(arguments.defaults)) + arguments.defaults
    rows = [
        (a.arg, inspect.Parameter.POSITIONAL_OR_KEYWORD, d)
        for a, d in zip(positional, defaults)
    ]
    rows += [
        (a.arg, inspect.Parameter.KEYWORD_ONLY, d)
        for a, d in zip(arguments.kwonlyargs, arguments.kw_defaults)
    ]
    return [
        (name, kind, None if default is None else repr(ast.literal_eval(default)))
        for name, kind, default in rows
        if name not in ("self", "cls")
    ]


def runtime_parameters(member):
    """The same rows from the runtime signature (its text signature)."""
    return [
        (
            p.name,
            p.kind,
            None if p.default is inspect.Parameter.empty else repr(p.default),
        )
        for p in inspect.signature(member).parameters.values()
        if p.kind is not inspect.Parameter.POSITIONAL_ONLY
    ]
