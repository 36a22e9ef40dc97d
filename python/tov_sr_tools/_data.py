"""Data with names and units: pandas DataFrames (with pint-pandas columns or
without), astropy Tables and QTables, pint and astropy quantities, and pint
and astropy units as SI dimensions.

tov_sr calls these for such objects only, and tov_sr_tools' estimator calls
them too, so both read the same numbers, units and names. Nothing here
imports pandas, pint or astropy: an object of theirs can only exist once
they are loaded, so they are looked up in `sys.modules`.
"""

import sys
from fractions import Fraction

# pint's base dimensions and the SI base units that measure them.
_PINT_DIMENSIONS = {
    "[length]": "m",
    "[mass]": "kg",
    "[time]": "s",
    "[current]": "A",
    "[temperature]": "K",
    "[substance]": "mol",
    "[luminosity]": "cd",
}
# Irreducible in astropy, dimensionless in the SI.
_ANGLES = {"rad", "sr"}


def _loaded(module, name):
    """The class `name` of `module` when that module is loaded, else None."""
    loaded = sys.modules.get(module)
    return getattr(loaded, name, None) if loaded is not None else None


def _instance(value, module, name):
    kind = _loaded(module, name)
    return kind is not None and isinstance(value, kind)


def _exponent(value, unit):
    """An exponent as an int or a Fraction: pint gives floats (0.5 for a
    square root), which are taken as the nearest fraction with a small
    denominator when they are one."""
    if isinstance(value, (int, Fraction)) and not isinstance(value, bool):
        return value
    number = float(value)
    if number.is_integer():
        return int(number)
    fraction = Fraction(number).limit_denominator(1000)
    if abs(float(fraction) - number) > 1e-9 * max(1.0, abs(number)):
        raise ValueError(f"the unit {unit} has the exponent {value}, which is not a fraction")
    return fraction


def unit_dimension(unit):
    """The SI dimension of a pint `Unit` or an astropy `UnitBase` as a list
    of (base dimension, exponent) pairs, exponents int or Fraction; None for
    anything else. A base dimension outside the SI (pint's `[currency]`,
    astropy's `ct`) is one of its own, named without brackets."""
    if _instance(unit, "pint", "Unit"):
        pairs = []
        for name, power in unit.dimensionality.items():
            base = _PINT_DIMENSIONS.get(name, name.strip("[]"))
            pairs.append((base, _exponent(power, unit)))
        return pairs
    if _instance(unit, "astropy.units", "UnitBase"):
        try:
            decomposed = unit.decompose()
        except Exception as error:
            raise ValueError(f"the unit {unit} has no SI dimension: {error}") from error
        # The irreducible units are the SI base units by their symbols, the
        # angles, and dimensions of their own.
        return [
            (base.name, _exponent(power, unit))
            for base, power in zip(decomposed.bases, decomposed.powers)
            if base.name not in _ANGLES
        ]
    return None


def _floats(values, what):
    import numpy as np

    try:
        array = np.asarray(np.ma.filled(values, np.nan), dtype=np.float64)
    except (TypeError, ValueError) as error:
        raise ValueError(f"{what} cannot be read as floats: {error}") from error
    if array.ndim != 1:
        raise ValueError(f"{what} must hold one number per sample, not an array of shape "
                         f"{array.shape}")
    return array


def _pint_series(series):
    """The magnitudes and unit of a pandas Series of pint-pandas dtype, or
    None for any other Series."""
    units = getattr(series.dtype, "units", None)
    if units is None or not type(series.dtype).__module__.startswith("pint_pandas"):
        return None
    return series.values.quantity.magnitude, units


def _columns(names, columns):
    """Column arrays, their units (None where a column has none) and names
    as (a samples-by-columns float64 array, units or None when no column
    has one, names or None unless every name is a str)."""
    import numpy as np

    arrays = []
    units = []
    for name, (values, unit) in zip(names, columns):
        arrays.append(_floats(values, f"column {name!r} of the inputs"))
        units.append(unit)
    matrix = np.column_stack(arrays) if arrays else np.empty((0, 0))
    named = [str(n) for n in names] if all(isinstance(n, str) for n in names) else None
    return (
        np.ascontiguousarray(matrix, dtype=np.float64),
        units if any(u is not None for u in units) else None,
        named,
    )


def _frame_columns(frame):
    def column(series):
        pint = _pint_series(series)
        return pint if pint is not None else (series.to_numpy(), None)

    # By position: labels may repeat.
    return _columns(
        list(frame.columns), [column(frame.iloc[:, j]) for j in range(frame.shape[1])]
    )


def _table_columns(table):
    def column(values):
        if _instance(values, "astropy.units", "Quantity"):
            return values.value, values.unit
        return values, getattr(values, "unit", None)

    return _columns(list(table.colnames), [column(table[name]) for name in table.colnames])


def plain_frame(data):
    """True for a pandas DataFrame none of whose columns has a unit."""
    return _instance(data, "pandas", "DataFrame") and all(
        _pint_series(data.iloc[:, j]) is None for j in range(data.shape[1])
    )


def split(data, columns):
    """What `data` holds beyond plain numbers, or None when it is none of
    the kinds handled here (and is read as it is).

    With `columns` (the inputs of a search), a DataFrame, a Table or
    QTable, or a pint or astropy quantity with one row per sample gives
    (a float64 array of the magnitudes, one unit per column or None, the
    column names or None); without (a vector: targets, or the one input of
    find_function), a quantity or a pandas Series of pint-pandas dtype
    gives (the magnitudes, [its unit], None). A unit is a pint Unit or an
    astropy UnitBase (see `unit_dimension`); a plain column has None.
    """
    import numpy as np

    if _instance(data, "pint", "Quantity"):
        magnitude = np.ascontiguousarray(data.magnitude, dtype=np.float64)
        count = magnitude.shape[1] if columns and magnitude.ndim == 2 else 1
        return magnitude, [data.units] * count, None
    if _instance(data, "astropy.units", "Quantity"):
        value = np.ascontiguousarray(data.value, dtype=np.float64)
        count = value.shape[1] if columns and value.ndim == 2 else 1
        return value, [data.unit] * count, None
    if columns and _instance(data, "pandas", "DataFrame"):
        return _frame_columns(data)
    if columns and _instance(data, "astropy.table", "Table"):
        return _table_columns(data)
    if not columns and _instance(data, "pandas", "Series"):
        pint = _pint_series(data)
        if pint is not None:
            return np.ascontiguousarray(pint[0], dtype=np.float64), [pint[1]], None
    return None
