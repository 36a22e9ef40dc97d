"""Interruption, NumPy-less and broken-NumPy processes, threads, and memory
stability under repeated use including every error path."""

import gc
import math
import os
import signal
import subprocess
import sys
import threading
import tracemalloc

import numpy as np
import pytest
import tov_sr
from conftest import run_python

LARGE_SEARCH = """
import math, signal, sys, tov_sr
signal.signal(signal.SIGINT, signal.default_int_handler)
xs = [i / 20 for i in range(200)]
ys = [math.sin(x) * math.exp(x / 3) + 0.1 * x**3 for x in xs]
searcher = tov_sr.Searcher(max_complexity=10)
try:
    searcher.find_function(xs, ys)
except KeyboardInterrupt:
    print("interrupted", file=sys.stderr)
formula = tov_sr.Searcher(max_complexity=1).find_function([1.0], [1.0]).formula
print("searching again gives", formula, file=sys.stderr)
"""


def test_ctrl_c_interrupts_a_long_search():
    env = dict(os.environ, PYTHONPATH=os.path.dirname(tov_sr.__file__))
    child = subprocess.Popen(
        [sys.executable, "-c", LARGE_SEARCH],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env=env,
    )
    try:
        # The search's own first line: from here on it is searching, and a
        # signal at any later moment must interrupt it.
        assert child.stdout.readline().startswith("[TOV-SR] Started search space exploration.")
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=20)
    finally:
        child.kill()
    assert child.returncode == 0, err
    assert err.splitlines() == ["interrupted", "searching again gives v_{0}"]


class Alarm(Exception):
    pass


def test_signal_handler_exception_ends_the_search():
    def raise_alarm(signum, frame):
        raise Alarm

    previous = signal.signal(signal.SIGALRM, raise_alarm)
    xs = [i / 20 for i in range(200)]
    ys = [math.sin(x) * math.exp(x / 3) + 0.1 * x**3 for x in xs]
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.2)
        with pytest.raises(Alarm):
            tov_sr.Searcher(max_complexity=10).find_function(xs, ys)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert tov_sr.Searcher(max_complexity=1).find_function(xs, xs).formula == "v_{0}"


@pytest.mark.parametrize(
    "block_numpy",
    [
        "sys.modules['numpy'] = None",
        """
class Blocker:
    def find_spec(self, name, path=None, target=None):
        if name == 'numpy' or name.startswith('numpy.'):
            raise ModuleNotFoundError(name)
sys.meta_path.insert(0, Blocker())
""",
    ],
)
def test_lists_convert_without_numpy(block_numpy):
    result = run_python("import sys\n" + block_numpy + """
import tov_sr
searcher = tov_sr.Searcher(max_complexity=3, beam_width=20)
r = searcher.find_function((1.0, 2.0, 3.0), [2.0, 4.0, 6.0])
m = searcher.fit([[1.0, 5.0], [2.0, 7.0], [3.0, 9.0]], (5.0, 14.0, 27.0))
print(r.eval(2.5), m.eval([3.0, 4.0]), m.predict([[1.0, 2.0], (3, 4)]))
try:
    searcher.find_function("abc", [1.0])
except ValueError as e:
    print(e)
print(sys.modules.get("numpy"))
""")
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[-3:] == [
        "5.0 12.0 [2.0, 12.0]",
        "Input must be a 1D list or NumPy array of floats",
        "None",
    ]


FAKE_NUMPY = """
import sys, types
numpy = types.ModuleType("numpy")
numpy.__version__ = {version!r}
numpy.lib = types.ModuleType("numpy.lib")
class NumpyVersion:
    def __init__(self, text):
        self.major = int(text.split(".")[0])
numpy.lib.NumpyVersion = NumpyVersion
multiarray = types.ModuleType({module!r})
multiarray._ARRAY_API = "not a capsule"
sys.modules.update({{"numpy": numpy, "numpy.lib": numpy.lib, {module!r}: multiarray}})
import tov_sr
searcher = tov_sr.Searcher(max_complexity=1)
for _ in range(2):
    try:
        searcher.find_function([1.0], [1.0])
    except RuntimeError as e:
        print(type(e).__name__, e)
print(searcher.recognize_constant(0.0).formula)
"""


