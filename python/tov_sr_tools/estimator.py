"""TovRegressor: tov_sr's search as a scikit-learn regressor."""

import numpy as np
import tov_sr
from sklearn.base import BaseEstimator, RegressorMixin
from sklearn.utils.validation import _check_sample_weight, check_is_fitted, validate_data

from tov_sr_tools import _data
from tov_sr_tools.cross_validation import select_cv
from tov_sr_tools.selection import select


def _plain(data, columns):
    """`data` as plain numbers, its column names, and whether it carried
    units: a table or a quantity by its magnitudes (as a DataFrame keeping
    the column names where pandas is there), a plain DataFrame and anything
    else as it is, for scikit-learn to check."""
    parts = None if _data.plain_frame(data) else _data.split(data, columns)
    if parts is None:
        return data, None, False
    values, units, names = parts
    if names is not None:
        try:
            import pandas as pd

            values = pd.DataFrame(values, columns=names)
        except ImportError:
            pass
    return values, names, units is not None


class TovRegressor(RegressorMixin, BaseEstimator):
    """Symbolic regression as a scikit-learn estimator.

    `fit` runs `tov_sr.Searcher.find_candidates`, which searches every level
    up to `max_complexity` and returns the accuracy-versus-size staircase,
    then picks one entry of it with `tov_sr_tools.select` and the rule
    `selection`. The default rule, "penalty", keeps the entry of lowest
    error × (1 + complexity_penalty × complexity), the ranking the search
    itself uses; among equal scores the simplest wins. A larger
    `complexity_penalty` therefore favours shorter formulas. Errors below
    the rounding floor of the targets, (8 ε)² × mean(y²), count as equal
    (see `select`), so of two exact formulas the shorter is chosen.

    Parameters
    ----------
    max_complexity, complexity_penalty, beam_width, alpha, l1_ratio
        The settings of `tov_sr.Searcher`. The default size and beam are
        smaller than the Searcher's because every level is searched.
    operators, time_limit, max_search_rows, linear_scaling, max_terms, term_pool, constants
        The Searcher's keyword-only settings of the same names: the
        operators the search may use, a budget in seconds, the largest
        number of rows the levels are searched on, judging every
        candidate after its best affine map, the sums and products of
        up to `max_terms` retained formulas chosen from a pool of
        `term_pool`, and the leaves for numbers ("free" fitted constants
        or "named" ones: 1 to 5, pi, e).
    snap : bool
        Snap the chosen formula's fitted constants to exact closed forms on
        the training data (`tov_sr.SearchResult.snap` with its default
        tolerance and the sample weights), so 0.15915494309189535 becomes
        1/(2*Pi) where the data cannot tell them apart.
    selection : {"penalty", "score", "bic", "cv"}
        How `fit` picks a formula from the staircase (see `select`; "cv"
        is `select_cv`, 5-fold cross-validation, for measured data and the
        sums of `max_terms`).
    score_tolerance : float
        For the "score" rule: entries whose error is within this factor of
        the lowest are eligible.
    verbose : bool
        Let the search print its progress on standard output.
    progress : bool
        Show the levels as a progress bar (`tov_sr_tools.progress_bar`,
        which needs tqdm) with the best error and formula so far.
    meet_in_the_middle : bool
        The Searcher's setting of that name: after every level, formulas
        built from two retained formulas (or one under a unary root) found
        by lookup join the staircase.
    strategy : {"search", "auto"}
        "search": one search with these settings. "auto": several, each on
        the whole data, inside `time_limit`: the search as set, with units
        (when `fit` is given them) and without, with `max_terms=3` (when
        `max_terms` is 1), with meet in the middle (where the engine has
        it), and `tov_sr_tools.decompose`; half the time goes to
        `decompose`, the other half is shared equally by the searches. All
        their staircases and the decomposition's result are merged and
        `selection` picks one.
    checkpoint : str, os.PathLike or None
        The Searcher's setting of that name: the file that keeps each
        completed level, so that a fit cut off with its process continues
        where it was when called again with the same data and settings.
        Needs strategy="search".

    Attributes
    ----------
    result_ : tov_sr.SearchResult
        The chosen formula; `predict` evaluates it.
    candidates_ : list of tov_sr.SearchResult
        The whole staircase, most complex and most accurate first.
    n_features_in_ : int
        Number of input columns; the formula's variable v_{j} is column j.
    feature_names_in_ : ndarray of str
        Column names, when `X` was a DataFrame (or an astropy Table) with
        string column names.
    strategy_ : str
        With strategy="auto": which one gave the chosen formula ("search",
        "units", "sums", "meet in the middle" or "decompose").
    decomposition_ : tov_sr_tools.decomposition.Step
        With strategy="auto": the record of the decomposition's steps.

    Once fitted, `str(model)` is the chosen formula in the variables' names
    (see `tov_sr_tools.export.to_text`) when the variables have names, the
    estimator's `repr` otherwise.
    """

    def __init__(
        self,
        max_complexity=7,
        complexity_penalty=0.1,
        beam_width=200,
        alpha=0.0,
        l1_ratio=0.5,
        operators=None,
        time_limit=None,
        max_search_rows=None,
        linear_scaling=False,
        max_terms=1,
        term_pool=150,
        constants="free",
        snap=False,
        selection="penalty",
        score_tolerance=1.5,
        verbose=False,
        progress=False,
        *,
        meet_in_the_middle=False,
        strategy="search",
        checkpoint=None,
    ):
        self.max_complexity = max_complexity
        self.complexity_penalty = complexity_penalty
        self.beam_width = beam_width
        self.alpha = alpha
        self.l1_ratio = l1_ratio
        self.operators = operators
        self.time_limit = time_limit
        self.max_search_rows = max_search_rows
        self.linear_scaling = linear_scaling
        self.max_terms = max_terms
        self.term_pool = term_pool
        self.constants = constants
        self.snap = snap
        self.selection = selection
        self.score_tolerance = score_tolerance
        self.verbose = verbose
        self.progress = progress
        self.meet_in_the_middle = meet_in_the_middle
        self.strategy = strategy
        self.checkpoint = checkpoint

    def fit(self, X, y, sample_weight=None, *, x_units=None, y_units=None, variable_names=None):
        """Searches the staircase on `X` and `y` and picks its formula.

        Parameters
        ----------
        X : array-like, DataFrame, astropy Table or quantity
            Samples by columns. A pandas DataFrame (with pint-pandas columns
            or without), an astropy Table or QTable, or a pint or astropy
            quantity is searched by its magnitudes, its units and column
            names taken from it as `tov_sr.Searcher.find_candidates` takes
            them.
        y : array-like, pandas Series of pint dtype, or quantity
            The targets.
        sample_weight : array-like, optional
            One weight per sample.
        x_units, y_units : optional
            The physical units of `tov_sr.Searcher.find_candidates` (one
            unit per column of `X`, and the target's: str, mapping, or pint
            or astropy units): with them the search runs on the
            dimensionless groups of the columns and its formulas come back
            in the columns. Given, they win over the units `X` and `y`
            carry, which must then have the same dimensions.
        variable_names : sequence of str, optional
            The names the results render with; by default the columns of a
            DataFrame or Table, else none (v_{0}, v_{1}, ...).

        Returns
        -------
        self

        Raises
        ------
        ValueError
            For unusable units (see `tov_sr.Searcher.find_candidates`), or
            units that disagree with those the data carry.

        Examples
        --------
        >>> model = TovRegressor(max_complexity=3).fit(
        ...     frame[["d", "t"]], frame["v"])  # doctest: +SKIP
        >>> str(model)  # doctest: +SKIP
        'd/t*0.2778'
        """
        inputs, targets = X, y
        X, table_names, x_carried = _plain(X, True)
        y, _, y_carried = _plain(y, False)
        X, y = validate_data(self, X, y, dtype=np.float64, y_numeric=True)
        y = np.ascontiguousarray(y, dtype=np.float64)
        if variable_names is None:
            variable_names = getattr(self, "feature_names_in_", table_names)
        weights = None
        if sample_weight is not None:
            weights = np.ascontiguousarray(_check_sample_weight(sample_weight, X), np.float64)
        searcher = tov_sr.Searcher(
            max_complexity=self.max_complexity,
            complexity_penalty=self.complexity_penalty,
            beam_width=self.beam_width,
            alpha=self.alpha,
            l1_ratio=self.l1_ratio,
            operators=self.operators,
            time_limit=self.time_limit,
            max_search_rows=self.max_search_rows,
            linear_scaling=self.linear_scaling,
            max_terms=self.max_terms,
            term_pool=self.term_pool,
            constants=self.constants,
            verbose=bool(self.verbose),
            meet_in_the_middle=bool(self.meet_in_the_middle),
            **({} if self.checkpoint is None else {"checkpoint": self.checkpoint}),
        )
        units = {"x_units": x_units, "y_units": y_units}
        if variable_names is not None:
            units["variable_names"] = variable_names
        # Data that carry units go to the search as they are, which reads
        # their units (and the same magnitudes) from them.
        search_X = inputs if x_carried else X
        search_y = targets if y_carried else y
        if self.strategy not in ("search", "auto"):
            raise ValueError(f"strategy must be 'search' or 'auto', not {self.strategy!r}")
        if self.strategy == "auto" and self.checkpoint is not None:
            raise ValueError("checkpoint needs strategy='search': 'auto' runs several searches")
        if self.strategy == "auto":
            self.candidates_, self.decomposition_, origins = self._fit_auto(
                searcher, search_X, search_y, weights, x_units, y_units
            )
        elif self.progress:
            from tov_sr_tools.progress import progress_bar

            with progress_bar(total=searcher.max_complexity) as bar:
                self.candidates_ = searcher.find_candidates(
                    search_X, search_y, weights=weights, callback=bar, **units
                )
        else:
            self.candidates_ = searcher.find_candidates(
                search_X, search_y, weights=weights, **units
            )
        samples = len(y) if weights is None else int(np.count_nonzero(weights))
        if self.selection == "cv":
            self.result_ = select_cv(self.candidates_, X, y, folds=5, sample_weight=weights)
            if self.strategy == "auto":
                self.strategy_ = origins[id(self.result_)]
            return self
        # Weighted as the search weighs its errors; squares past the double
        # range leave the errors as they are.
        with np.errstate(over="ignore"):
            scale = float(np.average(np.square(y), weights=weights))
        self.result_ = select(
            self.candidates_,
            self.selection,
            complexity_penalty=searcher.complexity_penalty,
            tolerance=self.score_tolerance,
            n_samples=samples,
            target_scale=scale if np.isfinite(scale) else None,
        )
        if self.strategy == "auto":
            self.strategy_ = origins[id(self.result_)]
        if self.snap:
            self.result_ = self.result_.snap(X, y, weights=weights)
        return self

    def _fit_auto(self, searcher, X, y, weights, x_units, y_units):
        """The merged staircases of the strategies, the decomposition's
        record and each candidate's strategy by id."""
        from tov_sr_tools.decomposition import _settings, decompose

        positional, keywords = _settings(searcher)
        tries = [("search", {}, {})]
        units = {"x_units": x_units, "y_units": y_units}
        if x_units is not None or y_units is not None:
            tries = [("search", {}, {}), ("units", {}, units)]
        if self.max_terms == 1:
            tries.append(("sums", {"max_terms": 3}, {}))
        if hasattr(tov_sr.Searcher, "meet_in_the_middle"):
            tries.append(("meet in the middle", {"meet_in_the_middle": True}, {}))
        limit = self.time_limit
        share = None if limit is None else 0.5 * limit / len(tries)
        candidates, origins = [], {}
        for name, changes, given in tries:
            variant = tov_sr.Searcher(*positional, **{**keywords, **changes, "time_limit": share})
            for result in variant.find_candidates(X, y, weights=weights, **given):
                candidates.append(result)
                origins[id(result)] = name
        found = decompose(
            X, y, time_limit=None if limit is None else 0.5 * limit, searcher=searcher,
            weights=weights, **units,
        )  # fmt: skip
        candidates.append(found.result)
        origins[id(found.result)] = "decompose"
        return candidates, found.decomposition, origins

    def predict(self, X):
        """The chosen formula's values at the samples `X` (as `fit` takes
        them; the magnitudes of data with units are used as they are, so
        give them in the units fitted on)."""
        check_is_fitted(self)
        X = validate_data(self, _plain(X, True)[0], dtype=np.float64, reset=False)
        return np.asarray(self.result_.eval_batch(X), dtype=np.float64)

    def sympy(self):
        """The chosen formula as a SymPy expression (see `to_sympy`), with
        the variables' names (`variable_names`, or the DataFrame's column
        names when fitted on one)."""
        from tov_sr_tools.export import to_sympy

        check_is_fitted(self)
        if self.result_.variable_names is not None:
            return to_sympy(self.result_)
        return to_sympy(self.result_, getattr(self, "feature_names_in_", None))

    def __str__(self):
        result = getattr(self, "result_", None)
        if result is None or result.variable_names is None:
            return super().__str__()
        from tov_sr_tools.export import to_text

        return to_text(result)
