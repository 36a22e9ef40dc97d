#!/usr/bin/env python3
"""Search benchmarks: builds the benchmark program and prints a table.

For each problem it runs ``find_candidates`` (``recognize_constant`` for the
constant) in a fresh process and reports wall time, new candidates per level,
candidates evaluated per second, constant refinements and peak resident
memory. It then runs one mid-size search through the fast path and through the
plain reference evaluator and prints the ratio.

    python benchmarks/run.py                 # every problem, defaults
    python benchmarks/run.py --max-complexity 8 --problems x100 mid
    python benchmarks/run.py --operators arithmetic --time-limit 5 --problems x100

With ``--baseline REF`` it builds the program also from the git revision REF
(in a worktree under build/) and runs the two side by side, alternating, each
``--runs`` times, and reports CPU seconds (min and median), the speed-up and
whether the results are identical:

    python benchmarks/run.py --baseline cb9ba75 --problems x100 --runs 2
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
PROBLEMS = {
    "x100": "1 variable, 100 samples",
    "x1000": "1 variable, 1000 samples",
    "xyz1000": "3 variables, 1000 samples",
    "constant": "recognize_constant(e + 1)",
}


def build(source: Path, directory: Path) -> Path:
    subprocess.run(
        ["cmake", "-S", str(source), "-B", str(directory), "-DCMAKE_BUILD_TYPE=Release",
         "-DTOV_SR_BUILD_PYTHON=OFF", "-DTOV_SR_BUILD_BENCHMARKS=ON"],
        check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(directory), "--target", "search_benchmark",
                    "-j", str(os.cpu_count() or 1)], check=True, stdout=subprocess.DEVNULL)
    return directory / "search_benchmark"


def worktree(ref: str) -> Path:
    """A checkout of `ref` under build/, made once."""
    commit = subprocess.run(["git", "-C", str(ROOT), "rev-parse", "--short", ref], check=True,
                            capture_output=True, text=True).stdout.strip()
    path = ROOT / "build" / f"baseline-{commit}"
    if not path.exists():
        subprocess.run(["git", "-C", str(ROOT), "worktree", "add", "--detach", str(path), commit],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


def run(binary: Path, args: list) -> dict:
    """Runs one search in its own process; adds its peak resident memory and
    CPU seconds."""
    proc = subprocess.Popen([str(binary), *args], stdout=subprocess.PIPE, text=True)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    result = json.loads(out)
    result["peak_mib"] = usage.ru_maxrss / 1024.0
    result["cpu"] = usage.ru_utime + usage.ru_stime
    return result


def compare(current: Path, baseline: Path, names: list, extra: list, runs: int) -> None:
    print(f"{'problem':<28} {'baseline cpu s':>16} {'current cpu s':>16} {'speed-up':>9}  identical")
    for name in names:
        cpu = {"baseline": [], "current": []}
        best = {}
        for _ in range(runs):
            for label, binary in (("baseline", baseline), ("current", current)):
                r = run(binary, [name, *extra])
                cpu[label].append(r["cpu"])
                best[label] = (r.get("best"), r.get("error"), r.get("candidates"))
        b, c = statistics.median(cpu["baseline"]), statistics.median(cpu["current"])
        same = "yes" if best["baseline"] == best["current"] else "NO"
        print(f"{PROBLEMS.get(name, name):<28} {min(cpu['baseline']):7.1f} / {b:6.1f} "
              f"{min(cpu['current']):7.1f} / {c:6.1f} {b / c:8.2f}x  {same}")
        sys.stdout.flush()
    print("(cpu: min / median of the runs; speed-up of the medians)")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--max-complexity", type=int, default=None)
    parser.add_argument("--beam-width", type=int, default=None)
    parser.add_argument("--operators", choices=["all", "arithmetic"], default=None)
    parser.add_argument("--time-limit", type=float, default=None)
    parser.add_argument("--problems", nargs="*", default=list(PROBLEMS) + ["mid"])
    parser.add_argument("--baseline", metavar="REF", default=None)
    parser.add_argument("--runs", type=int, default=1)
    options = parser.parse_args()

    binary = build(ROOT, ROOT / "build" / "bench")
    extra = []
    if options.max_complexity is not None:
        extra += ["--max-complexity", str(options.max_complexity)]
    if options.beam_width is not None:
        extra += ["--beam-width", str(options.beam_width)]
    if options.operators == "arithmetic":
        extra += ["--arithmetic"]
    if options.time_limit is not None:
        extra += ["--time-limit", str(options.time_limit)]

    if options.baseline is not None:
        source = worktree(options.baseline)
        baseline = build(source, source / "build" / "bench")
        names = [n for n in options.problems if n != "mid"]
        compare(binary, baseline, names, extra, options.runs)
        return 0

    print(f"{'problem':<28} {'wall s':>9} {'evaluated':>10} {'cand/s':>10} "
          f"{'refinements':>11} {'peak MiB':>9}  levels  candidates per level (2..)")
    for name in options.problems:
        if name == "mid":
            continue
        r = run(binary, [name, *extra])
        if "failure" in r:
            print(f"{PROBLEMS[name]:<28} {r['failure']}")
            continue
        rate = r["evaluated"] / r["seconds"] if r["seconds"] > 0 else float("inf")
        print(f"{PROBLEMS[name]:<28} {r['seconds']:>9.2f} {r['evaluated']:>10} {rate:>10.0f} "
              f"{r['refinements']:>11} {r['peak_mib']:>9.0f}  {r['levels']:>6}  {r['candidates']}")
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