@pytest.mark.parametrize(
    "version, module", [("2.1.0", "numpy._core.multiarray"), ("1.26.4", "numpy.core.multiarray")]
)
def test_unusable_numpy_fails_every_conversion(version, module):
    result = run_python(FAKE_NUMPY.format(version=version, module=module))
    assert result.returncode == 0, result.stderr
    message = "RuntimeError Failed to access NumPy array API capsule: _ARRAY_API is not a capsule"
    assert result.stdout.splitlines() == [message, message, "v_{0}"]


def test_threads_share_one_searcher():
    searcher = tov_sr.Searcher(max_complexity=3, beam_width=20)
    xs = [1.0, 2.0, 3.0, 4.0]
    problems = [[a * x + b for x in xs] for a in (1.0, 2.0, 3.0) for b in (0.0, 1.5)]
    expected = [repr(searcher.find_function(xs, ys)) for ys in problems]
    results = {}
    barrier = threading.Barrier(len(problems))

    def work(i):
        barrier.wait()
        results[i] = [repr(searcher.find_function(np.array(xs), problems[i])) for _ in range(3)]

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(problems))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert [results[i] for i in range(len(problems))] == [[e] * 3 for e in expected]


class Unfloatable:
    def __float__(self):
        raise ValueError("no")


def workload(searcher, xs, ys, matrix):
    """One round of every kind of call, successful and failing."""
    results = [
        searcher.find_function(xs, ys),
        searcher.find_function(np.array(xs), tuple(ys), alpha=0.1),
        searcher.fit(matrix, ys),
        searcher.recognize_constant(2.0, l1_ratio=0.2),
    ]
    results += searcher.find_candidates(matrix, ys)
    for r in results:
        r.eval(1.5), r.eval([1.0, 2.0]), r.eval_batch(matrix), r.predict(np.array(matrix))
        repr(r), r.formula, r.to_latex(), r.to_python(), r.error, r.complexity
    failing = [
        lambda: searcher.find_function(xs, ys[:-1]),
        lambda: searcher.find_function(xs, [math.nan] * len(xs)),
        lambda: searcher.find_function(xs),
        lambda: searcher.find_function(xs, ys, gamma=1),
        lambda: searcher.find_function(xs, ys, alpha="a"),
        lambda: searcher.find_function(np.array(xs)[::2], ys),
        lambda: searcher.find_function([Unfloatable()], ys),
        lambda: searcher.fit([[1.0], None], ys),
        lambda: tov_sr.Searcher(max_complexity=3.0),
        lambda: tov_sr.Searcher(beam_width=-1),
        lambda: tov_sr.Searcher(1, 2, 3, 4, 5, 6),
        lambda: tov_sr.SearchResult(),
        lambda: results[0].eval("x"),
        lambda: results[0].eval_batch([1.0]),
        lambda: results[0].eval(1.0, x=2.0),
    ]
    for call in failing:
        try:
            call()
        except (
            TypeError,
            ValueError,
            OverflowError,
            tov_sr.TovDimensionError,
            tov_sr.TovComplexityError,
        ):
            pass
        else:
            raise AssertionError("call did not fail")


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


def test_repeated_use_is_stable():
    searcher = tov_sr.Searcher(max_complexity=3, beam_width=20)
    xs = [1.0, 2.0, 3.0, 4.0]
    ys = [2.0, 3.5, 6.0, 9.5]
    matrix = [[x, 1.0 - x] for x in xs]
    watched = [
        xs,
        ys,
        matrix,
        searcher,
        tov_sr.SearchResult,
        tov_sr.Searcher,
        tov_sr.TovDimensionError,
        tov_sr.TovComplexityError,
    ]

    # The searches' console output goes nowhere, so no capture buffer grows.
    saved_stdout = os.dup(1)
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 1)
    try:
        for _ in range(20):
            workload(searcher, xs, ys, matrix)
        gc.collect()
        counts = [sys.getrefcount(obj) for obj in watched]
        tracemalloc.start()
        rss = resident_bytes()
        traced = tracemalloc.get_traced_memory()[0]
        for _ in range(200):
            workload(searcher, xs, ys, matrix)
        gc.collect()
        traced_growth = tracemalloc.get_traced_memory()[0] - traced
        rss_growth = resident_bytes() - rss
        tracemalloc.stop()
    finally:
        os.dup2(saved_stdout, 1)
        os.close(saved_stdout)
        os.close(devnull)
    assert [sys.getrefcount(obj) for obj in watched] == counts
    assert traced_growth < 16 * 1024
    assert rss_growth < 2 * 1024 * 1024
