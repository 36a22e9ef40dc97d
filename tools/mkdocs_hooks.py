"""Hooks of the documentation build (mkdocs.yml). The extension has no
Python source, only its stub; the reference reads the stub as the package
build/docs-api/tov_sr, which this writes at the start of every build
(before the reference's handler looks for its paths).

The reference takes a class's parameters from its __init__, while the stub
declares the constructors as __new__ (as the extension defines them); the
copy declares them as __init__, so that the classes show their parameters
and defaults. Nothing else changes."""

import re
from pathlib import Path

from mkdocs.plugins import event_priority

ROOT = Path(__file__).resolve().parent.parent
CONSTRUCTOR = re.compile(r"def __new__\(\s*cls,(?P<parameters>.*?)\)\s*->\s*\w+:", re.S)


def as_init(stub):
    """The stub with each `def __new__(cls, ...) -> C:` as `def __init__(self, ...) -> None:`."""
    return CONSTRUCTOR.sub(
        lambda m: f"def __init__(self,{m.group('parameters')}) -> None:", stub
    )


@event_priority(100)
def on_config(config):
    package = ROOT / "build" / "docs-api" / "tov_sr"
    package.mkdir(parents=True, exist_ok=True)
    stub = (ROOT / "src" / "python" / "tov_sr.pyi").read_text(encoding="utf-8")
    (package / "__init__.pyi").write_text(as_init(stub), encoding="utf-8")
    return config
