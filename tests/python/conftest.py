"""Shared fixtures: small searches with known results, and subprocess runs."""

import math
import os
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
