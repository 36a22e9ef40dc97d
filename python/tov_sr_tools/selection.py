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

Exact formulas differ only by rounding: each prediction of an exact
formula is off by a few units in the last place, so its error is some
(ε y)², ε = 2⁻⁵² the double precision's machine epsilon, and a longer exact
formula may happen to round less. Given the targets' scale (`target_scale`,
the mean of y²), every rule counts an error below the rounding floor
(8 ε)² × mean(y²) as equal to that floor, so of two exact formulas the
simpler wins. The bound: a formula whose predictions are all within 8 ε |y|
(8 to 16 units in the last place) of the targets is below the floor.
"""

import math

RULES = ("penalty", "score", "bic")

_TINY = 2.2250738585072014e-308
_EPSILON = 2.220446049250313e-16  # 2**-52


def _log(error):
    return math.log(max(error, _TINY))


def select(
    results,
    rule="penalty",
    *,
    complexity_penalty=0.1,
    tolerance=1.5,
    n_samples=None,
    target_scale=None,
):
    """The entry of `results` (a staircase, in any order) that `rule` picks.

    `complexity_penalty` serves the "penalty" rule, `tolerance` (at least 1)
    the "score" rule and `n_samples` (the number of samples fitted) the
    "bic" rule, for which it is required. `target_scale`, the mean of the
    squared targets (weighted as the search weighed its samples), makes
    every rule count errors below the rounding floor (8 ε)² × target_scale
    as equal to that floor; None compares the errors as they are.
    """
    if target_scale is not None and not (0.0 <= target_scale < math.inf):
        raise ValueError(
            f"target_scale must be a finite non-negative number or None, not {target_scale!r}"
        )
    entries = []
    # Of several entries of one size (merged staircases), the most accurate.
    for entry in sorted(results, key=lambda r: (r.complexity, r.error)):
        if not entries or entries[-1].complexity != entry.complexity:
            entries.append(entry)
    if not entries:
        raise ValueError("select needs at least one result")
    floor = None if target_scale is None else (8.0 * _EPSILON) ** 2 * target_scale

    def error(entry):
        return entry.error if floor is None else max(entry.error, floor)

    if rule == "penalty":
        return min(entries, key=lambda r: error(r) * (1.0 + complexity_penalty * r.complexity))
    if rule == "score":
        if not tolerance >= 1.0:
            raise ValueError(f"tolerance must be at least 1, not {tolerance!r}")
        lowest = min(error(r) for r in entries)
        best, best_score = entries[0], -math.inf
        previous = None
        for entry in entries:
            if previous is None:
                score = 0.0
            else:
                drop = _log(error(previous)) - _log(error(entry))
                score = drop / (entry.complexity - previous.complexity)
            previous = entry
            if error(entry) <= tolerance * lowest and score > best_score:
                best, best_score = entry, score
        return best
    if rule == "bic":
        if n_samples is None or n_samples < 1:
            raise ValueError("the 'bic' rule needs n_samples, the number of samples fitted")
        n = n_samples
        return min(entries, key=lambda r: n * _log(error(r)) + r.complexity * math.log(n))
    raise ValueError(f"unknown rule {rule!r}; use one of {', '.join(map(repr, RULES))}")
