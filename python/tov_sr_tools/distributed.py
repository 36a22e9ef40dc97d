"""One search spread over a Dask cluster, with the results of the local search.

`DaskSearcher(searcher, client)` answers the four requests of a
`tov_sr.Searcher` with the same arguments, results and errors. The client
runs the search's sequential part (the front, the beam plan, the reports,
the final selection); the workers generate every level themselves and
evaluate its shards, the expensive part. What travels: the data and settings
once per search, and per level the retained formulas (out), the shards'
summaries and the second round of the beam selection (back).

Every worker must run the same tov_sr and the same math library variant as
the client (`tov_sr.math_signature()`); a search refuses to start otherwise,
since mixed machines can change results.
"""

import threading
import time
import uuid

import tov_sr

from tov_sr_tools._extras import require

__all__ = ["DaskSearcher", "ClusterMismatchError"]


class ClusterMismatchError(RuntimeError):
    """A worker runs another tov_sr version or math library behaviour."""


# --- Worker side -------------------------------------------------------------

# Engines of the searches in progress on this worker process, by search id.
_ENGINES = {}
_ENGINES_LOCK = threading.Lock()


def _identity():
    return _version(), tov_sr.math_signature()


def _version():
    return tov_sr.__version__


def _engine(search_id, start):
    """The engine of `search_id` on this worker, built on first use."""
    with _ENGINES_LOCK:
        entry = _ENGINES.get(search_id)
        if entry is None:
            from distributed import get_worker

            try:
                threads = max(1, get_worker().state.nthreads)
            except (ValueError, AttributeError):
                threads = 1
            data, config = start
            entry = _ENGINES[search_id] = (tov_sr._Engine(data, config, threads), threading.Lock())
        return entry


def _evaluate_shard(search_id, start, level, retained, shard, shards):
    """The shard's summary, and the CPU seconds of generating the level on
    this worker (0 when it was already generated) and of evaluating the
    shard."""
    engine, lock = _engine(search_id, start)
    with lock:
        began = time.process_time()
        engine.prepare(level, retained)
        prepared = time.process_time()
        message = engine.evaluate(shard, shards)
        return message, prepared - began, time.process_time() - prepared


def _complete_shard(search_id, start, level, retained, shard, shards, plan):
    engine, lock = _engine(search_id, start)
    with lock:
        began = time.process_time()
        engine.prepare(level, retained)
        message = engine.complete(shard, shards, plan)
        return message, 0.0, time.process_time() - began


def _hold(value):
    # The data and each level's retained formulas enter the cluster as the
    # result of a task rather than as scattered data: a task's result lost
    # with its worker is computed again from the task, scattered data is not.
    return value


def _forget(search_id):
    with _ENGINES_LOCK:
        _ENGINES.pop(search_id, None)


# --- Client side ---------------------------------------------------------------


class _Transport:
    """Carries one search's messages through a Dask client (called by the
    engine's driver on the client)."""

    def __init__(self, client, shards):
        self.client = client
        self.shards = shards
        self.search_id = uuid.uuid4().hex
        self.start_future = None
        self.retained = []
        self.placement = {}
        self.levels = []  # per level: shard CPU seconds and workers, bytes, wall seconds

    def start(self, data, config):
        self.start_future = self.client.submit(_hold, (data, config), pure=False)
        self.bytes_once = len(data) + len(config)

    def evaluate(self, level, retained, stop):
        began = time.perf_counter()
        sent = 0
        if retained is not None:
            self.retained.append(self.client.submit(_hold, retained, pure=False))
            sent = len(retained)
        futures = [self._submit(_evaluate_shard, level, shard) for shard in range(self.shards)]
        results = self._gather(futures, stop)
        if results is None:
            return None
        # The second round goes where each shard's scores already are.
        who = self.client.who_has(futures)
        self.placement = {i: list(who.get(f.key, ())) for i, f in enumerate(futures)}
        messages = [message for message, _, _ in results]
        self.levels.append(
            {
                "level": level,
                "generation": [generation for _, generation, _ in results],
                "cpu": [cpu for _, _, cpu in results],
                "workers": [(self.placement[i] or [None])[0] for i in range(len(futures))],
                "sent": sent,
                "received": sum(len(m) for m in messages),
                "began": began,
            }
        )
        return messages

    def resume(self, retained):
        # A search resumed from its checkpoint (which this client writes):
        # the restored levels' retained formulas, for workers to catch up.
        self.retained.extend(self.client.submit(_hold, r, pure=False) for r in retained)

    def complete(self, level, plan, stop):
        futures = [
            self._submit(
                _complete_shard,
                level,
                shard,
                plan,
                workers=self.placement.get(shard) or None,
                allow_other_workers=True,
            )
            for shard in range(self.shards)
        ]
        results = self._gather(futures, stop)
        if results is None:
            return None
        messages = [message for message, _, _ in results]
        stats = self.levels[-1]
        stats["cpu"] = [a + b for a, (_, _, b) in zip(stats["cpu"], results)]
        stats["sent"] += len(plan) * self.shards
        stats["received"] += sum(len(m) for m in messages)
        stats["seconds"] = time.perf_counter() - stats.pop("began")
        return messages

    def _submit(self, function, level, shard, *extra, **options):
        return self.client.submit(
            function,
            self.search_id,
            self.start_future,
            level,
            list(self.retained),
            shard,
            self.shards,
            *extra,
            key=f"tov-{function.__name__}-{self.search_id}-{level}-{shard}",
            pure=False,
            **options,
        )

    def _gather(self, futures, stop):
        from distributed import wait

        try:
            while True:
                try:
                    wait(futures, timeout=0.1)
                except TimeoutError:
                    if stop():
                        self.client.cancel(futures)
                        return None
                    continue
                return self.client.gather(futures)
        except BaseException:
            # Ctrl-C (or any failure) on the client: the cluster drops the
            # search's tasks and stays usable.
            self.client.cancel(futures)
            raise

    def finish(self):
        try:
            self.client.run(_forget, self.search_id)
        except Exception:  # noqa: BLE001 - cleanup must not hide the search's own outcome
            pass


