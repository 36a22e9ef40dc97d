"""Found formulas as a pandas table and as SymPy expressions."""

import re

from tov_sr_tools._extras import require
from tov_sr_tools._operators import FUNCTIONS, sympy_operators


def staircase_frame(results):
    """The results (for example a `find_candidates` staircase) as a pandas
    DataFrame, one row per result in the given order, with the columns
    complexity, error, formula and latex."""
    pd = require("staircase_frame", "pandas")

    rows = [(r.complexity, r.error, r.formula, r.to_latex()) for r in results]
    frame = pd.DataFrame(rows, columns=["complexity", "error", "formula", "latex"])
    return frame.astype({"complexity": "int64", "error": "float64"})


# The formula text: "C" (a fitted constant), "v_{j}" (input variable j),
# exact constants ("2", "Pi", "-3/5", "1/(2*Pi)", "Sqrt(2)/2": an integer,
# a basis factor or both, over an integer, a basis factor or both) and
# "Name(a)" or "Name(a, b)" for operators. Exact constants are tried first
# and must end the operand: "E" is a constant, "Exp(" an operator; "Sqrt(2)"
# as a constant and as the operator on the constant 2 are the same number.
# Then operator names: "Cos(" is an operator, not "C" then "os(".
_FACTOR = r"(?:Pi\^2|Pi|E|Sqrt\((?:2\*Pi|Pi|2|3)\)|Log\(2\))"
_EXACT = (
    rf"-?(?:\d+\*{_FACTOR}|\d+|{_FACTOR})"
    rf"(?:/(?:\(\d+\*{_FACTOR}\)|\d+|{_FACTOR}))?(?=, |\)|$)"
)
_TOKEN = re.compile(rf"(?P<exact>{_EXACT})|(?P<name>[A-Za-z]+)\(|C|v_\{{(?P<var>\d+)\}}|, |\)")
_FACTORS = re.compile(rf"{_FACTOR}|\d+")


def _parse(formula):
    """The formula text as a tree: ("C",), ("var", j), ("exact", text) or
    (name, child, ...)."""
    tokens = []
    position = 0
    while position < len(formula):
        match = _TOKEN.match(formula, position)
        if match is None:
            raise ValueError(f"unreadable formula text at {position}: {formula!r}")
        tokens.append(match)
        position = match.end()

    def node(i):
        if i >= len(tokens):
            raise ValueError(f"formula text ends early: {formula!r}")
        token = tokens[i]
        if token.group("exact") is not None:
            return ("exact", token.group("exact")), i + 1
        if token.group(0) == "C":
            return ("C",), i + 1
        if token.group("var") is not None:
            return ("var", int(token.group("var"))), i + 1
        if token.group("name") is None:
            raise ValueError(f"unexpected {token.group(0)!r} in formula text: {formula!r}")
        children = []
        i += 1
        while True:
            child, i = node(i)
            children.append(child)
            if i < len(tokens) and tokens[i].group(0) == ", ":
                i += 1
                continue
            if i < len(tokens) and tokens[i].group(0) == ")":
                return (token.group("name"), *children), i + 1
            raise ValueError(f"unbalanced formula text: {formula!r}")

    tree, end = node(0)
    if end != len(tokens):
        raise ValueError(f"text after the formula: {formula!r}")
    return tree


def _exact_number(sympy, text):
    """An exact constant's text as a SymPy number: 1/(2*Pi) is 1/(2*pi)."""
    bases = {
        "Pi": sympy.pi,
        "Pi^2": sympy.pi**2,
        "E": sympy.E,
        "Sqrt(2)": sympy.sqrt(2),
        "Sqrt(3)": sympy.sqrt(3),
        "Sqrt(Pi)": sympy.sqrt(sympy.pi),
        "Sqrt(2*Pi)": sympy.sqrt(2 * sympy.pi),
        "Log(2)": sympy.log(2),
    }

    def product(part):
        value = sympy.Integer(1)
        for factor in _FACTORS.findall(part):
            value *= bases[factor] if factor in bases else sympy.Integer(factor)
        return value

    sign = -1 if text.startswith("-") else 1
    above, _, below = text.lstrip("-").partition("/")
    if below.startswith("(") and below.endswith(")"):
        below = below[1:-1]
    return sign * product(above) / (product(below) if below else 1)


