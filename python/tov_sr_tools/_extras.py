"""The optional dependencies of tov_sr_tools. Each part imports its own on
first use; one that cannot be imported is an ImportError naming the extra
to install, with the import's own error as its cause."""

import importlib

# Top-level module: (the package as users know it, the extra that installs it).
_SOURCES = {
    "sklearn": ("scikit-learn", "sklearn"),
    "pandas": ("pandas", "pandas"),
    "sympy": ("SymPy", "sympy"),
    "distributed": ("Dask's distributed scheduler", "parallel"),
    "matplotlib": ("matplotlib", "plot"),
    "tqdm": ("tqdm", "progress"),
    "scipy": ("SciPy", "sklearn"),
    "threadpoolctl": ("threadpoolctl", "sklearn"),
}


def require(part, module):
    """Imports `module` for `part` (what the user asked for) and returns it."""
    try:
        return importlib.import_module(module)
    except ImportError as error:
        package, extra = _SOURCES[module.split(".")[0]]
        raise ImportError(
            f'{part} needs {package}, which cannot be imported: pip install "tov_sr[{extra}]"',
            name=module,
        ) from error
