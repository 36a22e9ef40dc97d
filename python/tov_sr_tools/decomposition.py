"""Divide and conquer: a law whose structure splits it is searched in parts.

A smooth surrogate (a small neural network) is fitted to the data and asked
whether the law has a structure that makes the search smaller:

- a pair symmetry: f depends on x_i - x_j, x_i + x_j, x_i / x_j or x_i * x_j
  only, seen as f unchanged when the pair moves along the curve that keeps
  the combination fixed; the pair becomes one new variable and the targets
  stay the data's own;
- separability: T(f) = g(x_A) + h(x_B) for a split (A, B) of the variables
  and a target transform T (none, y², √y, 1/y), seen as
  T f(a, b) + T f(a', b') - T f(a, b') - T f(a', b) = 0 at pairs of points,
  or f = g(x_A) h(x_B), seen as f(a, b) f(a', b') = f(a, b') f(a', b); the smaller part is searched on targets read from the surrogate,
  the other on the data's targets with the first part taken out.

Each test's discrepancy is measured in units of the surrogate's own
held-out error, and a structure is accepted only below a fixed multiple of
it and only where the surrogate can see the structure broken (moving a
single variable, or the law's own spread, is many times that error). The
parts are decomposed again, down to one or two variables or until no test
accepts, and each is then searched by the ordinary searches. The parts are
recombined into one formula in the caller's variables whose constants are
refined jointly on the data, and the recombined formula competes with the
undecomposed search's result.

The method follows the published structure tests of S.-M. Udrescu and M.
Tegmark, "AI Feynman: a physics-inspired method for symbolic regression",
Science Advances 6 (2020) eaay2631, and S.-M. Udrescu et al., "AI Feynman
2.0", NeurIPS 2020; the code here is this project's own.

Formulas are built with the public pickle state of `tov_sr.SearchResult`
(its postfix tokens), so a recombined formula is an ordinary result of the
engine's own operators.
"""

import dataclasses
import math
import time
import warnings

import numpy as np
import tov_sr

from tov_sr_tools._extras import require
from tov_sr_tools.selection import select

__all__ = ["DecompositionResult", "Step", "decompose"]

# The surrogate and its tests. A test's statistic is its discrepancy over
# the surrogate's held-out RMS error; the thresholds were set on laws built
# with and without each structure (docs/guide/decomposition.md).
HIDDEN_LAYERS = (32, 32)
MAX_ITERATIONS = 1000
TRAIN_ROWS = 4000  # at most; more rows cost time and gain little accuracy
VALIDATION_ROWS = 1000  # at most; otherwise a fifth of the rows
MIN_ROWS = 100  # fewer rows: no surrogate, every test declines
MAX_RELATIVE_ERROR = 0.05  # held-out RMS error over the targets' spread above this: decline
# y of one sign whose 95th percentile of |y| is this many times its 5th:
# fitted as log |y|.
WIDE_RANGE = 100.0
# Two surrogate errors, independent, differ by √2 of one in RMS; the four of
# a separability test add up to 2. Errors at nearby points are correlated,
# so structures present measure below these.
PAIR_THRESHOLD = 1.5
SEPARABLE_THRESHOLD = 2.0
# A test can see a structure broken only if breaking it (moving one
# variable of the pair, or the law's spread over pairs of points) changes
# the surrogate by at least this many of its errors.
RESOLUTION = 10.0
TEST_POINTS = 400
REFERENCE_POINTS = 8  # fixed points a part's targets are averaged over
PART_ROWS = 2000  # rows of a part, whose targets are read from the surrogate

# A search stops at an error of this times mean(y²) on the data's own
# targets, and at (2 × their noise)² on targets read from the surrogate.
EXACT = 1e-14

# Budget: this fraction of time_limit goes to the undecomposed search; the
# rest is shared by the parts' searches in proportion to their variables.
UNDECOMPOSED_SHARE = 0.25
# A search whose share has run out still gets this long for its first levels.
MIN_SEARCH_SECONDS = 0.1

_EPSILON = 2.220446049250313e-16
# The clock of the budget; tests put their own in its place.
_clock = time.monotonic
# Token kinds and the format version of SearchResult's pickle state.
_VAR, _PARAM, _OP = 2, 3, 4
_STATE_VERSION = 1


