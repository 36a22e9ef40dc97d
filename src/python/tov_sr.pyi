"""The main Python module entry point."""

import os
from collections.abc import Callable, Iterable, Mapping, Sequence
from fractions import Fraction
from typing import Any, Final, Literal, Protocol, SupportsFloat, SupportsIndex, Union, final

from _typeshed import structseq

__all__ = [
    "Searcher",
    "SearchResult",
    "TovDimensionError",
    "TovComplexityError",
    "TovRuntimeError",
    "TovTimeLimitWarning",
    "LevelReport",
    "math_signature",
    "TovCheckpointWarning",
]

class _ArrayLike(Protocol):
    """A NumPy array: float64 arrays are read directly, others as sequences."""

    def __array__(self) -> Any: ...

# Anything convertible by the float rule: floats, ints, bools, NumPy scalars,
# objects with __float__ or __index__.
_Float = Union[SupportsFloat, SupportsIndex]
# One value per sample (or per variable, for a single point).
_Vector = Union[Sequence[_Float], _ArrayLike]
# One row per sample, one column per variable; rows may differ in length.
# A pandas DataFrame, an astropy Table or QTable, or a pint or astropy
# quantity is read by its magnitudes, with its units and column names.
_Matrix = Union[Sequence[Sequence[_Float]], Sequence[_ArrayLike], _ArrayLike]

