#!/usr/bin/env python3
"""Runs every script in examples/ and writes what it prints to
docs/examples/NAME.txt, where the documentation site shows it beside the
script; with --check, compares instead and exits 1 on a difference.

    PYTHONPATH=build/dev:python python tools/render_examples.py [--check]

The text is what a terminal would show, made independent of the machine:
the search's progress bars (rewritten in place) are left out, durations
read "…", and the results that a time limit decides (how far a search got
in its seconds) are masked after their label. Everything else the engine
computes the same on every run. Each script runs in a temporary directory,
so the pictures it saves stay out of the tree.
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = ROOT / "examples"
OUTPUT = ROOT / "docs" / "examples"

PROGRESS = re.compile(r"^\s*\[TOV\] L\d+ Progress")
DURATION = re.compile(r"\bin \d+(?:\.\d+)? ?(?:µs|ms|s)\b")
# Lines whose rest depends on how fast the machine ran a time-limited
# search, by the label they start with.
TIME_LIMITED = {
    "noisy_data.py": ("time limit: ", "  warning: time_limit of "),
    "physical_units.py": ("without units: ",),
    "steering.py": ("within 2 s: ", "  warning: time_limit of "),
}


def terminal_text(raw, name):
    """The output as a terminal leaves it, machine-independent."""
    lines = []
    for line in raw.split("\n"):
        parts = [p for p in line.split("\r") if p.strip() and not PROGRESS.match(p)]
        if "\r" in line and not parts:
            continue
        text = DURATION.sub("in …", "".join(parts))
        for label in TIME_LIMITED.get(name, ()):
            if text.startswith(label):
                text = label + "…"
        lines.append(text.rstrip())
    while lines and not lines[-1]:
        lines.pop()
    return "\n".join(lines) + "\n"


def run(path):
    with tempfile.TemporaryDirectory() as directory:
        done = subprocess.run(
            [sys.executable, str(path)],
            capture_output=True,
            cwd=directory,
            env=dict(os.environ, PYTHONIOENCODING="utf-8"),
            timeout=900,
        )
    if done.returncode != 0:
        raise SystemExit(f"{path.name} failed:\n{done.stderr.decode(errors='replace')}")
    # Bytes, not text: text mode would turn the progress bars' \r into lines.
    return terminal_text(done.stdout.decode("utf-8"), path.name)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--check", action="store_true", help="compare, write nothing")
    args = parser.parse_args(argv)
    differ = []
    for path in sorted(EXAMPLES.glob("*.py")):
        text = run(path)
        target = OUTPUT / (path.stem + ".txt")
        if args.check:
            if not target.exists() or target.read_text(encoding="utf-8") != text:
                differ.append(target.relative_to(ROOT))
        else:
            OUTPUT.mkdir(parents=True, exist_ok=True)
            target.write_text(text, encoding="utf-8")
        print(f"{path.name}: {len(text.splitlines())} lines")
    stale = [
        p.relative_to(ROOT)
        for p in OUTPUT.glob("*.txt")
        if not (EXAMPLES / (p.stem + ".py")).exists()
    ]
    for path in differ:
        print(f"{path} differs from what its script prints now", file=sys.stderr)
    for path in stale:
        print(f"{path} has no script in examples/", file=sys.stderr)
    if differ or stale:
        print("run python tools/render_examples.py to update", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
