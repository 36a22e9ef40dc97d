"""The engine's operators, once, for the two places that rebuild formulas in
Python: the NumPy evaluator of the cross-validation refits and the SymPy
export (whose readable notation uses the same function names).

The two differ only where their arithmetic does. NumPy computes the powers
as the engine does, by repeated products (a * a, a * a * a), so its values
round as the engine's do; SymPy writes a**2 and a**3 and the exact 1 / a,
its canonical forms. Everything else is one table.
"""

# Operator -> its function's name in the readable notation and in SymPy.
FUNCTIONS = {
    "Exp": "exp",
    "Log": "log",
    "Sqrt": "sqrt",
    "Sin": "sin",
    "Cos": "cos",
    "Tan": "tan",
    "ArcSin": "asin",
    "ArcCos": "acos",
    "ArcTan": "atan",
}
# Where NumPy names those functions otherwise.
_NUMPY_NAMES = {"asin": "arcsin", "acos": "arccos", "atan": "arctan"}


def _table(function, one, square, cube):
    """The eighteen operators over one library's numbers; `function(name)`
    is the library's function of a name in FUNCTIONS."""
    exp, log = function("exp"), function("log")
    table = {
        "Neg": lambda a: -a,
        "Inv": lambda a: one / a,
        "Plus": lambda a, b: a + b,
        "Times": lambda a, b: a * b,
        "Subtract": lambda a, b: a - b,
        "Divide": lambda a, b: a / b,
        "Square": square,
        "Cube": cube,
        "TOV": lambda a, b: exp(a) - log(b),
    }
    table.update({operator: function(name) for operator, name in FUNCTIONS.items()})
    return table


def numpy_operators(np):
    """The operators over NumPy arrays and scalars (complex, as the engine)."""
    return _table(
        lambda name: getattr(np, _NUMPY_NAMES.get(name, name)),
        1.0,
        lambda a: a * a,
        lambda a: a * a * a,
    )


def sympy_operators(sympy):
    """The operators over SymPy expressions."""
    return _table(lambda name: getattr(sympy, name), 1, lambda a: a**2, lambda a: a**3)
