"""TovRegressor: tov_sr's search as a scikit-learn regressor."""

import contextlib

import numpy as np
import tov_sr
from sklearn.base import BaseEstimator, RegressorMixin
from sklearn.utils.validation import check_is_fitted, validate_data

from tov_sr_tools._output import silence_search_output


class TovRegressor(RegressorMixin, BaseEstimator):
    """Symbolic regression as a scikit-learn estimator.

    `fit` runs `tov_sr.Searcher.find_candidates`, which searches every level
    up to `max_complexity` and returns the accuracy-versus-size staircase,
    then keeps the staircase entry of lowest score
    error × (1 + complexity_penalty × complexity), the ranking the search
    itself uses; among equal scores the simplest wins. A larger
    `complexity_penalty` therefore favours shorter formulas.

    Parameters
    ----------
    max_complexity, complexity_penalty, beam_width, alpha, l1_ratio
        The settings of `tov_sr.Searcher`. The default size and beam are
        smaller than the Searcher's because every level is searched.
    verbose : bool
        Let the search print its progress on standard output; by default it
        is discarded (at the file-descriptor level, see
        `silence_search_output`).

    Attributes
    ----------
    result_ : tov_sr.SearchResult
        The chosen formula; `predict` evaluates it.
    candidates_ : list of tov_sr.SearchResult
        The whole staircase, most complex and most accurate first.
    n_features_in_ : int
        Number of input columns; the formula's variable v_{j} is column j.
    feature_names_in_ : ndarray of str
        Column names, when `X` was a DataFrame with string column names.
    """

    def __init__(
        self,
        max_complexity=7,
        complexity_penalty=0.1,
        beam_width=200,
        alpha=0.0,
        l1_ratio=0.5,
        verbose=False,
    ):
        self.max_complexity = max_complexity
        self.complexity_penalty = complexity_penalty
        self.beam_width = beam_width
        self.alpha = alpha
        self.l1_ratio = l1_ratio
        self.verbose = verbose

    def fit(self, X, y):
        X, y = validate_data(self, X, y, dtype=np.float64, y_numeric=True)
        y = np.ascontiguousarray(y, dtype=np.float64)
        searcher = tov_sr.Searcher(
            max_complexity=self.max_complexity,
            complexity_penalty=self.complexity_penalty,
            beam_width=self.beam_width,
            alpha=self.alpha,
            l1_ratio=self.l1_ratio,
        )
        output = contextlib.nullcontext() if self.verbose else silence_search_output()
        with output:
            candidates = searcher.find_candidates(X, y)
        penalty = searcher.complexity_penalty
        self.candidates_ = candidates
        self.result_ = min(
            reversed(candidates), key=lambda r: r.error * (1.0 + penalty * r.complexity)
        )
        return self

    def predict(self, X):
        check_is_fitted(self)
        X = validate_data(self, X, dtype=np.float64, reset=False)
        return np.asarray(self.result_.eval_batch(X), dtype=np.float64)

    def sympy(self):
        """The chosen formula as a SymPy expression (see `to_sympy`), with
        the DataFrame's column names as variable names when fitted on one."""
        from tov_sr_tools.export import to_sympy

        check_is_fitted(self)
        return to_sympy(self.result_, getattr(self, "feature_names_in_", None))