@final
class SearchResult:
    """A high-performance symbolic regression result.

    One formula found by a `Searcher`: its text, error and size, its fitted
    constants, evaluation on new inputs and renderings as LaTeX and Python.
    Results are made by the searches only (calling the class raises
    TypeError); they are read-only, pickle with every protocol and copy, and
    a restored result evaluates and renders bit for bit like the original.

    Formulas are evaluated in complex arithmetic; values are real parts. In
    the formula text, ``C`` marks a fitted constant, ``v_{j}`` input
    variable j, and ``2``, ``Pi``, ``E``, ``-3/5``, ``1/(2*Pi)`` or
    ``Sqrt(2)/2`` an exact constant (one token each).

    Examples
    --------
    >>> import tov_sr
    >>> searcher = tov_sr.Searcher(max_complexity=3, verbose=False)
    >>> result = searcher.find_function([1.0, 2.0, 3.0], [3.0, 6.0, 9.0])
    >>> result
    SearchResult(formula='Divide(v_{0}, C)', error=0.000000e0, complexity=3)
    """

    @property
    def formula(self) -> str:
        """The discovered mathematical formula as a string.

        Operators applied to their operands in prefix form, for example
        ``Plus(Times(C, Square(v_{0})), C)``; the text keeps ``v_{j}`` even
        when the variables are named.

        Examples
        --------
        >>> result.formula
        'Divide(v_{0}, C)'
        """

    @property
    def error(self) -> float:
        """The residual error (Mean Squared Error) of the formula.

        The search's objective: the (weighted) mean squared error of the
        real part, plus the elastic-net penalty on the constants when
        ``alpha`` > 0.

        Examples
        --------
        >>> result.error
        0.0
        """

    @property
    def complexity(self) -> int:
        """The structural complexity of the formula.

        The number of tokens: each variable, constant and operator counts
        one.

        Examples
        --------
        >>> result.complexity
        3
        """

    @property
    def parameters(self) -> tuple[float, ...]:
        """The fitted constants in formula order, at full precision.

        A tuple of floats, one per ``C`` of `formula` in the order they
        appear; the renderings round them to four decimals.

        Examples
        --------
        >>> result.parameters
        (0.3333333333333333,)
        """

    @property
    def dimensional_analysis(self) -> dict[str, Any] | None:
        """For a search with x_units and y_units, the dimensionless groups, the monomial M and the reduced formula f with y = M f(pi) (a dict); None otherwise.

        The dict holds ``groups`` (the groups' formulas), ``monomial`` (M's
        formula, None for M = 1), ``formula`` (the reduced formula, with
        ``pi_{i}`` standing for ``groups[i]``) and ``used_groups`` (the
        indices of the groups it uses). Formulas use the variables' names
        when they have them.

        Examples
        --------
        >>> result.dimensional_analysis is None
        True
        """

    @property
    def variable_names(self) -> tuple[str, ...] | None:
        """The names of the input variables the renderings use (a tuple of str), or None for v_{0}, v_{1}, ...

        Set by ``variable_names=`` or taken from a DataFrame's columns;
        `to_latex`, `to_python` and the record of a search with units
        render with them, `formula` and the representation keep ``v_{j}``.

        Examples
        --------
        >>> named = searcher.find_function([1.0, 2.0], [3.0, 6.0], variable_names="t")
        >>> named.variable_names, named.to_python()
        (('t',), '((t)/(0.3333))')
        """

    def to_latex(self) -> str:
        """Returns the formula in LaTeX format for academic reporting.

        Fitted constants to four decimals, exact constants as closed forms
        (``\\frac{1}{2\\pi}``); parentheses only where an operand would
        otherwise read as another formula.

        Returns
        -------
        str
            The LaTeX text, without dollar signs.

        Examples
        --------
        >>> result.to_latex()
        '\\\\frac{v_{0}}{0.3333}'
        """

    def to_python(self) -> str:
        """Returns the formula in Python/NumPy format for immediate use.

        An expression over ``v_{0}``, ``v_{1}``, ... (or the variables'
        names, as valid identifiers) with NumPy functions as ``np.``;
        fitted constants to four decimals.

        Returns
        -------
        str
            The expression.

        Examples
        --------
        >>> result.to_python()
        '((v_{0})/(0.3333))'
        """

    def _repr_latex_(self) -> str:
        """The LaTeX rendering between dollar signs, as Jupyter displays it.

        Returns
        -------
        str
            ``"$" + to_latex() + "$"``.
        """

    def eval(self, x: Union[_Float, _Vector]) -> float:
        """Evaluates the discovered formula for a given input (float or list/array).

        Parameters
        ----------
        x : float or sequence of float
            A float for a formula in one variable, or one value per
            variable (a list or a 1-D array).

        Returns
        -------
        float
            The real part of the value; NaN where the formula has none.

        Raises
        ------
        ValueError
            If `x` is neither a float nor a one-dimensional list or array.

        Examples
        --------
        >>> result.eval(10.0)
        30.0
        """

    def eval_batch(self, inputs: _Matrix) -> list[float]:
        """Evaluates the formula for a batch of inputs (list of lists or 2D array).

        Parameters
        ----------
        inputs : sequence of sequences of float, or 2-D array
            One row per point, one column per variable; a DataFrame or an
            astropy Table is read by its values.

        Returns
        -------
        list of float
            One value per row, NaN where the formula has none.

        Raises
        ------
        TypeError, ValueError
            If `inputs` cannot be read as rows of floats.

        Examples
        --------
        >>> result.eval_batch([[0.5], [1.5]])
        [1.5, 4.5]
        """

    def predict(self, inputs: _Matrix) -> list[float]:
        """Alias for eval_batch (Scikit-Learn style).

        Parameters
        ----------
        inputs : sequence of sequences of float, or 2-D array
            One row per point, one column per variable.

        Returns
        -------
        list of float
            One value per row, as `eval_batch` gives them.

        Raises
        ------
        TypeError, ValueError
            If `inputs` cannot be read as rows of floats.

        Examples
        --------
        >>> result.predict([[0.5], [1.5]])
        [1.5, 4.5]
        """

    def snap(
        self,
        inputs: _Matrix,
        ys: _Vector,
        *,
        tolerance: _Float | None = None,
        weights: _Vector | None = None,
    ) -> SearchResult:
        """The result with its fitted constants replaced by exact closed forms where the data allow.

        The constants are tried one at a time in formula order against 0
        and p/q times one of 1, pi, 1/pi, sqrt 2, sqrt 3, e, sqrt pi,
        1/sqrt pi, sqrt(2 pi), 1/sqrt(2 pi), pi^2, 1/e and ln 2 (|p| <= 100,
        1 <= q <= 100), simplest first; one is taken when it keeps the
        error on these data at most `tolerance` above the result's own, and
        the constants still free are refitted after each. A constant that
        nothing fits stays as it is, bit for bit.

        Parameters
        ----------
        inputs : sequence of sequences of float, or 2-D array
            The data, one row per sample.
        ys : sequence of float or 1-D array
            The targets.
        tolerance : float or None, optional
            How much the error may grow; None for the rounding floor of the
            targets (an exact law stays exact). On noisy data, 4 * error / n
            suits.
        weights : sequence of float or None, optional
            Per-sample weights, as in the search.

        Returns
        -------
        SearchResult
            A new result (this one when nothing snaps), with the same
            variable names.

        Raises
        ------
        ValueError
            If the formula has no finite error on these data, `tolerance`
            is negative or not finite, or the weights are unusable.
        TovDimensionError
            If `inputs` and `ys` differ in length.

        Examples
        --------
        >>> import math
        >>> xs = [0.5 * i for i in range(1, 9)]
        >>> ys = [2.0 * math.pi * x for x in xs]
        >>> circle = tov_sr.Searcher(max_complexity=5, verbose=False).find_function(xs, ys)
        >>> circle.formula
        'Times(C, v_{0})'
        >>> circle.snap([[x] for x in xs], ys).formula
        'Times(2*Pi, v_{0})'
        """