def to_sympy(result, feature_names=None):
    """The formula of `result` as a SymPy expression.

    Every fitted constant enters at full precision (from
    `result.parameters`, as an exact binary SymPy Float), every exact
    constant (a named constant, or a snapped one) as SymPy's exact number:
    1/(2*Pi) becomes 1/(2*pi). Variable j is the
    real symbol `feature_names[j]` when names are given, else
    `result.variable_names[j]` when the result has names, else `v_j`. SymPy's
    functions take the same principal branches as the engine, so for real
    inputs the real part of the expression is what `result.eval` returns,
    wherever the formula has a value.
    """
    sympy = require("to_sympy", "sympy")
    if feature_names is None:
        feature_names = getattr(result, "variable_names", None)
    tree = _parse(result.formula)
    parameters = iter(result.parameters)
    operators = sympy_operators(sympy)
    symbols = {}

    def symbol(j):
        if j not in symbols:
            if feature_names is None:
                name = f"v_{j}"
            elif j < len(feature_names):
                name = str(feature_names[j])
            else:
                raise ValueError(
                    f"the formula uses variable {j} but only {len(feature_names)} "
                    "feature names were given"
                )
            symbols[j] = sympy.Symbol(name, real=True)
        return symbols[j]

    def build(node):
        if node[0] == "C":
            # Leaves come in the same order in the formula text as in the
            # postfix tokens, so the k-th "C" is parameter k.
            return sympy.Float(next(parameters), precision=53)
        if node[0] == "var":
            return symbol(node[1])
        if node[0] == "exact":
            return _exact_number(sympy, node[1])
        function = operators.get(node[0])
        if function is None:
            raise ValueError(f"unknown operator {node[0]!r}")
        return function(*(build(child) for child in node[1:]))

    return build(tree)


# Readable text: precedence of what an operand's text is, lowest first.
_SUM, _PRODUCT, _SIGNED, _POWER, _ATOM = range(5)
_EXACT_TEXT = [("Pi", "pi"), ("Sqrt", "sqrt"), ("Log", "log"), ("^", "**")]


def _exact_text(text):
    """An exact constant's text in the readable notation, with its
    precedence: 1/(2*Pi) is 1/(2*pi), E is e."""
    for engine, readable in _EXACT_TEXT:
        text = text.replace(engine, readable)
    text = re.sub(r"\bE\b", "e", text)
    if text.startswith("-"):
        return text, _SIGNED
    bare = re.sub(r"\([^()]*\)", "", text)
    return text, _PRODUCT if ("*" in bare or "/" in bare) else _ATOM


def to_text(result):
    """The formula of `result` as readable text in its variables' names
    (`result.variable_names`, else v_{j}), the fitted constants to four
    decimals: q*E*(1.0000 + B*v/E*sin(theta)). Parentheses only where the
    operators' precedence needs them; functions are written exp, log, sqrt,
    sin, cos, tan, asin, acos, atan. For reading: `formula` is the text to
    store and compare, `to_python` the text to run."""
    names = getattr(result, "variable_names", None)
    parameters = iter(result.parameters)

    def wrap(text, precedence, least):
        return f"({text})" if precedence < least else text

    def build(node):
        kind = node[0]
        if kind == "C":
            value = next(parameters)
            return f"{value:.4f}", _SIGNED if value < 0 else _ATOM
        if kind == "var":
            j = node[1]
            return (names[j] if names is not None and j < len(names) else f"v_{{{j}}}"), _ATOM
        if kind == "exact":
            return _exact_text(node[1])
        operands = [build(child) for child in node[1:]]
        if kind in FUNCTIONS:
            return f"{FUNCTIONS[kind]}({operands[0][0]})", _ATOM
        if kind == "Neg":
            return "-" + wrap(*operands[0], _POWER), _SIGNED
        if kind == "Inv":
            return "1/" + wrap(*operands[0], _POWER), _PRODUCT
        if kind in ("Square", "Cube"):
            power = 2 if kind == "Square" else 3
            return f"{wrap(*operands[0], _ATOM)}**{power}", _POWER
        if kind == "TOV":
            return f"exp({operands[0][0]}) - log({operands[1][0]})", _SUM
        if kind in ("Plus", "Subtract"):
            (left, _), (right, right_precedence) = operands
            sign = "+" if kind == "Plus" else "-"
            if right_precedence == _SIGNED:
                # a + -b reads a - b, and a - -b reads a + b; what follows
                # the sign binds at least as a product does.
                sign = "-" if sign == "+" else "+"
                right, right_precedence = right[1:], _PRODUCT
            least = _SUM if sign == "+" else _PRODUCT
            return f"{left} {sign} {wrap(right, right_precedence, least)}", _SUM
        if kind in ("Times", "Divide"):
            (left, left_precedence), (right, right_precedence) = operands
            # a*(c/d) is a*c/d, but a/(c*d) is not a/c*d; a signed right
            # operand is parenthesised either way.
            if kind == "Times" and right_precedence != _SIGNED:
                right = wrap(right, right_precedence, _PRODUCT)
            else:
                right = wrap(right, right_precedence, _POWER)
            sign = "*" if kind == "Times" else "/"
            return f"{wrap(left, left_precedence, _PRODUCT)}{sign}{right}", _PRODUCT
        texts = ", ".join(text for text, _ in operands)
        return f"{kind}({texts})", _ATOM

    return build(_parse(result.formula))[0]
