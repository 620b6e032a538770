"""The solving service: `orvik serve`, an HTTP JSON API with jobs, progress and a map page
(install ``orvik[server]``).

``create_app(ServerSettings(...))`` gives the FastAPI application; ``orvik serve`` runs it under
uvicorn. Solves run in worker processes (or on a Dask cluster), never in the process that
answers requests.
"""

from __future__ import annotations

from typing import Any

__all__ = ["ServerSettings", "create_app"]


def __getattr__(name: str) -> Any:
    # FastAPI is imported only when the application is asked for, so that `orvik serve --help`
    # and the rest of the package work without the extra.
    if name in __all__:
        from orvik.server import app

        return getattr(app, name)
    raise AttributeError(f"module 'orvik.server' has no attribute {name!r}")