@final
class LevelReport(structseq[Any], tuple[int, int, int, float, float | None, str | None]):
    """What a search reports to its callback after each completed level.

    A named, read-only tuple of six fields.

    Examples
    --------
    >>> reports = []
    >>> quiet = tov_sr.Searcher(max_complexity=3, verbose=False)
    >>> _ = quiet.find_function([1.0, 2.0], [2.0, 4.0], callback=reports.append)
    >>> [r.level for r in reports]
    [1, 2, 3]
    """

    __match_args__: Final = (
        "level",
        "candidates",
        "retained",
        "seconds",
        "best_error",
        "best_formula",
    )
    @property
    def level(self) -> int:
        """The level completed: the size of its formulas (1 for the seeds)."""

    @property
    def candidates(self) -> int:
        """New candidates evaluated at this level."""

    @property
    def retained(self) -> int:
        """Formulas kept as building blocks for later levels."""

    @property
    def seconds(self) -> float:
        """Time the level took."""

    @property
    def best_error(self) -> float | None:
        """The lowest error found so far, or None."""

    @property
    def best_formula(self) -> str | None:
        """The formula with that error, or None."""


# Called after each completed level; a truthy return value stops the search.
_Callback = Callable[[LevelReport], object]
# A pint Unit or an astropy UnitBase, taken by the SI dimension its library
# gives it; neither library is needed to import tov_sr.
_ForeignUnit = Any
# A physical unit: a unit text ("kg*m/s^2", "km/h", "V/m", "1"), a mapping
# from unit symbols to int or Fraction exponents ({"m": 1, "s": -2}), or a
# pint or astropy unit.
_Unit = Union[str, Mapping[str, Union[int, Fraction]], _ForeignUnit]

