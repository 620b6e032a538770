"""Access to the pure-Python modules of the ``orvik`` package from the benchmark scripts.

``orvik`` imports the compiled core on import. The benchmarks need only its pure-Python
modules (rules, converters, checker, random instances), so when the package cannot be imported
(for example before the core is built) they are loaded from the source tree.
"""

from __future__ import annotations

import importlib
import sys
from pathlib import Path
from types import ModuleType

ROOT = Path(__file__).resolve().parents[1]
SOURCE = ROOT / "python" / "orvik"


def load(name: str) -> ModuleType:
    """``orvik.<name>``, falling back to ``python/orvik/<name>.py`` of this source tree."""
    try:
        return importlib.import_module(f"orvik.{name}")
    except ImportError:
        pass
    # Without the core the package itself cannot be imported: a bare package over the source
    # folder stands in, so that its pure-Python modules load with their imports of each other.
    if "orvik" not in sys.modules:
        package = ModuleType("orvik")
        package.__path__ = [str(SOURCE)]
        sys.modules["orvik"] = package
    return importlib.import_module(f"orvik.{name}")