class DaskSearcher:
    """A `tov_sr.Searcher` whose levels are evaluated on a Dask cluster.

    `searcher` gives the settings; `client` is a `distributed.Client`
    (`LocalCluster`, a scheduler address, dask-jobqueue, Kubernetes). Each
    level is split into `shards` contiguous shards of about equal work (by
    default twice the number of worker threads). Results, errors and warnings
    are those of `searcher` called directly, bit for bit (physical units,
    `x_units` and `y_units`, included: the cluster searches the dimensionless
    groups and the client rewrites the results); the progress report
    lines print on the client as the searcher's `verbose` says (there is no
    per-percent progress line). `stats` holds, after each search, one dict
    per level: `level`, the shards' CPU seconds (`cpu`, both rounds), the
    CPU seconds each shard's worker spent generating the level first
    (`generation`, 0 where it already had), the workers that evaluated them
    (`workers`), the bytes `sent` out and `received` back, and the wall
    `seconds` of its two rounds. The searcher's `checkpoint` is written
    by this client (the workers never touch it): a search resumed from it
    sends the restored levels to the workers, which catch up by generating
    them.
    """

    def __init__(self, searcher, client, *, shards=None):
        require("DaskSearcher", "distributed")
        if not isinstance(searcher, tov_sr.Searcher):
            raise TypeError(f"searcher must be a tov_sr.Searcher, not {type(searcher).__name__}")
        if shards is not None and (not isinstance(shards, int) or shards < 1):
            raise ValueError(f"shards must be a positive integer or None, not {shards!r}")
        self.searcher = searcher
        self.client = client
        self.shards = shards
        self.stats = []

    def __repr__(self):
        return f"DaskSearcher({self.searcher!r}, {self.client!r}, shards={self.shards!r})"

    def find_function(self, *args, **kwargs):
        """As `Searcher.find_function`, on the cluster."""
        return self._run(self.searcher.find_function, args, kwargs)

    def find_multivariate(self, *args, **kwargs):
        """As `Searcher.find_multivariate`, on the cluster."""
        return self._run(self.searcher.find_multivariate, args, kwargs)

    def fit(self, *args, **kwargs):
        """As `Searcher.fit`, on the cluster."""
        return self._run(self.searcher.fit, args, kwargs)

    def find_candidates(self, *args, **kwargs):
        """As `Searcher.find_candidates`, on the cluster."""
        return self._run(self.searcher.find_candidates, args, kwargs)

    def recognize_constant(self, *args, **kwargs):
        """As `Searcher.recognize_constant`, on the cluster."""
        return self._run(self.searcher.recognize_constant, args, kwargs)

    def check_workers(self):
        """Refuses a cluster whose workers would not reproduce this process's
        results: each worker's tov_sr version and math signature must equal
        the client's. Returns the number of worker threads."""
        expected = _identity()
        identities = self.client.run(_identity)
        if not identities:
            raise ClusterMismatchError("the cluster has no workers")
        for worker, identity in sorted(identities.items()):
            if tuple(identity) != expected:
                raise ClusterMismatchError(
                    f"worker {worker} runs tov_sr {identity[0]} with math signature "
                    f"{identity[1]}, the client tov_sr {expected[0]} with {expected[1]}; "
                    "its results could differ, so the search is refused"
                )
        threads = self.client.nthreads()
        return sum(threads.values())

    def _run(self, method, args, kwargs):
        threads = self.check_workers()
        transport = _Transport(self.client, self.shards or max(2, 2 * threads))
        try:
            return tov_sr._distributed_call(transport, method, args, kwargs)
        finally:
            self.stats = transport.levels
            transport.finish()
