"""Choosing one formula from a staircase by K-fold cross-validation.

Each entry's shape is refitted on K - 1 folds (its constants start at the
values the search found and are refined by least squares) and judged on the
fold left out; the entry with the lowest mean held-out squared error wins,
the simpler one among equal errors. Row i is in fold i mod K, so the choice
depends on the data alone. On measured data without a known law, where
the "bic" rule counts every token as a parameter and so prefers short
formulas, this is the rule to use for the sums of `max_terms`.

Formulas are evaluated here in NumPy's complex arithmetic, taking real parts
as the search does; the refits need SciPy.
"""

import numpy as np

from tov_sr_tools._operators import numpy_operators
from tov_sr_tools.export import _parse

_OPERATORS = numpy_operators(np)


def _predictor(formula):
    """A function (params, X) -> real parts of the formula's values."""
    tree = _parse(formula)

    def evaluate(params, X):
        position = iter(range(len(params)))

        def node(t):
            if t[0] == "C":
                return np.complex128(params[next(position)])
            if t[0] == "var":
                return X[:, t[1]].astype(np.complex128)
            return _OPERATORS[t[0]](*(node(child) for child in t[1:]))

        with np.errstate(all="ignore"):
            values = np.broadcast_to(node(tree), (X.shape[0],))
        return np.real(values)

    return evaluate


def _held_out_error(result, X, y, weights, folds):
    from scipy.optimize import least_squares

    predict = _predictor(result.formula)
    start = np.array(result.parameters, dtype=np.float64)
    fold_of = np.arange(len(y)) % folds
    total = 0.0
    for k in range(folds):
        train, test = fold_of != k, fold_of == k
        root_w = np.sqrt(weights[train])

        def residuals(p, train=train, root_w=root_w):
            r = root_w * (predict(p, X[train]) - y[train])
            return np.where(np.isfinite(r), r, 1e150)

        params = start
        if len(start) > 0:
            with np.errstate(all="ignore"):
                params = least_squares(residuals, start, max_nfev=50 * (len(start) + 1)).x
        error = weights[test] * (predict(params, X[test]) - y[test]) ** 2
        if not np.all(np.isfinite(error)):
            return np.inf
        total += float(np.sum(error))
    return total / float(np.sum(weights))


def select_cv(results, X, y, *, folds=5, sample_weight=None):
    """The entry of `results` (a staircase, in any order) with the lowest
    `folds`-fold cross-validated mean squared error on inputs `X` (samples
    × variables) and targets `y`, weighted by `sample_weight` when given."""
    X = np.asarray(X, dtype=np.float64)
    y = np.asarray(y, dtype=np.float64)
    if X.ndim != 2 or y.ndim != 1 or len(X) != len(y):
        raise ValueError("X must be samples × variables and y one target per sample")
    if not isinstance(folds, int) or folds < 2 or folds > len(y):
        raise ValueError(f"folds must be an integer from 2 to the number of samples, not {folds!r}")
    weights = np.ones(len(y)) if sample_weight is None else np.asarray(sample_weight, np.float64)
    entries = []
    for entry in sorted(results, key=lambda r: (r.complexity, r.error)):
        if not entries or entries[-1].complexity != entry.complexity:
            entries.append(entry)
    if not entries:
        raise ValueError("select_cv needs at least one result")
    scores = [_held_out_error(entry, X, y, weights, folds) for entry in entries]
    return entries[int(np.argmin(scores))]