@final
class Searcher:
    """The core TOV-SR search engine exposed to Python.

    A searcher holds one configuration, fixed at construction; every
    setting is a read-only property of the same name. The search builds
    formulas level by level, from size 1 up to `max_complexity` tokens,
    fits their constants and keeps the best of each level as building
    blocks for the next. The keyword-only settings change nothing when left
    at their defaults. All hardware threads are used; Ctrl-C interrupts a
    running search with KeyboardInterrupt.

    Parameters
    ----------
    max_complexity : int, optional
        The largest formula size searched, in tokens (a variable, a
        constant ``C`` and an operator each count one).
    complexity_penalty : float, optional
        Ranking score = error * (1 + complexity_penalty * complexity).
    beam_width : int, optional
        Formulas kept per level as building blocks for the next; a fifth of
        the beam goes to rare operator skeletons.
    alpha : float, optional
        Weight of the elastic-net penalty on the fitted constants:
        alpha * (l1_ratio * L1 + (1 - l1_ratio) * 0.5 * L2).
    l1_ratio : float, optional
        The L1 share of that penalty.
    operators : iterable of str or None, optional
        The operators the search may use, by name (``"Plus"``, ``"Sin"``,
        ...), in any order; None for all eighteen. The property is the
        tuple of names in catalogue order.
    time_limit : float or None, optional
        Seconds; when they pass, the level in progress is abandoned and the
        result is that of the search with `max_complexity` set to the last
        completed level, with a `TovTimeLimitWarning`.
    verbose : bool, optional
        False prints nothing at all.
    max_search_rows : int or None, optional
        With more rows than this, the levels are searched on this many rows
        spread over the data; the final formulas are refitted and scored on
        every row.
    linear_scaling : bool, optional
        Judge every candidate f after its best least-squares affine map
        a f + b; results come back as ``Plus(Times(C, f), C)``.
    target_error : float or None, optional
        The error at which a search stops early, instead of 1e-10.
    max_terms : int, optional
        1 to 64; above 1, the staircase also holds sums of up to this many
        retained formulas and products of powers of up to this many.
    term_pool : int, optional
        The number of formulas (1 to 1000) those sums and products are
        chosen from.
    constants : {"free", "named"}, optional
        ``"free"``: numbers in formulas are fitted constants ``C``;
        ``"named"``: they are the integers 1 to 5, pi and e, so every
        formula is a closed form with nothing to fit.
    meet_in_the_middle : bool, optional
        Also find laws about twice as long as the levels reach, built from
        two retained halves, by lookup instead of enumeration.
    checkpoint : str, os.PathLike or None, optional
        The file that keeps each completed level of a search. A search given
        the same file, data and settings continues after the last level the
        file holds and returns what the uninterrupted search returns; a file
        of a finished search gives its result at once. A file of other data,
        settings, format version or math signature, a damaged one, and a
        path a live search holds raise ValueError. A file that cannot be
        written warns once (TovCheckpointWarning) and the search goes on
        without it.

    Raises
    ------
    TypeError
        If an argument does not bind or does not convert (None is not a
        default for the positional settings).
    ValueError
        If a keyword-only setting is out of its range, or `operators` names
        an unknown operator or one twice.
    OverflowError
        If an integer setting is negative.

    Examples
    --------
    >>> import tov_sr
    >>> searcher = tov_sr.Searcher(max_complexity=5, verbose=False)
    >>> searcher.max_complexity, searcher.beam_width
    (5, 1000)
    >>> searcher.find_function([1.0, 2.0, 3.0, 4.0], [3.0, 5.0, 7.0, 9.0]).formula
    'Plus(C, Plus(v_{0}, v_{0}))'
    """

    def __new__(
        cls,
        max_complexity: SupportsIndex = 10,
        complexity_penalty: _Float = 0.1,
        beam_width: SupportsIndex = 1000,
        alpha: _Float = 0.0,
        l1_ratio: _Float = 0.5,
        *,
        operators: Iterable[str] | None = None,
        time_limit: _Float | None = None,
        verbose: bool = True,
        max_search_rows: SupportsIndex | None = None,
        linear_scaling: bool = False,
        target_error: _Float | None = None,
        max_terms: SupportsIndex = 1,
        term_pool: SupportsIndex = 150,
        constants: Literal["free", "named"] = "free",
        meet_in_the_middle: bool = False,
        checkpoint: str | os.PathLike[str] | None = None,
    ) -> Searcher: ...
    @property
    def max_complexity(self) -> int: ...
    @property
    def beam_width(self) -> int: ...
    @property
    def complexity_penalty(self) -> float: ...
    @property
    def alpha(self) -> float: ...
    @property
    def l1_ratio(self) -> float: ...
    @property
    def operators(self) -> tuple[str, ...]: ...
    @property
    def time_limit(self) -> float | None: ...
    @property
    def verbose(self) -> bool: ...
    @property
    def max_search_rows(self) -> int | None: ...
    @property
    def linear_scaling(self) -> bool: ...
    @property
    def target_error(self) -> float | None: ...
    @property
    def max_terms(self) -> int: ...
    @property
    def term_pool(self) -> int: ...
    @property
    def constants(self) -> Literal["free", "named"]: ...
    @property
    def meet_in_the_middle(self) -> bool: ...
    @property
    def checkpoint(self) -> str | None: ...
    def find_function(
        self,
        xs: _Vector,
        ys: _Vector,
        alpha: _Float | None = None,
        l1_ratio: _Float | None = None,
        *,
        weights: _Vector | None = None,
        callback: _Callback | None = None,
        x_units: _Unit | Sequence[_Unit] | None = None,
        y_units: _Unit | None = None,
        variable_names: str | Sequence[str] | None = None,
    ) -> SearchResult:
        """Finds a univariate function f(x) ≈ y.
        Supports both Python lists and NumPy arrays.

        Parameters
        ----------
        xs : sequence of float or 1-D array
            The input, one value per sample (a pint or astropy quantity is
            read by its magnitudes, with its unit).
        ys : sequence of float or 1-D array
            The targets, one per sample.
        alpha : float or None, optional
            Overrides the stored `alpha` for this call; None keeps it.
        l1_ratio : float or None, optional
            Overrides the stored `l1_ratio` for this call; None keeps it.
        weights : sequence of float or None, optional
            One non-negative, finite weight per target, not all zero: the
            error becomes sum w (f - y)^2 / sum w. A sample of weight 0 is
            left out entirely.
        callback : callable or None, optional
            Called after each completed level with a `LevelReport`, on this
            thread; a truthy return value stops the search there, and an
            exception it raises ends the search and propagates.
        x_units : unit or None, optional
            The unit of `xs` (a text such as ``"m/s"``, a mapping from unit
            symbols to exponents, or a pint or astropy unit); with `y_units`
            the search runs over dimensionless groups.
        y_units : unit or None, optional
            The unit of `ys`.
        variable_names : str or None, optional
            The name the result renders the variable with.

        Returns
        -------
        SearchResult
            The best formula in the one variable ``v_{0}``.

        Raises
        ------
        TovDimensionError
            If inputs and targets are empty or differ in length, or there
            are more than 255 input variables.
        TovComplexityError
            If no usable formula exists up to `max_complexity`, or a level
            would need more memory than is available.
        ValueError
            If the data hold a NaN or an infinity (named with its position),
            or the weights, units or names are unusable.
        TypeError
            If an argument does not bind or cannot be read as floats.

        Examples
        --------
        >>> searcher = tov_sr.Searcher(max_complexity=5, verbose=False)
        >>> searcher.find_function([1.0, 2.0, 3.0, 4.0], [3.0, 5.0, 7.0, 9.0]).formula
        'Plus(C, Plus(v_{0}, v_{0}))'
        """

    def find_multivariate(
        self,
        inputs: _Matrix,
        ys: _Vector,
        alpha: _Float | None = None,
        l1_ratio: _Float | None = None,
        *,
        weights: _Vector | None = None,
        callback: _Callback | None = None,
        x_units: Sequence[_Unit] | None = None,
        y_units: _Unit | None = None,
        variable_names: Sequence[str] | None = None,
    ) -> SearchResult:
        """Finds a multivariate function f(x0, x1, ...) ≈ y.
        Inputs should be a 2D array-like structure.

        Parameters
        ----------
        inputs : sequence of sequences of float, or 2-D array
            Samples by variables; a pandas DataFrame, an astropy Table or a
            quantity is read by its magnitudes, with its units and column
            names.
        ys : sequence of float or 1-D array
            The targets, one per sample.
        alpha : float or None, optional
            Overrides the stored `alpha` for this call; None keeps it.
        l1_ratio : float or None, optional
            Overrides the stored `l1_ratio` for this call; None keeps it.
        weights : sequence of float or None, optional
            One non-negative, finite weight per target, not all zero: the
            error becomes sum w (f - y)^2 / sum w. A sample of weight 0 is
            left out entirely.
        callback : callable or None, optional
            Called after each completed level with a `LevelReport`, on this
            thread; a truthy return value stops the search there, and an
            exception it raises ends the search and propagates.
        x_units : sequence of units or None, optional
            One unit per input variable (see `find_function`); with
            `y_units` the search runs over dimensionless groups.
        y_units : unit or None, optional
            The unit of `ys`.
        variable_names : sequence of str or None, optional
            One name per input column, which the results render with.

        Returns
        -------
        SearchResult
            The best formula in ``v_{0}``, ``v_{1}``, ...

        Raises
        ------
        TovDimensionError
            If inputs and targets are empty or differ in length, or there
            are more than 255 input variables.
        TovComplexityError
            If no usable formula exists up to `max_complexity`, or a level
            would need more memory than is available.
        ValueError
            If the data hold a NaN or an infinity (named with its position),
            or the weights, units or names are unusable.
        TypeError
            If an argument does not bind or cannot be read as floats.

        Examples
        --------
        >>> inputs = [[1.0, 2.0], [2.0, 3.0], [3.0, 5.0], [4.0, 7.0]]
        >>> searcher.find_multivariate(inputs, [2.0, 6.0, 15.0, 28.0]).formula
        'Times(v_{0}, v_{1})'
        """

    def fit(
        self,
        inputs: _Matrix,
        ys: _Vector,
        alpha: _Float | None = None,
        l1_ratio: _Float | None = None,
        *,
        weights: _Vector | None = None,
        callback: _Callback | None = None,
        x_units: Sequence[_Unit] | None = None,
        y_units: _Unit | None = None,
        variable_names: Sequence[str] | None = None,
    ) -> SearchResult:
        """Alias for find_multivariate (Scikit-Learn style).

        Runs exactly the search of `find_multivariate`.

        Parameters
        ----------
        inputs : sequence of sequences of float, or 2-D array
            Samples by variables; a pandas DataFrame, an astropy Table or a
            quantity is read by its magnitudes, with its units and column
            names.
        ys : sequence of float or 1-D array
            The targets, one per sample.
        alpha : float or None, optional
            Overrides the stored `alpha` for this call; None keeps it.
        l1_ratio : float or None, optional
            Overrides the stored `l1_ratio` for this call; None keeps it.
        weights : sequence of float or None, optional
            One non-negative, finite weight per target, not all zero: the
            error becomes sum w (f - y)^2 / sum w. A sample of weight 0 is
            left out entirely.
        callback : callable or None, optional
            Called after each completed level with a `LevelReport`, on this
            thread; a truthy return value stops the search there, and an
            exception it raises ends the search and propagates.
        x_units : sequence of units or None, optional
            One unit per input variable (see `find_function`); with
            `y_units` the search runs over dimensionless groups.
        y_units : unit or None, optional
            The unit of `ys`.
        variable_names : sequence of str or None, optional
            One name per input column, which the results render with.

        Returns
        -------
        SearchResult
            The best formula in ``v_{0}``, ``v_{1}``, ...

        Raises
        ------
        TovDimensionError
            If inputs and targets are empty or differ in length, or there
            are more than 255 input variables.
        TovComplexityError
            If no usable formula exists up to `max_complexity`, or a level
            would need more memory than is available.
        ValueError
            If the data hold a NaN or an infinity (named with its position),
            or the weights, units or names are unusable.
        TypeError
            If an argument does not bind or cannot be read as floats.

        Examples
        --------
        >>> searcher.fit(inputs, [2.0, 6.0, 15.0, 28.0]).formula
        'Times(v_{0}, v_{1})'
        """

    def find_candidates(
        self,
        inputs: _Matrix,
        ys: _Vector,
        alpha: _Float | None = None,
        l1_ratio: _Float | None = None,
        *,
        weights: _Vector | None = None,
        callback: _Callback | None = None,
        x_units: Sequence[_Unit] | None = None,
        y_units: _Unit | None = None,
        variable_names: Sequence[str] | None = None,
    ) -> list[SearchResult]:
        """Returns the Pareto-front of all candidate formulas found.

        Every level is searched, even when a short formula fits exactly;
        the list is the accuracy-versus-size staircase, each formula more
        accurate than every shorter one.

        Parameters
        ----------
        inputs : sequence of sequences of float, or 2-D array
            Samples by variables; a pandas DataFrame, an astropy Table or a
            quantity is read by its magnitudes, with its units and column
            names.
        ys : sequence of float or 1-D array
            The targets, one per sample.
        alpha : float or None, optional
            Overrides the stored `alpha` for this call; None keeps it.
        l1_ratio : float or None, optional
            Overrides the stored `l1_ratio` for this call; None keeps it.
        weights : sequence of float or None, optional
            One non-negative, finite weight per target, not all zero: the
            error becomes sum w (f - y)^2 / sum w. A sample of weight 0 is
            left out entirely.
        callback : callable or None, optional
            Called after each completed level with a `LevelReport`, on this
            thread; a truthy return value stops the search there, and an
            exception it raises ends the search and propagates.
        x_units : sequence of units or None, optional
            One unit per input variable (see `find_function`); with
            `y_units` the search runs over dimensionless groups.
        y_units : unit or None, optional
            The unit of `ys`.
        variable_names : sequence of str or None, optional
            One name per input column, which the results render with.

        Returns
        -------
        list of SearchResult
            The staircase, most complex and most accurate first.

        Raises
        ------
        TovDimensionError
            If inputs and targets are empty or differ in length, or there
            are more than 255 input variables.
        TovComplexityError
            If no usable formula exists up to `max_complexity`, or a level
            would need more memory than is available.
        ValueError
            If the data hold a NaN or an infinity (named with its position),
            or the weights, units or names are unusable.
        TypeError
            If an argument does not bind or cannot be read as floats.

        Examples
        --------
        >>> front = searcher.find_candidates([[1.0], [2.0], [3.0], [4.0]], [3.0, 5.0, 7.0, 9.0])
        >>> [r.formula for r in front]
        ['Plus(C, Plus(v_{0}, v_{0}))', 'Times(C, v_{0})', 'Neg(C)', 'v_{0}']
        """

    def recognize_constant(
        self,
        value: _Float,
        alpha: _Float | None = None,
        l1_ratio: _Float | None = None,
        *,
        callback: _Callback | None = None,
    ) -> SearchResult:
        """Identifies a closed-form expression for a scalar constant.

        With ``constants="named"`` the formulas are built from the integers
        1 to 5, pi and e with nothing to fit, and a UserWarning says when
        none matches the number to rounding.

        Parameters
        ----------
        value : float
            The number.
        alpha : float or None, optional
            Overrides the stored `alpha` for this call; None keeps it.
        l1_ratio : float or None, optional
            Overrides the stored `l1_ratio` for this call; None keeps it.
        callback : callable or None, optional
            Called after each completed level with a `LevelReport`; a truthy
            return value stops the search there.

        Returns
        -------
        SearchResult
            A closed form for `value`.

        Raises
        ------
        TovComplexityError
            If no formula is found up to `max_complexity`.
        ValueError
            If `value` is NaN or infinite.
        TypeError
            If `value` is not a number.

        Examples
        --------
        >>> named = tov_sr.Searcher(max_complexity=4, constants="named", verbose=False)
        >>> named.recognize_constant(6.283185307179586).formula
        'Times(2, Pi)'
        """