@dataclasses.dataclass(frozen=True)
class Step:
    """One accepted step of a decomposition, with the steps below it.

    Attributes
    ----------
    kind : {"choice", "units", "pair", "separable", "search"}
        "choice": the root, whose children are the undecomposed search and
        the decompositions (with units: of the groups, then of the
        variables, unless the first is exact), and whose detail says which
        result was chosen;
        "units": the law reduced to dimensionless groups, y = M f(groups);
        "pair": two variables replaced by their combination; "separable":
        the law split into two parts; "search": a part searched directly.
    detail : str
        What was found, in words and formulas.
    variables : tuple of str
        The problem's variables as formulas in the caller's variables.
    statistic : float or None
        The accepting test's discrepancy over the surrogate's error.
    children : tuple of Step
        The problems this one was reduced to.
    formula : str or None
        The problem's solution in the caller's variables, before the joint
        refinement of the whole formula.
    """

    kind: str
    detail: str
    variables: tuple
    statistic: float | None = None
    children: tuple = ()
    formula: str | None = None

    def lines(self, depth=0):
        """The tree as indented text lines."""
        statistic = "" if self.statistic is None else f" (statistic {self.statistic:.2f})"
        text = ["  " * depth + f"{self.kind}: {self.detail}{statistic}"]
        if self.formula is not None:
            text.append("  " * depth + f"  -> {self.formula}")
        for child in self.children:
            text.extend(child.lines(depth + 1))
        return text

    def __str__(self):
        return "\n".join(self.lines())


class DecompositionResult:
    """The result of `decompose`: a `tov_sr.SearchResult` and its record.

    Every attribute and method of the SearchResult (`formula`, `error`,
    `complexity`, `parameters`, `eval_batch`, `predict`, `snap`, ...) is
    read through; `result` is the SearchResult itself and `decomposition`
    the tree of accepted steps (a `Step`). Pickles with both.
    """

    __slots__ = ("result", "decomposition")

    def __init__(self, result, decomposition):
        self.result = result
        self.decomposition = decomposition

    def __getattr__(self, name):
        if name in DecompositionResult.__slots__:
            raise AttributeError(name)
        return getattr(self.result, name)

    def __getstate__(self):
        return (self.result, self.decomposition)

    def __setstate__(self, state):
        self.result, self.decomposition = state

    def __repr__(self):
        return repr(self.result)

    def _repr_latex_(self):
        return self.result._repr_latex_()


# --- Formulas as postfix tokens ------------------------------------------------

_OPERATOR_IDS = {}


def _rebuild(tokens, error=0.0):
    return tov_sr.SearchResult._from_state((_STATE_VERSION, float(error), tuple(tokens)))


def _operator(name):
    """(op_id, arity) of the engine's operator `name` ("Plus", "Sqrt", ...)."""
    if not _OPERATOR_IDS:
        # The ids are read back from the engine: x0 op x1 (or op x0) is
        # rebuilt for each id and its formula names the operator.
        for op_id in range(256):
            for arity in (1, 2):
                tokens = [(_VAR, 0, k, 0, 0.0, 0.0) for k in range(arity)]
                tokens.append((_OP, arity, 0, op_id, 0.0, 0.0))
                try:
                    text = _rebuild(tokens).formula
                except ValueError:
                    continue
                _OPERATOR_IDS[text.partition("(")[0]] = (op_id, arity)
    return _OPERATOR_IDS[name]


def _var(j):
    return [(_VAR, 0, j, 0, 0.0, 0.0)]


def _const(value):
    return [(_PARAM, 0, 0, 0, float(value), 0.0)]


def _apply(name, *operands):
    op_id, arity = _operator(name)
    tokens = [token for operand in operands for token in operand]
    return tokens + [(_OP, arity, 0, op_id, 0.0, 0.0)]


def _substitute(tokens, definitions):
    """The formula with variable j replaced by the formula definitions[j]."""
    out = []
    for token in tokens:
        if token[0] == _VAR:
            out.extend(definitions[token[2]])
        else:
            out.append(token)
    return out


def _numbered(tokens):
    """The tokens with their parameters numbered left to right, as the
    engine's construction rules number them."""
    out, k = [], 0
    for token in tokens:
        if token[0] == _PARAM:
            token = (_PARAM, 0, k, 0, token[4], token[5])
            k += 1
        out.append(token)
    return out


def _tokens_of(result):
    return list(result.__reduce__()[1][0][2])


def _with_parameters(tokens, values):
    values = iter(values)
    return [(t[0], t[1], t[2], t[3], float(next(values)), 0.0) if t[0] == _PARAM else t
            for t in tokens]  # fmt: skip


def _evaluate(tokens, X):
    with np.errstate(all="ignore"):
        return np.asarray(_rebuild(_numbered(tokens)).eval_batch(X), dtype=np.float64)


def _formula(tokens):
    return _rebuild(_numbered(tokens)).formula


def _mse(predicted, y, weights):
    with np.errstate(all="ignore"):
        squared = (predicted - y) ** 2
    if not np.all(np.isfinite(squared)):
        return math.inf
    return float(np.average(squared, weights=weights))


def _refine(tokens, X, y, weights, max_evaluations=400):
    """The formula with its constants refined by least squares on (X, y),
    and its error; the given constants are kept where refinement does not
    lower the error."""
    tokens = _numbered(tokens)
    start = np.array([t[4] for t in tokens if t[0] == _PARAM], dtype=np.float64)
    error = _mse(_evaluate(tokens, X), y, weights)
    if len(start) == 0:
        return tokens, error
    from scipy.optimize import least_squares

    root = np.sqrt(weights / np.mean(weights)) if weights is not None else 1.0

    def residuals(p):
        r = root * (_evaluate(_with_parameters(tokens, p), X) - y)
        return np.where(np.isfinite(r), r, 1e150)

    with np.errstate(all="ignore"), warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        fitted = least_squares(residuals, start, x_scale="jac", max_nfev=max_evaluations).x
    refined = _with_parameters(tokens, fitted)
    refined_error = _mse(_evaluate(refined, X), y, weights)
    if refined_error < error:
        return refined, refined_error
    return tokens, error


