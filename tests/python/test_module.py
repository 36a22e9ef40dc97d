"""The module: contents, one-time creation, lazy NumPy, one interpreter, stub."""

import ast
import importlib
import os
import pathlib
import subprocess
import sys

import pytest
import tov_sr
from conftest import run_python

ALL = ["Searcher", "SearchResult", "TovDimensionError", "TovComplexityError", "TovRuntimeError"]
# Public names added later follow the first five.
ALL += ["TovTimeLimitWarning", "LevelReport", "math_signature", "TovCheckpointWarning"]
CLASSES = [name for name in ALL if name != "math_signature"]


def test_contents():
    assert tov_sr.__all__ == ALL
    assert tov_sr.__doc__ == "The main Python module entry point."
    assert sorted(name for name in dir(tov_sr) if not name.startswith("_")) == sorted(ALL)
    assert all(isinstance(getattr(tov_sr, name), type) for name in CLASSES)
    assert [getattr(tov_sr, name).__module__ for name in CLASSES] == ["tov_sr"] * len(CLASSES)


def test_importing_again_gives_the_same_objects():
    objects = [getattr(tov_sr, name) for name in ALL]
    saved = sys.modules.pop("tov_sr")
    try:
        again = importlib.import_module("tov_sr")
    finally:
        sys.modules["tov_sr"] = saved
    assert again is tov_sr
    assert all(getattr(again, name) is obj for name, obj in zip(ALL, objects))
    assert importlib.reload(tov_sr) is tov_sr
    assert tov_sr.__all__ == ALL


def test_numpy_is_loaded_on_first_conversion_only():
    result = run_python("""
        import sys, tov_sr
        searcher = tov_sr.Searcher(max_complexity=1)
        print("numpy" in sys.modules)
        searcher.find_function([1.0, 2.0], [1.0, 2.0])
        print("numpy" in sys.modules)
        """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[0] == "False"
    assert result.stdout.splitlines()[-1] == "True"


def test_second_interpreter_is_refused():
    pytest.importorskip("_testcapi")
    result = run_python("""
        import _testcapi, tov_sr
        _testcapi.run_in_subinterp(
            "try:\\n"
            "    import tov_sr\\n"
            "except ImportError as e:\\n"
            "    print('ImportError:', e)\\n"
        )
        """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("ImportError: ")


def test_stub_matches_the_module(tmp_path):
    pytest.importorskip("mypy.stubtest")
    stub_dir = pathlib.Path(__file__).resolve().parents[2] / "src" / "python"
    env = dict(
        os.environ,
        MYPYPATH=str(stub_dir),
        MYPY_CACHE_DIR=str(tmp_path),
        PYTHONPATH=os.path.dirname(tov_sr.__file__),
    )
    result = subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy.stubtest",
            "tov_sr",
            "--allowlist",
            str(stub_dir / "stubtest_allowlist.txt"),
        ],
        capture_output=True,
        text=True,
        env=env,
        cwd=tmp_path,
        timeout=600,
    )
    assert result.returncode == 0, result.stdout + result.stderr


def test_the_stub_examples_run():
    """The examples of the reference run as written, in the stub's order
    (later ones use the names earlier ones define)."""
    import doctest

    from conftest import STUB

    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    docs = []

    def visit(body):
        for node in body:
            if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
                docs.append(ast.get_docstring(node, clean=True) or "")
                if isinstance(node, ast.ClassDef):
                    visit(node.body)

    visit(tree.body)
    parser = doctest.DocTestParser()
    examples = [e for doc in docs for e in parser.get_examples(doc)]
    assert len(examples) > 20
    test = doctest.DocTest(examples, {}, "tov_sr.pyi", str(STUB), 0, None)
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    runner.run(test)
    assert runner.failures == 0


def test_the_stub_is_the_runtime_text():
    """The opening of every docstring of the stub's public names is the
    module's own; the exception classes have none in either."""
    from conftest import STUB, runtime_doc, stub_definition

    assert tov_sr.__doc__ == ast.get_docstring(ast.parse(STUB.read_text(encoding="utf-8"))).split(
        "\n\n", 1
    )[0]
    for name in ["LevelReport", "math_signature", "TovTimeLimitWarning"]:
        assert getattr(tov_sr, name).__doc__ == runtime_doc(name)
    for name in ["level", "candidates", "retained", "seconds", "best_error", "best_formula"]:
        assert getattr(tov_sr.LevelReport, name).__doc__ == runtime_doc("LevelReport." + name)
    for name in ["TovDimensionError", "TovComplexityError", "TovRuntimeError"]:
        assert getattr(tov_sr, name).__doc__ is None
        assert ast.get_docstring(stub_definition(name)) is None
