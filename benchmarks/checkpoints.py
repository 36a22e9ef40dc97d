#!/usr/bin/env python3
"""Checkpoint files: their size per level, and what writing them costs.

Runs the default search of benchmarks/run.py (the x100 problem:
find_candidates on y = x sin x + x^2 / 2 at 100 points, default settings)
with and without a checkpoint, alternating, and prints

* the size of each level's record in the file and the file's total (and,
  with --estimate-to N, the sizes extrapolated to max_complexity N from the
  growth of the last measured levels: a record is the level's retained
  formulas, at most beam_width of them, each a little longer than the level
  before);
* the CPU seconds of the search (process time, every thread) with and
  without, median of --repeats runs, and the overhead in percent.

    python benchmarks/checkpoints.py                      # defaults, 3 repeats
    python benchmarks/checkpoints.py --max-complexity 8 --repeats 5
    python benchmarks/checkpoints.py --estimate-to 11

Needs the tov_sr module on the path (a build tree's directory in
PYTHONPATH, or an installed one).
"""
import argparse
import math
import os
import statistics
import tempfile
import time

import tov_sr

HEADER = 4 + 4 + 1 + 8 + 8  # mark, format version, kind, payload length, checksum


def x100():
    xs = [-2.0 + 4.0 * i / 100 for i in range(100)]
    return [[x] for x in xs], [x * math.sin(x) + 0.5 * x * x for x in xs]


def messages(data):
    """The sizes of the file's messages, in order: the header, one record
    per level, the closing message; and each record's number of retained
    formulas (the payload's third field, after the level and a byte)."""
    sizes, retained, at = [], [], 0
    while at < len(data):
        size = HEADER + int.from_bytes(data[at + 9 : at + 17], "little")
        if sizes and at + size < len(data):
            retained.append(int.from_bytes(data[at + HEADER + 9 : at + HEADER + 17], "little"))
        sizes.append(size)
        at += size
    return sizes, retained


def replayed_writes(directory, sizes):
    """Wall seconds of writing the file as the search does, level after
    level (`sizes` as `messages` gives them): the header, the records so far
    and the closing message to a temporary file, synced, renamed over the
    file, the directory synced."""
    path = os.path.join(directory, "replay.tov")
    content = os.urandom(sum(sizes))
    start = time.perf_counter()
    written = sizes[0]
    for size in sizes[1:-1]:
        written += size
        with open(path + ".tmp", "wb") as f:
            f.write(content[: written + sizes[-1]])
            f.flush()
            os.fsync(f.fileno())
        os.replace(path + ".tmp", path)
        fd = os.open(directory, os.O_RDONLY)
        os.fsync(fd)
        os.close(fd)
    return time.perf_counter() - start


def cpu_seconds(searcher, rows, ys):
    start = time.process_time()
    searcher.find_candidates(rows, ys)
    return time.process_time() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--max-complexity", type=int, default=10)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--estimate-to", type=int, default=11)
    options = parser.parse_args()
    rows, ys = x100()
    settings = {"max_complexity": options.max_complexity, "verbose": False}

    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "x100.tov")
        without, with_file = [], []
        for _ in range(options.repeats):
            without.append(cpu_seconds(tov_sr.Searcher(**settings), rows, ys))
            if os.path.exists(path):
                os.remove(path)
            with_file.append(cpu_seconds(tov_sr.Searcher(**settings, checkpoint=path), rows, ys))
        with open(path, "rb") as f:
            sizes, retained = messages(f.read())
        io_seconds = statistics.median(replayed_writes(directory, sizes) for _ in range(5))

    print(f"x100, max_complexity {options.max_complexity}, beam_width 1000")
    print(f"{'level':>5} {'record bytes':>14} {'file bytes':>12} {'retained':>9}")
    total = sizes[0]
    print(f"{'head':>5} {sizes[0]:>14,} {total:>12,}")
    for level, size in enumerate(sizes[1:-1], start=1):
        total += size
        print(f"{level:>5} {size:>14,} {total:>12,} {retained[level - 1]:>9,}")
    print(f"{'end':>5} {sizes[-1]:>14,} {total + sizes[-1]:>12,}")
    sizes = sizes[:-1]
    last = len(sizes) - 1
    if options.estimate_to > last and (last < 3 or retained[-1] != retained[-2]):
        print("  (no estimate: the beam is not full in the last two levels)")
    elif options.estimate_to > last:
        # A record grows with its formulas' length once the beam is full.
        growth = sizes[last] / sizes[last - 1]
        size = sizes[last]
        for level in range(last + 1, options.estimate_to + 1):
            size = size * growth
            total += size
            print(f"{level:>5} {round(size):>14,} {round(total):>12,}  (estimated)")

    a, b = statistics.median(without), statistics.median(with_file)
    print(f"\nCPU seconds, median of {options.repeats}: without {a:.3f}, with {b:.3f}, "
          f"overhead {100.0 * (b - a) / a:+.2f} %")
    print(f"  without: {', '.join(f'{t:.3f}' for t in without)}")
    print(f"  with:    {', '.join(f'{t:.3f}' for t in with_file)}")
    print(f"the writes alone (replayed, wall seconds, median of 5): {io_seconds:.4f}, "
          f"{100.0 * io_seconds / a:.3f} % of the search")


if __name__ == "__main__":
    main()