# --- Searches and their budget -------------------------------------------------


class _Budget:
    """The time the parts' searches share: each gets the time left times its
    variables over the variables of the problems not yet searched."""

    def __init__(self, deadline, pending, clock):
        self.deadline = deadline
        self.pending = pending
        self.clock = clock

    def left(self):
        if self.deadline is None:
            return None
        return max(self.deadline - self.clock(), 0.0)

    def share(self, variables):
        left = self.left()
        if left is None:
            return None
        return left * variables / max(self.pending, variables)


def _settings(searcher):
    """The searcher's constructor arguments: (positional, keywords)."""
    constructor, positional = searcher.__reduce__()
    keywords = dict(getattr(constructor, "keywords", {}) or {})
    return tuple(positional), keywords


def _variants(searcher, variables):
    """The settings tried on a part: the searcher's own, then sums and
    products of terms, then meet in the middle with those sums, where the
    engine has them and the searcher does not already use them."""
    positional, keywords = _settings(searcher)
    variants = [keywords]
    if variables >= 2 and searcher.max_terms == 1:
        variants.append({**keywords, "max_terms": 3})
    if hasattr(tov_sr.Searcher, "meet_in_the_middle") and not keywords.get("meet_in_the_middle"):
        # Its sums under a root (y² = a² + b²) need the sums' own settings.
        variants.append({**variants[-1], "meet_in_the_middle": True})
    return positional, variants


def _run_search(searcher, X, y, weights, units):
    """One native search; kept apart so that tests can stand in for it."""
    return searcher.fit(X, y, weights=weights, **units)


def _search(searcher, X, y, weights, seconds, *, units=None, good_enough=0.0):
    """The best result of the variants' searches in `seconds` (None: each
    searcher's own limit), or None when none gave one. Stops at the first
    variant whose error is at most `good_enough`."""
    positional, variants = _variants(searcher, X.shape[1])
    scale = _scale(y, weights)
    results = []
    for k, keywords in enumerate(variants):
        limit = keywords.get("time_limit")
        if seconds is not None:
            limit = max(seconds / (len(variants) - k), MIN_SEARCH_SECONDS)
        changes = {"time_limit": limit, "verbose": False}
        if keywords.get("target_error") is None:
            # Under linear scaling the search's own exit (an error of 1e-10)
            # is not reached on large targets; a part is done at the
            # precision of its targets.
            changes["target_error"] = max(good_enough, EXACT * (scale or 0.0)) or None
        variant = tov_sr.Searcher(*positional, **{**keywords, **changes})
        started = _clock()
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", tov_sr.TovTimeLimitWarning)
                results.append(_run_search(variant, X, y, weights, units or {}))
        except tov_sr.TovComplexityError:
            pass
        if seconds is not None:
            seconds = max(seconds - (_clock() - started), 0.0)
        if results and results[-1].error <= max(good_enough, _floor(scale)):
            break
    if not results:
        return None
    return select(results, "penalty", complexity_penalty=searcher.complexity_penalty,
                  target_scale=scale)  # fmt: skip


def _scale(y, weights):
    with np.errstate(over="ignore"):
        scale = float(np.average(np.square(y), weights=weights))
    return scale if math.isfinite(scale) else None


def _floor(scale):
    return 0.0 if scale is None else (8.0 * _EPSILON) ** 2 * scale


# --- The surrogate -------------------------------------------------------------


