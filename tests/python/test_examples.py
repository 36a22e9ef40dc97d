"""Every script in examples/ runs to completion and still shows what it is
there to show."""

import ast
import importlib.util
import os
import pathlib
import subprocess
import sys

import pytest
import tov_sr

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"

# A line of output each example exists to produce.
SHOWS = {
    "quickstart.py": "SearchResult(formula='Times(C, Square(v_{0}))'",
    "pendulum.py": "SearchResult(formula='Times(C, Sqrt(v_{0}))'",
    "coulomb.py": "SearchResult(formula='Times(v_{1}, Times(v_{0}, Divide(C, Square(v_{2}))))'",
    "recognize_constants.py": "without:              Square(ArcCos(Neg(Exp(v_{0}))))  (error 0)",
    "numpy_and_pandas.py": "SymPy: voltage**2/resistance",
    "evaluate_and_export.py": "restored: SearchResult(formula='Plus(C, Divide(C, Exp(v_{0})))'",
    "scikit_learn.py": "formula: Times(v_{0}, Times(C, v_{1}))",
    "many_searches_joblib.py": "strain gauge: Times(C, Square(v_{0}))",
    "many_searches_dask.py": "3.718281828459045 = Plus(Exp(v_{0}), Exp(Exp(v_{0})))  (error 0)",
    "noisy_data.py": "score: Plus(Times(C, Times(v_{0}, Square(v_{1}))), C)",
    "steering.py": "drag: SearchResult(formula='Times(C, Square(v_{0}))'",
    "named_constants.py": "golden ratio: Divide(2, Subtract(Sqrt(5), 1))  (error 4.93e-32)",
    "snapping.py": "SymPy:   h*omega/(2*pi)",
    "plots.py": "saved staircase.png",
    "sums_and_products.py": "polynomial: Plus(Times(C, v_{0}), Plus(Times(C, Square(v_{0})), "
    "Plus(Times(C, Square(Square(v_{0}))), C)))",
    "physical_units.py": "with units: SearchResult(formula='Times(Times(v_{0}, v_{1}), Plus(C, "
    "Times(Divide(Times(v_{2}, v_{3}), v_{1}), Sin(v_{4}))))'",
    "units_as_recorded.py": "law: F = q*E*(0.9999 + B*v/E*sin(theta))",
    "meet_in_the_middle.py": "  with:    Divide(Subtract(v_{0}, Times(v_{1}, v_{2})), Sqrt(Subtract(C, "
    "Square(Divide(v_{1}, v_{3})))))  (error 2.94e-32)",
}


def test_every_example_is_listed():
    assert sorted(path.name for path in EXAMPLES.glob("*.py")) == sorted(SHOWS)


def imported_packages(path):
    tree = ast.parse(path.read_text())
    for node in ast.walk(tree):
        if isinstance(node, ast.Import):
            yield from (alias.name.split(".")[0] for alias in node.names)
        elif isinstance(node, ast.ImportFrom) and node.level == 0:
            yield node.module.split(".")[0]


@pytest.mark.parametrize("name", sorted(SHOWS))
def test_example_runs(name, tmp_path):
    path = EXAMPLES / name
    missing = [p for p in imported_packages(path) if importlib.util.find_spec(p) is None]
    if missing:
        pytest.skip(f"needs {', '.join(missing)}")
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(
        filter(None, [os.path.dirname(tov_sr.__file__), env.get("PYTHONPATH")])
    )
    result = subprocess.run(
        [sys.executable, str(path)],
        capture_output=True,
        text=True,
        env=env,
        cwd=tmp_path,
        timeout=300,
    )
    assert result.returncode == 0, result.stderr
    assert any(SHOWS[name] in line for line in result.stdout.splitlines()), result.stdout
