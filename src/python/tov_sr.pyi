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
    """A high-performance symbolic regression result."""

    @property
    def formula(self) -> str:
        """The discovered mathematical formula as a string."""

    @property
    def error(self) -> float:
        """The residual error (Mean Squared Error) of the formula."""

    @property
    def complexity(self) -> int:
        """The structural complexity of the formula."""

    @property
    def parameters(self) -> tuple[float, ...]:
        """The fitted constants in formula order, at full precision."""

    @property
    def dimensional_analysis(self) -> dict[str, Any] | None:
        """For a search with x_units and y_units, the dimensionless groups, the monomial M and the reduced formula f with y = M f(pi) (a dict); None otherwise."""

    @property
    def variable_names(self) -> tuple[str, ...] | None:
        """The names of the input variables the renderings use (a tuple of str), or None for v_{0}, v_{1}, ..."""

    def to_latex(self) -> str:
        """Returns the formula in LaTeX format for academic reporting."""

    def to_python(self) -> str:
        """Returns the formula in Python/NumPy format for immediate use."""

    def _repr_latex_(self) -> str:
        """The LaTeX rendering between dollar signs, as Jupyter displays it."""

    def eval(self, x: Union[_Float, _Vector]) -> float:
        """Evaluates the discovered formula for a given input (float or list/array)."""

    def eval_batch(self, inputs: _Matrix) -> list[float]:
        """Evaluates the formula for a batch of inputs (list of lists or 2D array)."""

    def predict(self, inputs: _Matrix) -> list[float]:
        """Alias for eval_batch (Scikit-Learn style)."""

    def snap(
        self,
        inputs: _Matrix,
        ys: _Vector,
        *,
        tolerance: _Float | None = None,
        weights: _Vector | None = None,
    ) -> SearchResult:
        """The result with its fitted constants replaced by exact closed forms where the data allow."""

@final
class LevelReport(structseq[Any], tuple[int, int, int, float, float | None, str | None]):
    """What a search reports to its callback after each completed level."""

    __match_args__: Final = (
        "level",
        "candidates",
        "retained",
        "seconds",
        "best_error",
        "best_formula",
    )
    @property
    def level(self) -> int: ...
    @property
    def candidates(self) -> int: ...
    @property
    def retained(self) -> int: ...
    @property
    def seconds(self) -> float: ...
    @property
    def best_error(self) -> float | None: ...
    @property
    def best_formula(self) -> str | None: ...

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
    """The core TOV-SR search engine exposed to Python."""

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
    def checkpoint(self) -> str | None:
        """The checkpoint file of this searcher's searches, or None.

        Parameters
        ----------
        checkpoint : str, os.PathLike or None, default None
            The file that keeps each completed level of a search. A search
            given the same file, data and settings continues after the last
            level the file holds and returns what the uninterrupted search
            returns; a file of a finished search gives its result at once. A
            file of other data, settings, format version or math signature,
            a damaged one, and a path a live search holds raise ValueError.
            A file that cannot be written warns once (TovCheckpointWarning)
            and the search goes on without it.
        """
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
        Supports both Python lists and NumPy arrays."""

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
        Inputs should be a 2D array-like structure."""

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
        """Alias for find_multivariate (Scikit-Learn style)."""

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
        """Returns the Pareto-front of all candidate formulas found."""

    def recognize_constant(
        self,
        value: _Float,
        alpha: _Float | None = None,
        l1_ratio: _Float | None = None,
        *,
        callback: _Callback | None = None,
    ) -> SearchResult:
        """Identifies a closed-form expression for a scalar constant."""

class TovDimensionError(Exception): ...
class TovComplexityError(Exception): ...
class TovRuntimeError(Exception): ...

# The installed distribution's version, from its metadata.
__version__: str

def math_signature() -> str:
    """A short string identifying this process's math library behaviour (the variant of the
    C math library in use, seen through fixed probe inputs, and the vector routines that
    passed their self-check). Two processes with the same signature give the same search
    results."""

class TovTimeLimitWarning(UserWarning):
    """The time limit ended a search before its last level; the result is that of the levels completed."""

class TovCheckpointWarning(RuntimeWarning):
    """A checkpoint file cannot be written; the search goes on without checkpoints."""
