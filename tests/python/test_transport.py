"""The distributed search's native entry point with a transport in this
process: any search method of a Searcher, its arguments passed on as given,
with the local search's results; anything else is refused."""

import math

import pytest
import tov_sr

XS = [0.2 + 0.13 * i for i in range(20)]
YS = [math.exp(-x) * 1.7 + x * x for x in XS]
ROWS = [[x, 1.0 / x] for x in XS]


class InProcessTransport:
    """Two shards, both on one worker engine of this process."""

    def start(self, data, config):
        self.engine = tov_sr._Engine(data, config, 1)
        self.retained = []
        return None

    def evaluate(self, level, retained, stop):
        if retained is not None:
            self.retained.append(retained)
        self.engine.prepare(level, self.retained)
        return [self.engine.evaluate(s, 2) for s in range(2)]

    def complete(self, level, plan, stop):
        return [self.engine.complete(s, 2, plan) for s in range(2)]


def observed(results):
    results = results if isinstance(results, list) else [results]
    return [(r.formula, r.error.hex(), r.parameters) for r in results]


CALLS = [
    ("find_function", (XS, YS), None),
    ("find_multivariate", (ROWS, YS), {"weights": [1.0 + (i % 3) for i in range(20)]}),
    ("fit", (ROWS,), {"ys": YS, "alpha": 0.01}),
    ("find_candidates", (ROWS, YS, 0.0, 0.5), {}),
    ("recognize_constant", (math.pi,), None),
]


@pytest.mark.parametrize("name, args, kwargs", CALLS)
def test_a_search_through_a_transport_equals_the_local_search(name, args, kwargs):
    searcher = tov_sr.Searcher(max_complexity=4, beam_width=30, verbose=False)
    method = getattr(searcher, name)
    local = method(*args, **(kwargs or {}))
    assert observed(tov_sr._distributed_call(InProcessTransport(), method, args, kwargs)) == (
        observed(local)
    )


@pytest.mark.parametrize(
    "method",
    [len, tov_sr.Searcher().__reduce__, tov_sr.Searcher.find_function, "find_function"],
)
def test_only_a_bound_search_method_is_called(method):
    with pytest.raises(TypeError) as info:
        tov_sr._distributed_call(InProcessTransport(), method, (XS, YS), None)
    assert str(info.value).startswith("method must be a bound search method of a Searcher, not ")