class _Surrogate:
    """A neural network fitted to (X, y), or to log |y| where y keeps one sign
    over orders of magnitude, with its held-out RMS errors in both spaces.

    `raw` is the network's own space (y or log |y|), where the pair tests
    and, for log |y|, the product test look; calling the surrogate gives y.
    """

    def __init__(self, X, y, rng, random_state):
        neural = require("decompose", "sklearn.neural_network")
        threadpoolctl = require("decompose", "threadpoolctl")
        order = rng.permutation(len(y))
        held = min(VALIDATION_ROWS, len(y) // 5)
        validation, train = order[:held], order[held : held + TRAIN_ROWS]
        magnitude = np.abs(y)
        # A law over orders of magnitude is smooth in log |y|, where a
        # network's error is relative.
        low, high = np.quantile(magnitude, [0.05, 0.95])
        self.log = _one_sign(y) and high >= WIDE_RANGE * low
        self.sign = -1.0 if y[0] < 0 else 1.0
        target = np.log(magnitude) if self.log else y
        self.mean, self.std = X[train].mean(0), X[train].std(0)
        self.std[self.std == 0.0] = 1.0
        self.t_mean, self.t_std = float(target[train].mean()), float(target[train].std()) or 1.0
        self.network = neural.MLPRegressor(
            hidden_layer_sizes=HIDDEN_LAYERS, activation="tanh", solver="lbfgs", alpha=0.0,
            max_iter=MAX_ITERATIONS, max_fun=4 * MAX_ITERATIONS, tol=0.0,
            random_state=random_state,
        )  # fmt: skip
        # One thread for the linear algebra: the fit is then the same
        # whatever the machine's thread count.
        with threadpoolctl.threadpool_limits(1), warnings.catch_warnings():
            warnings.simplefilter("ignore")
            self.network.fit((X[train] - self.mean) / self.std,
                             (target[train] - self.t_mean) / self.t_std)  # fmt: skip
        self.validation = (X[validation], y[validation])
        self.raw_spread = float(np.std(target))
        self.raw_error = float(np.sqrt(np.mean((self.raw(X[validation]) - target[validation]) ** 2)))
        with np.errstate(all="ignore"):
            self.error = float(np.sqrt(np.mean((self(X[validation]) - y[validation]) ** 2)))

    def raw(self, X):
        threadpoolctl = require("decompose", "threadpoolctl")
        with threadpoolctl.threadpool_limits(1):
            z = self.network.predict((X - self.mean) / self.std)
        return z * self.t_std + self.t_mean

    def to_values(self, raw):
        if not self.log:
            return raw
        with np.errstate(all="ignore"):
            return self.sign * np.exp(raw)

    def __call__(self, X):
        return self.to_values(self.raw(X))

    def raw_noise(self, noise):
        """Targets' noise `noise` (an RMS) in the network's space: in log |y|,
        as a relative error, the noise over the targets' RMS."""
        if not self.log:
            return noise
        return noise / float(np.sqrt(np.mean(self.validation[1] ** 2)))


# --- Structure tests -----------------------------------------------------------

_PAIRS = {
    # name: (combination, the move keeping it fixed, additive move?)
    "difference": ("Subtract", +1, True),
    "sum": ("Plus", -1, True),
    "ratio": ("Divide", +1, False),
    "product": ("Times", -1, False),
}


def _pair_tests(surrogate, X, rng, noise):
    """Accepted pair symmetries as (statistic, i, j, kind), best first, no
    variable in two of them."""
    n, d = X.shape
    points = X[rng.integers(0, n, TEST_POINTS)]
    u = rng.uniform(-1.0, 1.0, TEST_POINTS)
    low, high = X.min(0), X.max(0)
    spread = X.std(0)
    one_sign = np.all(X > 0, axis=0) | np.all(X < 0, axis=0)
    log_spread = np.array([np.log(np.abs(X[:, j])).std() if one_sign[j] else 0.0
                           for j in range(d)])  # fmt: skip
    error = math.hypot(surrogate.raw_error, surrogate.raw_noise(noise))
    batches, tests = [points], []
    for i in range(d):
        for j in range(i + 1, d):
            for kind, (_, direction, additive) in _PAIRS.items():
                moved, single = points.copy(), points.copy()
                if additive:
                    step = 0.5 * min(spread[i], spread[j]) * u
                    moved[:, i] += step
                    moved[:, j] += direction * step
                    single[:, i] += step
                else:
                    if not (one_sign[i] and one_sign[j]):
                        continue
                    factor = np.exp(0.5 * min(log_spread[i], log_spread[j]) * u)
                    moved[:, i] *= factor
                    moved[:, j] *= factor**direction
                    single[:, i] *= factor
                inside = np.all((moved >= low) & (moved <= high), axis=1) & np.all(
                    (single >= low) & (single <= high), axis=1
                )
                if np.count_nonzero(inside) < TEST_POINTS // 8:
                    continue
                tests.append((i, j, kind, inside, len(batches)))
                batches.extend([moved, single])
    values = surrogate.raw(np.concatenate(batches))
    values = values.reshape(len(batches), TEST_POINTS)
    accepted = []
    for i, j, kind, inside, at in tests:
        base = values[0][inside]
        symmetric = np.sqrt(np.mean((values[at][inside] - base) ** 2))
        broken = np.sqrt(np.mean((values[at + 1][inside] - base) ** 2))
        statistic = symmetric / error
        if statistic <= PAIR_THRESHOLD and broken >= RESOLUTION * error:
            accepted.append((statistic, i, j, kind))
    accepted.sort()
    chosen, used = [], set()
    for statistic, i, j, kind in accepted:
        if i not in used and j not in used:
            chosen.append((statistic, i, j, kind))
            used.update((i, j))
    return chosen


def _one_sign(y):
    return bool(np.all(y > 0) or np.all(y < 0))


# name: (the transform T, whether targets y allow it); tried in this order.
# "product" is f = g h, tested as f(a, b) f(a', b') = f(a, b') f(a', b).
_TRANSFORMS = {
    "none": (lambda v: v, lambda y: True),
    "product": (lambda v: v, lambda y: True),
    "square": (np.square, _one_sign),
    "sqrt": (np.sqrt, lambda y: bool(np.all(y > 0))),
    "inverse": (lambda v: 1.0 / v, lambda y: bool(np.all(y != 0))),
}


def _splits(d):
    """Every split of range(d) into two non-empty parts, once each."""
    splits = []
    for mask in range(1, 2 ** (d - 1)):
        part = tuple(j for j in range(d) if mask >> j & 1)
        rest = tuple(j for j in range(d) if not mask >> j & 1)
        splits.append((part, rest))
    return splits


def _separability_test(surrogate, X, y, rng, noise):
    """The first accepted (transform, statistic, part, rest), or None."""
    n, d = X.shape
    p = X[rng.integers(0, n, TEST_POINTS)]
    q = X[rng.integers(0, n, TEST_POINTS)]
    splits = _splits(d)
    mixed = []
    for part, rest in splits:
        a_b_ = p.copy()
        a_b_[:, rest] = q[:, rest]
        a_b = q.copy()
        a_b[:, rest] = p[:, rest]
        mixed.extend([a_b_, a_b])
    raw = surrogate.raw(np.concatenate([p, q, *mixed])).reshape(-1, TEST_POINTS)
    values = surrogate.to_values(raw)
    held_x, held_y = surrogate.validation
    held = surrogate(held_x)
    for name, (forward, usable) in _TRANSFORMS.items():
        if not usable(y):
            continue
        in_log = name == "product" and surrogate.log
        with np.errstate(all="ignore"):
            if in_log:
                # f = g h is log |f| = log |g| + log |h|: a sum in the
                # network's own space.
                f = raw
                error = surrogate.raw_error
            else:
                f = forward(values)
                error = np.sqrt(np.mean((forward(held) - forward(held_y)) ** 2))
        if not np.isfinite(error):
            continue
        if in_log:
            error = math.hypot(error, surrogate.raw_noise(noise))
        else:
            error = math.hypot(error, _transformed_noise(forward, held_y, noise))
        if not np.all(np.isfinite(f)) or error == 0.0:
            continue
        spread = np.sqrt(np.mean((f[0] - f[1]) ** 2))
        if spread < RESOLUTION * error:
            continue
        # Of the accepted splits, the most balanced, then the lowest statistic.
        accepted = []
        for k, (part, rest) in enumerate(splits):
            if name == "product" and not in_log:
                # Each product's error is |f| e to first order; scaled so
                # that independent errors give 2, as for a sum.
                mixed_pair = f[2 + 2 * k] * f[3 + 2 * k]
                cross = f[0] * f[1] - mixed_pair
                size = np.sqrt(f[0] ** 2 + f[1] ** 2 + f[2 + 2 * k] ** 2 + f[3 + 2 * k] ** 2)
                statistic = float(2.0 * np.sqrt(np.mean((cross / size) ** 2)) / error)
            else:
                cross = f[0] + f[1] - f[2 + 2 * k] - f[3 + 2 * k]
                statistic = float(np.sqrt(np.mean(cross**2)) / error)
            if statistic <= SEPARABLE_THRESHOLD:
                accepted.append((-min(len(part), len(rest)), statistic, k))
        if accepted:
            _, statistic, k = min(accepted)
            return (name, statistic, *splits[k])
    return None


def _transformed_noise(forward, y, noise):
    """The targets' own noise carried through the transform, to first order."""
    if noise == 0.0:
        return 0.0
    with np.errstate(all="ignore"):
        slope = (forward(y + noise) - forward(y - noise)) / 2.0
    slope = slope[np.isfinite(slope)]
    return float(np.sqrt(np.mean(slope**2))) if len(slope) else 0.0


# --- The recursion -------------------------------------------------------------


class _Problem:
    """Inputs, targets, the inputs' definitions in the caller's variables,
    the caller's inputs of the same rows and the targets' noise (0 for the
    data's own targets)."""

    def __init__(self, X, y, weights, definitions, caller_X, noise=0.0):
        self.X, self.y, self.weights = X, y, weights
        self.definitions = definitions
        self.caller_X = caller_X
        self.noise = noise

    @property
    def variables(self):
        return tuple(_formula(definition) for definition in self.definitions)


class _Context:
    def __init__(self, searcher, budget, rng, random_state):
        self.searcher = searcher
        self.budget = budget
        self.rng = rng
        self.random_state = random_state


def _solve(problem, context):
    """(tokens in the caller's variables, Step) of a problem."""
    d = problem.X.shape[1]
    if d >= 2 and len(problem.y) >= MIN_ROWS and _has_time(context):
        surrogate = _Surrogate(problem.X, problem.y, context.rng, context.random_state)
        if 0.0 < surrogate.raw_spread and (
            surrogate.raw_error <= MAX_RELATIVE_ERROR * surrogate.raw_spread
        ):
            pairs = _pair_tests(surrogate, problem.X, context.rng, problem.noise)
            if pairs:
                return _reduce_pairs(problem, pairs, context)
            split = _separability_test(surrogate, problem.X, problem.y, context.rng, problem.noise)
            if split is not None:
                return _split(problem, surrogate, split, context)
    return _leaf(problem, context)


def _has_time(context):
    left = context.budget.left()
    return left is None or left > 0.0


def _leaf(problem, context):
    d = problem.X.shape[1]
    seconds = context.budget.share(d)
    good_enough = (2.0 * problem.noise) ** 2
    result = _search(context.searcher, problem.X, problem.y, problem.weights, seconds,
                     good_enough=good_enough)  # fmt: skip
    context.budget.pending -= d
    if result is None:
        # No search could run on this part: a constant stands for it.
        tokens = _const(float(np.average(problem.y, weights=problem.weights)))
        detail = "no search ran; its mean stands for it"
    else:
        tokens = _tokens_of(result)
        detail = f"searched: {result.formula}"
    tokens = _substitute(tokens, problem.definitions)
    step = Step("search", detail, problem.variables, formula=_formula(tokens))
    return tokens, step


def _reduce_pairs(problem, pairs, context):
    d = problem.X.shape[1]
    replaced = {}
    for _, i, j, kind in pairs:
        replaced[i] = (j, kind)
    columns, definitions, details = [], [], []
    for k in range(d):
        if k in replaced:
            j, kind = replaced[k]
            name = _PAIRS[kind][0]
            definitions.append(_apply(name, problem.definitions[k], problem.definitions[j]))
            columns.append(_pair_column(kind, problem.X[:, k], problem.X[:, j]))
            details.append(f"{kind} {_formula(definitions[-1])}")
        elif not any(k == j for j, _ in replaced.values()):
            definitions.append(problem.definitions[k])
            columns.append(problem.X[:, k])
    context.budget.pending -= len(pairs)
    reduced = _Problem(np.column_stack(columns), problem.y, problem.weights, definitions,
                       problem.caller_X, problem.noise)  # fmt: skip
    tokens, child = _solve(reduced, context)
    detail = "depends only on " + ", ".join(details)
    statistic = max(p[0] for p in pairs)
    step = Step("pair", detail, problem.variables, statistic, (child,), _formula(tokens))
    return tokens, step


def _pair_column(kind, a, b):
    with np.errstate(all="ignore"):
        return {"difference": a - b, "sum": a + b, "ratio": a / b, "product": a * b}[kind]


def _split(problem, surrogate, split, context):
    name, statistic, part, rest = split
    forward = _TRANSFORMS[name][0]
    X, y, rng = problem.X, problem.y, context.rng
    # Both parts are read from the surrogate: taking the first part out of
    # the data's targets instead would leave its constants' errors, a
    # function of the first part's variables, in the second part's targets.
    multiplicative = name == "product"
    rows = rng.permutation(len(y))[:PART_ROWS]
    parts = []
    for variables in (part, rest):
        targets = _read_part(surrogate, X, rows, variables, forward, multiplicative, rng)
        noise = _part_noise(surrogate, problem, forward, multiplicative, targets)
        sub = _Problem(X[rows][:, variables], targets, None,
                       [problem.definitions[j] for j in variables], problem.caller_X[rows],
                       noise)  # fmt: skip
        parts.append((sub, *_solve(sub, context)))
    (first, first_tokens, first_step), (second, second_tokens, second_step) = parts
    tokens = _combine(name, first_tokens, second_tokens, y)
    tokens, _ = _refine(tokens, problem.caller_X, y, problem.weights)
    words = {"none": "f = g + h", "product": "f = g * h", "square": "f^2 = g + h",
             "sqrt": "sqrt(f) = g + h", "inverse": "1/f = g + h"}  # fmt: skip
    first_names = ", ".join(first.variables)
    second_names = ", ".join(second.variables)
    detail = f"{words[name]} with g of ({first_names}), h of ({second_names})"
    step = Step("separable", detail, problem.variables, statistic, (first_step, second_step),
                _formula(tokens))  # fmt: skip
    return tokens, step


def _part_noise(surrogate, problem, forward, multiplicative, targets):
    """The error of a part's targets read from the surrogate. A factor's
    scale is arbitrary, so its error is the surrogate's relative error times
    the factor's size; a term's is the surrogate's error in the transformed
    targets."""
    held_x, held_y = surrogate.validation
    with np.errstate(all="ignore"):
        if multiplicative:
            if surrogate.log:
                relative = math.hypot(surrogate.raw_error, surrogate.raw_noise(problem.noise))
            else:
                size = float(np.sqrt(np.mean(held_y**2)))
                relative = math.hypot(surrogate.error, problem.noise) / size
            return relative * float(np.sqrt(np.mean(targets**2)))
        error = float(np.sqrt(np.mean((forward(surrogate(held_x)) - forward(held_y)) ** 2)))
    return math.hypot(error, _transformed_noise(forward, held_y, problem.noise))


def _read_part(surrogate, X, rows, part, forward, multiplicative, rng):
    """Targets of the part `part` at the given rows: the surrogate with the
    other variables fixed at reference rows, averaged over them. For a
    product each reference's reading is turned to a common sign first, so
    that readings of opposite signs do not cancel."""
    references = X[rng.integers(0, len(X), REFERENCE_POINTS)]
    grid = np.repeat(references, len(rows), axis=0)
    grid[:, part] = np.tile(X[rows][:, part], (REFERENCE_POINTS, 1))
    raw = surrogate.raw(grid).reshape(REFERENCE_POINTS, len(rows))
    read = surrogate.to_values(raw)
    with np.errstate(all="ignore"):
        if multiplicative and surrogate.log:
            return surrogate.to_values(raw.mean(0))
        if multiplicative:
            signs = np.where(read.mean(1) < 0, -1.0, 1.0)
            return (signs[:, None] * read).mean(0)
        return forward(read).mean(0)


def _combine(name, first, second, y):
    if name == "none":
        return _apply("Plus", first, second)
    if name == "product":
        return _apply("Times", first, second)
    total = _apply("Plus", first, second)
    if name == "square":
        root = _apply("Sqrt", total)
        return root if np.all(y > 0) else _apply("Neg", root)
    if name == "sqrt":
        return _apply("Square", total)
    return _apply("Inv", total)


# --- The entry point -----------------------------------------------------------

def _checked(X, y, weights, time_limit, searcher, random_state):
    X = np.array(X, dtype=np.float64, copy=True)
    if X.ndim != 2 or X.shape[0] == 0 or X.shape[1] == 0:
        raise ValueError("X must be a non-empty 2-D array: one row per sample, one column per variable")
    y = np.array(y, dtype=np.float64, copy=True)
    if y.ndim != 1 or len(y) != len(X):
        raise ValueError(f"y must hold one target per row of X ({len(X)}), not shape {y.shape}")
    if not (np.all(np.isfinite(X)) and np.all(np.isfinite(y))):
        raise ValueError("X and y must be finite")
    if weights is not None:
        weights = np.array(weights, dtype=np.float64, copy=True)
        if weights.shape != y.shape or not np.all(np.isfinite(weights)) or np.any(weights < 0):
            raise ValueError("weights must hold one finite non-negative weight per row of X")
        if not np.any(weights > 0):
            raise ValueError("weights must not all be zero")
    if time_limit is not None:
        if isinstance(time_limit, bool) or not isinstance(time_limit, (int, float)):
            raise TypeError(f"time_limit must be a number of seconds or None, not {time_limit!r}")
        if not (0 < time_limit < math.inf):
            raise ValueError(f"time_limit must be positive and finite, not {time_limit!r}")
    if searcher is not None and not isinstance(searcher, tov_sr.Searcher):
        raise TypeError(f"searcher must be a tov_sr.Searcher or None, not {type(searcher).__name__}")
    if isinstance(random_state, bool) or not isinstance(random_state, int) or random_state < 0:
        raise ValueError(f"random_state must be a non-negative int, not {random_state!r}")
    return X, y, weights


def decompose(
    X,
    y,
    *,
    time_limit=60,
    searcher=None,
    x_units=None,
    y_units=None,
    weights=None,
    random_state=0,
):
    """Searches a law in parts where a surrogate shows it splits.

    First the undecomposed search (with units, the reduction to
    dimensionless groups, y = M f(groups), whose f is then decomposed, and
    then, in the other half of the time left, the variables themselves);
    then a neural-network surrogate of the data is asked for pair
    symmetries (f depends on x_i - x_j, x_i + x_j, x_i / x_j or x_i * x_j
    only), for a split of the variables into a sum or a product, and for
    the sums of y², √y or 1/y. Accepted structures make smaller
    problems, decomposed again down to one or two variables or until no
    test accepts; each is searched by the ordinary searches, the parts are
    recombined into one formula in the caller's variables, its constants
    refined jointly on the data, and the recombined and the undecomposed
    results are compared by the "penalty" rule of `select` (error, then
    size). See docs/guide/decomposition.md for the tests and thresholds.

    Parameters
    ----------
    X : array-like, samples × variables
    y : array-like, one target per sample
    time_limit : float or None
        Seconds for the whole call: a quarter to the undecomposed search,
        the rest shared by the parts' searches, each getting the time left
        times its variables over the variables still to be searched. The
        surrogate's fits and the refinements come on top, each bounded by
        its iterations. None: every search runs to `searcher`'s own limit.
    searcher : tov_sr.Searcher or None
        The settings of the searches (its `time_limit` is replaced by the
        budget's shares, its output silenced). Each part also tries
        `max_terms=3`, and meet in the middle where the engine has it.
        None: ``Searcher(max_complexity=10, linear_scaling=True,
        max_search_rows=1000)``. Where it sets no `target_error`, a search
        stops at an error of 1e-14 × mean(y²) (the data's targets) or at
        (2 × the targets' noise)² (a part's targets read from the surrogate).
    x_units, y_units
        Physical units, as for `tov_sr.Searcher.fit`.
    weights : array-like or None
        Sample weights of the searches and of the refinement (the surrogate
        is fitted unweighted).
    random_state : int
        Seed of the surrogate and of the test points: the result depends on
        it and the data alone, whatever the thread count (with
        `time_limit=None`).

    Returns
    -------
    DecompositionResult
        The chosen `tov_sr.SearchResult` (`.result`, its attributes read
        through) and the record of accepted steps (`.decomposition`).

    Raises
    ------
    ValueError, TypeError
        Bad arguments, named in the message.
    ImportError
        scikit-learn or SciPy missing (the "sklearn" extra).

    Examples
    --------
    >>> import numpy as np
    >>> from tov_sr_tools import decompose
    >>> X = np.random.default_rng(0).uniform(1, 2, (2000, 4))
    >>> y = X[:, 0] * X[:, 1] / (X[:, 2] - X[:, 3] + 2)
    >>> found = decompose(X, y, time_limit=20)
    >>> print(found.decomposition)  # doctest: +SKIP
    """
    X, y, weights = _checked(X, y, weights, time_limit, searcher, random_state)
    require("decompose", "scipy.optimize")
    require("decompose", "sklearn.neural_network")
    if searcher is None:
        searcher = tov_sr.Searcher(
            max_complexity=10, linear_scaling=True, max_search_rows=1000, verbose=False
        )
    start = _clock()
    deadline = None if time_limit is None else start + float(time_limit)
    units = {}
    if x_units is not None or y_units is not None:
        units = {"x_units": x_units, "y_units": y_units}
    scale = _scale(y, weights)

    first_share = None if time_limit is None else UNDECOMPOSED_SHARE * float(time_limit)
    undecomposed = _search(searcher, X, y, weights, first_share, units=units)
    if undecomposed is None:
        raise tov_sr.TovComplexityError("decompose: no search could run on these data")
    searched = Step("search", f"undecomposed: {undecomposed.formula}",
                    tuple(f"v_{{{j}}}" for j in range(X.shape[1])),
                    formula=undecomposed.formula)  # fmt: skip
    if undecomposed.error <= _floor(scale):
        return DecompositionResult(undecomposed, Step("choice", "the undecomposed search is exact",
                                                      searched.variables, children=(searched,)))

    rng = np.random.default_rng(random_state)
    problems = [_reduced_problem(undecomposed, X, y, weights, units)]
    if problems[0][2] is not None:
        # Groups are ratios and products of the variables: a structure in
        # the variables themselves (a difference, a sum of squares) may not
        # survive the reduction, so the variables are decomposed too.
        problems.append((_Problem(X, y, weights, [_var(j) for j in range(X.shape[1])], X),
                         None, None))  # fmt: skip
    results, records = [undecomposed], [searched]
    for k, (problem, monomial, groups) in enumerate(problems):
        # With two problems the first gets half the time left.
        end = deadline
        if deadline is not None and k < len(problems) - 1:
            end = _clock() + (deadline - _clock()) / (len(problems) - k)
        budget = _Budget(end, problem.X.shape[1], _clock)
        tokens, step = _solve(problem, _Context(searcher, budget, rng, random_state))
        if groups is not None:
            if monomial is not None:
                tokens = _apply("Times", monomial, tokens)
            detail = "y = M f(groups)" + ("" if monomial is None else f", M = {_formula(monomial)}")
            step = Step("units", detail, searched.variables, None, (step,), _formula(tokens))
        tokens, error = _refine(tokens, X, y, weights)
        results.append(_rebuild(tokens, error))
        records.append(step)
        if error <= _floor(scale):
            break
    chosen = select(results, "penalty", complexity_penalty=searcher.complexity_penalty,
                    target_scale=scale)  # fmt: skip
    which = "undecomposed" if chosen is undecomposed else "recombined"
    if len(results) > 2 and chosen is not undecomposed:
        which += " (groups)" if chosen is results[1] else " (variables)"
    record = Step("choice", f"the {which} formula is chosen", searched.variables,
                  children=tuple(records))  # fmt: skip
    return DecompositionResult(chosen, record)


def _reduced_problem(undecomposed, X, y, weights, units):
    """The problem to decompose: the data, or with units f on the groups
    with targets y / M. Returns (problem, M's tokens or None, groups or None)."""
    identity = [_var(j) for j in range(X.shape[1])]
    state = undecomposed.__reduce__()[1][0]
    if not units or len(state) < 4:
        return _Problem(X, y, weights, identity, X), None, None
    groups, monomial, _ = state[3]
    groups = [list(group) for group in groups]
    columns = np.column_stack([_evaluate(group, X) for group in groups])
    targets = y
    if monomial is not None:
        monomial = list(monomial)
        with np.errstate(all="ignore"):
            targets = y / _evaluate(monomial, X)
    return _Problem(columns, targets, weights, groups, X), monomial, groups
