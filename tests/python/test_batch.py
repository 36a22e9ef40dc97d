"""Many independent searches in other processes: joblib's process pool,
Dask's distributed scheduler and multiprocessing, results pickled back."""

import math
import os
import pickle

import pytest
import tov_sr
from conftest import run_python

VALUES = [math.pi**2, math.e + 1.0, math.sqrt(2.0), (1.0 + math.sqrt(5.0)) / 2.0]
SEARCHER = tov_sr.Searcher(max_complexity=4, beam_width=40)


@pytest.fixture(scope="module")
def local():
    return [pickle.dumps(SEARCHER.recognize_constant(v)) for v in VALUES]


def test_joblib_processes(local):
    joblib = pytest.importorskip("joblib")
    from joblib.externals.loky import get_reusable_executor

    try:
        with joblib.parallel_config(backend="loky", n_jobs=2):
            run = joblib.Parallel()
            remote = run(joblib.delayed(SEARCHER.recognize_constant)(v) for v in VALUES)
            pids = run(joblib.delayed(os.getpid)() for _ in VALUES)
    finally:
        get_reusable_executor().shutdown(wait=True)
    assert os.getpid() not in pids
    assert [pickle.dumps(r) for r in remote] == local


def test_dask_distributed(local):
    distributed = pytest.importorskip("distributed")
    cluster = distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
    )
    with cluster, distributed.Client(cluster) as client:
        remote = client.gather(client.map(SEARCHER.recognize_constant, VALUES))
        pids = set(client.run(os.getpid).values())
    assert len(pids) == 2 and os.getpid() not in pids
    assert [pickle.dumps(r) for r in remote] == local


def test_multiprocessing_fork_after_a_search():
    # The children inherit a process whose worker threads they do not have.
    result = run_python(
        """
        import multiprocessing, pickle, tov_sr
        searcher = tov_sr.Searcher(max_complexity=3, beam_width=20)
        here = [searcher.recognize_constant(v) for v in (1.5, 2.5)]
        with multiprocessing.get_context("fork").Pool(2) as pool:
            there = pool.map(searcher.recognize_constant, [1.5, 2.5])
        print([pickle.dumps(r) for r in here] == [pickle.dumps(r) for r in there])
        """,
        timeout=60,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[-1] == "True"