class TovDimensionError(Exception): ...
class TovComplexityError(Exception): ...
class TovRuntimeError(Exception): ...

# The installed distribution's version, from its metadata.
__version__: str

def math_signature() -> str:
    """A short string identifying this process's math library behaviour (the variant of the
    C math library in use, seen through fixed probe inputs, and the vector routines that
    passed their self-check). Two processes with the same signature give the same search
    results.

    Returns
    -------
    str
        The signature, for example
        ``"x86_64-glibc2.36-6d2590e0c757-v:exp,log,hypot"``.

    Examples
    --------
    >>> isinstance(tov_sr.math_signature(), str)
    True
    """

class TovTimeLimitWarning(UserWarning):
    """The time limit ended a search before its last level; the result is that of the levels completed.

    A UserWarning; its message names the level the result is that of.

    Examples
    --------
    >>> issubclass(tov_sr.TovTimeLimitWarning, UserWarning)
    True
    """

class TovCheckpointWarning(RuntimeWarning):
    """A checkpoint file cannot be written; the search goes on without checkpoints.

    Warned once per search, when the checkpoint's path cannot be written (an
    unwritable directory, a full disk); the search's result is unaffected.

    Examples
    --------
    >>> issubclass(tov_sr.TovCheckpointWarning, RuntimeWarning)
    True
    """
