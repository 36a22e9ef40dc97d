"""What the installed distribution says of itself: the version from its
metadata, and the extra to install for each optional part of tov_sr_tools."""

import importlib.metadata
import json
import pathlib
import sys

import pytest
import tov_sr
from conftest import run_python

PYPROJECT = pathlib.Path(__file__).resolve().parents[2] / "pyproject.toml"


def test_the_version_is_the_distribution_metadata():
    assert tov_sr.__version__ == importlib.metadata.version("tov_sr")
    if sys.version_info >= (3, 11):
        import tomllib

        project = tomllib.loads(PYPROJECT.read_text())["project"]
        assert tov_sr.__version__ == project["version"]


def test_without_metadata_the_version_is_unknown():
    result = run_python("""
        import importlib.metadata as metadata

        def missing(name):
            raise metadata.PackageNotFoundError(name)

        metadata.version = missing
        import tov_sr
        from tov_sr_tools.distributed import _identity
        print(tov_sr.__version__, _identity()[0])
        """)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "unknown unknown\n"


def test_other_attributes_are_still_missing():
    with pytest.raises(AttributeError) as info:
        tov_sr.__versions__
    assert str(info.value) == "module 'tov_sr' has no attribute '__versions__'"


def install(extra):
    return f'pip install "tov_sr[{extra}]"'


# (modules made unimportable, what is asked for, the message)
MISSING = [
    (["sklearn"], "tov_sr_tools.TovRegressor",
     "TovRegressor needs scikit-learn, which cannot be imported: " + install("sklearn")),
    (["numpy"], "tov_sr_tools.TovRegressor",
     "TovRegressor needs scikit-learn, which cannot be imported: " + install("sklearn")),
    (["pandas"], "tov_sr_tools.staircase_frame([])",
     "staircase_frame needs pandas, which cannot be imported: " + install("pandas")),
    (["sympy"], "tov_sr_tools.to_sympy(result)",
     "to_sympy needs SymPy, which cannot be imported: " + install("sympy")),
    (["distributed"], "tov_sr_tools.DaskSearcher(searcher, None)",
     "DaskSearcher needs Dask's distributed scheduler, which cannot be imported: "
     + install("parallel")),
    (["tqdm"], "tov_sr_tools.progress_bar()",
     "progress_bar needs tqdm, which cannot be imported: " + install("progress")),
    (["matplotlib"], "tov_sr_tools.plot_staircase([result])",
     "plot_staircase needs matplotlib, which cannot be imported: " + install("plot")),
    (["matplotlib"], "tov_sr_tools.plot_fit(result, [1.0], [1.0])",
     "plot_fit needs matplotlib, which cannot be imported: " + install("plot")),
]  # fmt: skip

MISSING_PROBE = """
import json, sys
blocked, expression = json.loads(sys.argv[1])
for name in blocked:
    sys.modules[name] = None
import tov_sr, tov_sr_tools
searcher = tov_sr.Searcher(max_complexity=1, verbose=False)
result = searcher.find_function([1.0, 2.0], [1.0, 2.0])
try:
    eval(expression)
except ImportError as error:
    cause = error.__cause__
    names = [type(error).__name__, str(error), type(cause).__name__, cause.name.split(".")[0]]
    print(json.dumps(names))
"""


@pytest.mark.parametrize("blocked, expression, message", MISSING)
def test_a_missing_optional_dependency_names_the_extra(blocked, expression, message):
    result = run_python(MISSING_PROBE.replace("sys.argv[1]", repr(json.dumps([blocked, expression]))))
    assert result.returncode == 0, result.stderr
    assert json.loads(result.stdout) == ["ImportError", message, "ModuleNotFoundError", blocked[0]]


def test_every_extra_named_exists():
    if sys.version_info < (3, 11):
        pytest.skip("reads pyproject.toml with tomllib")
    import tomllib

    extras = tomllib.loads(PYPROJECT.read_text())["project"]["optional-dependencies"]
    named = {message.rsplit("[", 1)[1].rstrip(']"') for _, _, message in MISSING}
    assert named <= set(extras)
    assert extras["all"] == ["tov_sr[" + ",".join(sorted(set(extras) - {"all", "test"})) + "]"]
