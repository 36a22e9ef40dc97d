"""The documentation's sources: the recorded example output, the generated
docstring header, the layout page and the README as the front door. (The
site itself is built, strictly, by tools/run_tests.sh.)"""

import importlib.util
import inspect
import re
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


def load(name):
    spec = importlib.util.spec_from_file_location(name, ROOT / "tools" / f"{name}.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


render_examples = load("render_examples")
stub_docs = load("stub_docs")
check_layout = load("check_layout")


@pytest.mark.parametrize(
    "name, raw, shown",
    [
        # A progress bar rewritten in place leaves nothing; the report stays.
        (
            "a.py",
            "start\n\r  [TOV] L2 Progress: [░░] 3% (1/26)   \r  [TOV] L2 Progress: [█░] 50%\r"
            "\r[TOV-SR]   -> Level 2 processed in 6.368289ms. Retaining top 26.\n",
            "start\n[TOV-SR]   -> Level 2 processed in …. Retaining top 26.\n",
        ),
        # Durations in every unit, and only after "in".
        (
            "a.py",
            "level 2: 8 candidates in 0.010 s\nin 318.855µs\ntime_limit of 2.0 s\n",
            "level 2: 8 candidates in …\nin …\ntime_limit of 2.0 s\n",
        ),
        # A time-limited result is masked after its label, in its example only.
        (
            "steering.py",
            "within 2 s: SearchResult(formula='Exp(v_{0})')\n"
            "  warning: time_limit of 2.0 s reached during level 5\n",
            "within 2 s: …\n  warning: time_limit of …\n",
        ),
        ("other.py", "within 2 s: x\n", "within 2 s: x\n"),
        # Blank lines of the script's own stay, trailing ones go.
        ("a.py", "a\n\nb\n\n\n", "a\n\nb\n"),
    ],
)
def test_example_output_as_a_terminal_leaves_it(name, raw, shown):
    assert render_examples.terminal_text(raw, name) == shown


def test_every_example_has_its_output_and_its_section():
    page = (ROOT / "docs" / "examples" / "index.md").read_text(encoding="utf-8")
    scripts = sorted(p.stem for p in (ROOT / "examples").glob("*.py"))
    recorded = sorted(p.stem for p in (ROOT / "docs" / "examples").glob("*.txt"))
    assert recorded == scripts
    for stem in scripts:
        assert f'--8<-- "examples/{stem}.py"' in page
        assert f'--8<-- "docs/examples/{stem}.txt"' in page
        assert f"`{stem}.py`" in page


@pytest.mark.parametrize(
    "text",
    ["plain", "two\nlines", 'quote " and \\ backslash', "≈ and {braces}", "trailing\n"],
)
def test_the_docstring_header_holds_the_text(text, tmp_path):
    """Each docstring round-trips through the generated C++ literal."""
    stub = tmp_path / "m.pyi"
    stub.write_text(f"class A:\n    def f(self) -> None:\n        {text!r}\n", encoding="utf-8")
    target = tmp_path / "out" / "docs.hpp"
    assert stub_docs.main(["stub_docs.py", str(stub), str(target)]) == 0
    header = target.read_text(encoding="utf-8")
    literal = re.search(r"A_f\[\] =\n((?:    \".*\"\n?)+);", header).group(1)
    pieces = re.findall(r'"((?:[^"\\]|\\.)*)"', literal)
    unescape = {"n": "\n", '"': '"', "\\": "\\"}
    decoded = "".join(re.sub(r"\\(.)", lambda m: unescape[m.group(1)], p) for p in pieces)
    assert decoded == inspect.cleandoc(text)


def test_the_docstring_header_names_every_definition():
    found = dict(stub_docs.docstrings((ROOT / "src" / "python" / "tov_sr.pyi").read_text()))
    for name in [
        "tov_sr",
        "Searcher",
        "Searcher.find_function",
        "SearchResult.snap",
        "SearchResult.formula",
        "LevelReport.level",
        "math_signature",
    ]:
        assert name in found


def test_the_reference_reads_the_constructors_as_init():
    """The site's copy of the stub changes the constructors only."""
    pytest.importorskip("mkdocs")
    hooks = load("mkdocs_hooks")
    stub = (ROOT / "src" / "python" / "tov_sr.pyi").read_text(encoding="utf-8")
    copy = hooks.as_init(stub)
    assert "__new__" in stub and "__new__" not in copy
    assert copy.count("def __init__(self,") == stub.count("def __new__(")
    undone = copy.replace("def __init__(self,", "def __new__(\n        cls,")
    assert undone.replace(") -> None: ...", ") -> Searcher: ...") == stub


def test_the_layout_page_has_every_room():
    page = (ROOT / "docs" / "guide" / "layout.md").read_text(encoding="utf-8")
    rows = re.findall(r"^\| (\d+) \| `src/(\w+)` \|", page, re.M)
    assert [(int(floor), room) for floor, room in rows] == [
        (floor, room) for floor, rooms in enumerate(check_layout.FLOORS) for room in rooms
    ]


def test_the_readme_is_the_front_door():
    text = (ROOT / "README.md").read_text(encoding="utf-8")
    assert len(text.splitlines()) <= 250
    assert "pip install . && python examples/quickstart.py" in text
    assert "bash tools/run_tests.sh" in text
    # tools/build_wheel.sh runs the first Python block under this heading.
    section = text.split("\n## Quickstart\n", 1)[1]
    code = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    compile(code, "quickstart", "exec")
    for link in re.findall(r"\]\(([^)#]+)\)", text):
        assert (ROOT / link).exists(), link
