"""Choosing one formula from a staircase of results.

A search's staircase (`Searcher.find_candidates`) lists formulas from the
most complex and most accurate to the simplest, each strictly more accurate
than the next. Which one to use depends on the data:

- "penalty": the lowest error × (1 + complexity_penalty × complexity), the
  ranking the search uses for its beam. Exact or nearly exact data: it keeps
  the most accurate formula unless a shorter one is almost as good.
- "score": the largest drop of ln(error) per added token, among the
  entries whose error is within `tolerance` times the lowest. Noisy data: the
  step where the error stops falling steeply is where the law ends and the
  fitting of noise begins.
- "bic": the lowest n ln(error) + k ln(n), k the number of tokens and n the
  number of samples (the Bayesian information criterion of a Gaussian
  model). Noisy data with many samples: each token must pay for itself.

An error of 0 counts as the smallest positive double, so exact formulas
compare without breaking the logarithms. Among equal values the simpler
entry wins.
"""

import math

RULES = ("penalty", "score", "bic")

_TINY = 2.2250738585072014e-308


def _log(error):
    return math.log(max(error, _TINY))


def select(results, rule="penalty", *, complexity_penalty=0.1, tolerance=1.5, n_samples=None):
    """The entry of `results` (a staircase, in any order) that `rule` picks.

    `complexity_penalty` serves the "penalty" rule, `tolerance` (at least 1)
    the "score" rule and `n_samples` (the number of samples fitted) the
    "bic" rule, for which it is required.
    """
    entries = []
    # Of several entries of one size (merged staircases), the most accurate.
    for entry in sorted(results, key=lambda r: (r.complexity, r.error)):
        if not entries or entries[-1].complexity != entry.complexity:
            entries.append(entry)
    if not entries:
        raise ValueError("select needs at least one result")
    if rule == "penalty":
        return min(entries, key=lambda r: r.error * (1.0 + complexity_penalty * r.complexity))
    if rule == "score":
        if not tolerance >= 1.0:
            raise ValueError(f"tolerance must be at least 1, not {tolerance!r}")
        lowest = min(r.error for r in entries)
        best, best_score = entries[0], -math.inf
        previous = None
        for entry in entries:
            if previous is None:
                score = 0.0
            else:
                drop = _log(previous.error) - _log(entry.error)
                score = drop / (entry.complexity - previous.complexity)
            previous = entry
            if entry.error <= tolerance * lowest and score > best_score:
                best, best_score = entry, score
        return best
    if rule == "bic":
        if n_samples is None or n_samples < 1:
            raise ValueError("the 'bic' rule needs n_samples, the number of samples fitted")
        n = n_samples
        return min(entries, key=lambda r: n * _log(r.error) + r.complexity * math.log(n))
    raise ValueError(f"unknown rule {rule!r}; use one of {', '.join(map(repr, RULES))}")
