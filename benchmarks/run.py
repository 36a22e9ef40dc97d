#!/usr/bin/env python3
"""Search benchmarks: builds the benchmark program and prints a table.

For each problem it runs ``find_candidates`` (``recognize_constant`` for the
constant) with the default configuration in a fresh process and reports wall
time, new candidates per level, candidates evaluated per second, constant
refinements and peak resident memory. It then runs one mid-size search through
the fast path and through the plain reference evaluator and prints the ratio.

    python benchmarks/run.py                 # every problem, defaults
    python benchmarks/run.py --max-complexity 8 --problems x100 mid
"""
import argparse
import json
import os
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "bench"
PROBLEMS = {
    "x100": "1 variable, 100 samples",
    "x1000": "1 variable, 1000 samples",
    "xyz1000": "3 variables, 1000 samples",
    "constant": "recognize_constant(e + 1)",
}


def build() -> Path:
    subprocess.run(
        ["cmake", "-S", str(ROOT), "-B", str(BUILD), "-DCMAKE_BUILD_TYPE=Release",
         "-DTOV_SR_BUILD_PYTHON=OFF", "-DTOV_SR_BUILD_BENCHMARKS=ON"],
        check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(BUILD), "--target", "search_benchmark",
                    "-j", str(os.cpu_count() or 1)], check=True, stdout=subprocess.DEVNULL)
    return BUILD / "search_benchmark"


def run(binary: Path, args: list) -> dict:
    """Runs one search in its own process; adds its peak resident memory."""
    proc = subprocess.Popen([str(binary), *args], stdout=subprocess.PIPE, text=True)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    result = json.loads(out)
    result["peak_mib"] = usage.ru_maxrss / 1024.0
    return result


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--max-complexity", type=int, default=None)
    parser.add_argument("--beam-width", type=int, default=None)
    parser.add_argument("--problems", nargs="*", default=list(PROBLEMS) + ["mid"])
    options = parser.parse_args()

    binary = build()
    extra = []
    if options.max_complexity is not None:
        extra += ["--max-complexity", str(options.max_complexity)]
    if options.beam_width is not None:
        extra += ["--beam-width", str(options.beam_width)]

    print(f"{'problem':<28} {'wall s':>9} {'evaluated':>10} {'cand/s':>10} "
          f"{'refinements':>11} {'peak MiB':>9}  candidates per level (2..)")
    for name in options.problems:
        if name == "mid":
            continue
        r = run(binary, [name, *extra])
        if "failure" in r:
            print(f"{PROBLEMS[name]:<28} {r['failure']}")
            continue
        rate = r["evaluated"] / r["seconds"] if r["seconds"] > 0 else float("inf")
        print(f"{PROBLEMS[name]:<28} {r['seconds']:>9.2f} {r['evaluated']:>10} {rate:>10.0f} "
              f"{r['refinements']:>11} {r['peak_mib']:>9.0f}  {r['candidates']}")
        sys.stdout.flush()

    if "mid" in options.problems:
        mid = ["mid", "--max-complexity", "6", "--beam-width", "300"]
        fast = run(binary, mid)
        plain = run(binary, [*mid, "--reference"])
        same = fast["best"] == plain["best"] and fast["error"] == plain["error"]
        print(f"\nmid-size search (1 variable, 100 samples, max_complexity 6, beam_width 300):")
        print(f"  fast path {fast['seconds']:.2f} s, plain evaluator {plain['seconds']:.2f} s, "
              f"speed-up {plain['seconds'] / fast['seconds']:.1f}x, "
              f"identical results: {'yes' if same else 'NO'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
