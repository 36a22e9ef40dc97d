"""Hooks of the documentation build (mkdocs.yml). The extension has no
Python source, only its stub; the reference reads the stub as the package
build/docs-api/tov_sr, which this copies it to at the start of every build
(before the reference's handler looks for its paths)."""

import shutil
from pathlib import Path

from mkdocs.plugins import event_priority

ROOT = Path(__file__).resolve().parent.parent


@event_priority(100)
def on_config(config):
    package = ROOT / "build" / "docs-api" / "tov_sr"
    package.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(ROOT / "src" / "python" / "tov_sr.pyi", package / "__init__.pyi")
    return config
