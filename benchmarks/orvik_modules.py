"""Access to the pure-Python modules of the ``orvik`` package from the benchmark scripts.

``orvik`` imports the compiled core on import. The benchmarks need only its pure-Python
modules (converters, checker), so when the package cannot be imported (for example before the
core is built) the module files are loaded directly from the source tree.
"""

from __future__ import annotations

import importlib
import importlib.util
import sys
from pathlib import Path
from types import ModuleType

ROOT = Path(__file__).resolve().parents[1]


def load(name: str) -> ModuleType:
    """``orvik.<name>``, falling back to ``python/orvik/<name>.py`` of this source tree."""
    try:
        return importlib.import_module(f"orvik.{name}")
    except ImportError:
        pass
    key = f"orvik_{name}_file"
    if key in sys.modules:
        return sys.modules[key]
    spec = importlib.util.spec_from_file_location(key, ROOT / "python" / "orvik" / f"{name}.py")
    if spec is None or spec.loader is None:
        raise ImportError(f"cannot load orvik.{name} from {ROOT / 'python' / 'orvik'}")
    module = importlib.util.module_from_spec(spec)
    sys.modules[key] = module
    spec.loader.exec_module(module)
    return module
