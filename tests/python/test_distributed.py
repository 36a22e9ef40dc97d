"""One search on a Dask cluster: the same results, errors and warnings as
the local search, a worker lost mid-search, mismatched workers refused,
Ctrl-C on the client."""

import math
import os
import random
import signal
import subprocess
import sys
import threading

import pytest
import tov_sr
from conftest import run_python

distributed = pytest.importorskip("distributed")
from tov_sr_tools.distributed import ClusterMismatchError, DaskSearcher  # noqa: E402

Searcher = tov_sr.Searcher


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
    )
    with distributed.Client(cluster) as c:
        yield c
    cluster.close()


def observed(results):
    results = results if isinstance(results, list) else [results]
    return [(r.formula, r.complexity, r.error.hex(), r.parameters) for r in results]


def problem(seed):
    rng = random.Random(seed)
    rows = [[rng.uniform(0.2, 2.5) for _ in range(1 + seed % 2)] for _ in range(15 + seed)]
    ys = [math.exp(-r[0]) * 1.3 + r[-1] ** 2 + rng.gauss(0, 0.01) for r in rows]
    return rows, ys


REQUESTS = [
    ("find_function", lambda rows, ys: ([r[0] for r in rows], ys), {}),
    ("find_multivariate", lambda rows, ys: (rows, ys), {"alpha": 0.01}),
    ("fit", lambda rows, ys: (rows, ys), {"weights": None}),
    ("find_candidates", lambda rows, ys: (rows, ys), {}),
    ("recognize_constant", lambda rows, ys: (ys[0],), {}),
]


@pytest.mark.parametrize("name, arguments, keywords", REQUESTS)
@pytest.mark.parametrize("seed", [0, 1])
def test_every_request_gives_the_local_result(client, name, arguments, keywords, seed):
    rows, ys = problem(seed)
    settings = {"max_complexity": 5, "beam_width": 40, "verbose": False}
    if seed == 1:
        settings.update(linear_scaling=True, max_search_rows=10)
    searcher = Searcher(**settings)
    args = arguments(rows, ys)
    local = getattr(searcher, name)(*args, **keywords)
    remote = getattr(DaskSearcher(searcher, client, shards=3), name)(*args, **keywords)
    assert observed(remote) == observed(local)


def test_errors_and_warnings_are_those_of_the_searcher(client):
    searcher = Searcher(max_complexity=4, verbose=False)
    remote = DaskSearcher(searcher, client)
    for call in (
        lambda s: s.find_function([1.0, 2.0], [1.0]),
        lambda s: s.find_function([1.0], [1.0], weights=[-1.0]),
        lambda s: s.fit([[1.0]], [1.0], 0.1, 0.2, 0.3),
    ):
        with pytest.raises(Exception) as local_error:
            call(searcher)
        with pytest.raises(type(local_error.value)) as remote_error:
            call(remote)
        assert str(remote_error.value) == str(local_error.value)
    stops = []
    rows, ys = problem(3)
    stopped = remote.find_candidates(rows, ys, callback=lambda r: stops.append(r.level) or r.level == 3)
    assert observed(stopped) == observed(Searcher(max_complexity=3, verbose=False).find_candidates(rows, ys))
    assert stops == [1, 2, 3]
    assert [level["level"] for level in remote.stats] == [2, 3]


def test_a_worker_lost_mid_search_changes_nothing(client):
    rows, ys = problem(4)
    searcher = Searcher(max_complexity=7, beam_width=100, verbose=False)
    local = searcher.find_candidates(rows, ys)
    pids = client.run(os.getpid)
    victim = pids[sorted(pids)[0]]

    def kill_during_the_next_level(report):
        # Shortly after level 5 ends, while the workers evaluate level 6.
        if report.level == 5:
            threading.Timer(0.05, os.kill, (victim, signal.SIGKILL)).start()

    remote = DaskSearcher(searcher, client, shards=4).find_candidates(
        rows, ys, callback=kill_during_the_next_level
    )
    assert observed(remote) == observed(local)
    client.wait_for_workers(2, timeout=60)


def test_a_worker_with_other_math_is_refused(client):
    def pretend_other_math():
        import tov_sr_tools.distributed as d

        d._identity = lambda: (d._version(), "other-math")

    def restore():
        import importlib

        import tov_sr_tools.distributed as d

        importlib.reload(d)

    worker = sorted(client.scheduler_info()["workers"])[0]
    client.run(pretend_other_math, workers=[worker])
    try:
        with pytest.raises(ClusterMismatchError) as info:
            DaskSearcher(Searcher(max_complexity=2, verbose=False), client).recognize_constant(2.0)
        assert str(info.value).startswith(f"worker {worker} runs tov_sr ")
        assert "with math signature other-math" in str(info.value)
    finally:
        client.run(restore, workers=[worker])


CTRL_C = """
import math, signal, sys, tov_sr
from distributed import Client, LocalCluster
from tov_sr_tools import DaskSearcher
if __name__ == "__main__":
    signal.signal(signal.SIGINT, signal.default_int_handler)
    cluster = LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None)
    client = Client(cluster)
    xs = [i / 20 for i in range(200)]
    ys = [math.sin(x) * math.exp(x / 3) + 0.1 * x**3 for x in xs]
    remote = DaskSearcher(tov_sr.Searcher(verbose=False), client)
    try:
        # Whenever the signal comes from here on, it interrupts the call.
        print("ready", flush=True)
        remote.find_function(xs, ys)
    except KeyboardInterrupt:
        print("interrupted", file=sys.stderr, flush=True)
    small = DaskSearcher(tov_sr.Searcher(max_complexity=1, verbose=False), client)
    print("then", small.find_function([1.0, 2.0], [1.0, 2.0]).formula, file=sys.stderr, flush=True)
    client.close()
    cluster.close()
"""


def test_ctrl_c_cancels_the_search_and_keeps_the_cluster(tmp_path):
    script = tmp_path / "ctrl_c.py"
    script.write_text(CTRL_C)
    child = subprocess.Popen(
        [sys.executable, str(script)],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)),
    )
    try:
        assert child.stdout.readline() == "ready\n"
        threading.Event().wait(3.0)  # into the levels
        child.send_signal(signal.SIGINT)
        _, err = child.communicate(timeout=120)
    finally:
        child.kill()
    lines = [line for line in err.splitlines() if line in ("interrupted", "then v_{0}")]
    assert lines == ["interrupted", "then v_{0}"], err


def test_the_tools_import_without_dask():
    result = run_python("""
        import sys
        sys.modules["distributed"] = None
        import tov_sr_tools
        print(tov_sr_tools.__all__)
        """)
    assert result.returncode == 0, result.stderr
