"""Silencing the search's console output.

The engine writes its progress with C stdio to file descriptor 1, past
Python's `sys.stdout`, so `contextlib.redirect_stdout` cannot catch it; the
descriptor itself is pointed at the null device for the duration.
"""

import contextlib
import ctypes
import os
import sys

_libc = ctypes.CDLL(None)


def _flush_all():
    if sys.stdout is not None:
        sys.stdout.flush()
    _libc.fflush(None)


@contextlib.contextmanager
def silence_search_output():
    """Discards everything written to standard output (file descriptor 1)
    inside the block, by Python and native code alike.

    The descriptor is shared by the whole process: output of other threads is
    discarded too while the block runs. Where descriptor 1 is not open, the
    block runs unchanged.
    """
    _flush_all()
    try:
        saved = os.dup(1)
    except OSError:
        saved = None
    if saved is None:
        yield
        return
    try:
        null = os.open(os.devnull, os.O_WRONLY)
        try:
            os.dup2(null, 1)
        finally:
            os.close(null)
        try:
            yield
        finally:
            _flush_all()
            os.dup2(saved, 1)
    finally:
        os.close(saved)
