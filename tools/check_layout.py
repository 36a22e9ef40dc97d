#!/usr/bin/env python3
"""Checks that every include of the C++ sources points down the floors of
the layout: a file in src/ROOM may include its own room's headers and those
of rooms on lower floors, never a room on its own floor or above. Rooms on
one floor are independent of each other. Exits 1 and lists the offending
includes when there are any.

    python tools/check_layout.py
"""

import re
import sys
from pathlib import Path

# Lowest first. A room may include the rooms of the floors below its own.
FLOORS = [
    ["numeric"],  # complex numbers, rationals, decimal and float text
    ["ops"],  # the operators: kernels, the builtin catalogue, the registry
    ["formula"],  # expressions, fingerprints, exact constants, the builders
    ["config"],  # the search's settings and their field list
    ["result"],  # results and errors of a search
    ["fit"],  # search data, the objective, refinement, block evaluation, snapping
    ["terms"],  # sums of terms and products of powers over retained formulas
    ["search"],  # the level-wise search, its coordinator and the local backend
    ["cluster", "units"],  # the distributed backend; physical units and the reduced search
    ["searcher"],  # the native searcher: requests as searches
    ["python"],  # the CPython module
]

FLOOR = {room: level for level, rooms in enumerate(FLOORS) for room in rooms}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"', re.MULTILINE)


def violations(src):
    found = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in {".cpp", ".hpp"}:
            continue
        room = path.relative_to(src).parts[0]
        if room not in FLOOR:
            found.append(f"{path}: the room {room!r} has no floor in tools/check_layout.py")
            continue
        for target in INCLUDE.findall(path.read_text()):
            if target == room:
                continue
            if target not in FLOOR:
                found.append(f"{path}: includes {target}/, which has no floor")
            elif FLOOR[target] >= FLOOR[room]:
                found.append(f"{path}: includes {target}/, which is not below {room}/")
    return found


def main():
    src = Path(__file__).resolve().parent.parent / "src"
    found = violations(src)
    for line in found:
        print(line)
    if found:
        print(f"{len(found)} includes point up or sideways", file=sys.stderr)
        return 1
    print(f"layout: every include points down ({len(FLOOR)} rooms on {len(FLOORS)} floors)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
