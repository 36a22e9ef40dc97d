"""Many independent searches on a Dask cluster.

A LocalCluster stands in for a real one here; with a scheduler address,
Client("tcp://scheduler:8786") runs the same code across machines.
"""

import math

import tov_sr
from dask.distributed import Client, LocalCluster


def name_number(value):
    """Runs in a worker: one constant-free closed form, output silenced."""
    from tov_sr_tools import silence_search_output

    searcher = tov_sr.Searcher(max_complexity=6, beam_width=1000, alpha=1.0, l1_ratio=1.0)
    with silence_search_output():
        return searcher.recognize_constant(value)


if __name__ == "__main__":
    values = [math.pi, math.e, math.sqrt(2.0), math.pi**2, math.e + 1.0, 0.5]
    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster:
        with Client(cluster) as client:
            results = client.gather(client.map(name_number, values))
    for value, result in zip(values, results):
        print(f"{value!r:>20} = {result.formula}  (error {result.error:.3g})")
