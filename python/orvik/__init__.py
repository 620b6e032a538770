"""Orvik: a multiple travelling salesman solver with side constraints.

The C++ core lives in the extension module ``_orvik_core``; this package adds what users touch
besides it (the ``orvik`` command line).
"""

from importlib.metadata import PackageNotFoundError, version

import _orvik_core as _core

try:
    __version__ = version("orvik")
except PackageNotFoundError:  # running from a source tree without an installed package
    __version__ = "0.0.0"

__all__ = ["__version__"]
