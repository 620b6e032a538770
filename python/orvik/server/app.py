"""The solving service's HTTP application (FastAPI): the endpoints, the bearer token, the body
limit, and errors as JSON ``{"error": message, ...}`` with a 4xx status for every input it
cannot use, never a traceback.

- ``POST /solve``: solve an instance and answer its solution, as `orvik solve --json` prints it.
- ``POST /jobs``: queue a solve and answer its job at once (202).
- ``GET /jobs/{id}``: a job's status, progress (with its best routes so far, once it has some),
  and its solution once done.
- ``GET /jobs/{id}/events``: the same as server-sent events, until the job ends.
- ``DELETE /jobs/{id}``: stop a job; it keeps its best routes (status "interrupted").
- ``POST /validate``: every error and warning of an instance with its JSON path.
- ``GET /health``: whether the service runs, its queue and its workers.
- ``GET /``: the map page.
"""

from __future__ import annotations

import asyncio
import json
import logging
import re
import secrets
from contextlib import asynccontextmanager
from dataclasses import dataclass
from importlib import resources
from typing import Any

from fastapi import FastAPI, Request
from fastapi.responses import HTMLResponse, JSONResponse, StreamingResponse
from starlette.concurrency import run_in_threadpool
from starlette.exceptions import HTTPException as StarletteHTTPException

from orvik.server.jobs import ENDED, Closed, Job, JobStore, QueueFull
from orvik.server.requests import (
    RequestError,
    findings_view,
    parse_body,
    prepare,
    read_document,
    solve_request,
)

log = logging.getLogger("orvik.server")
_JOB_ID = re.compile(r"[0-9a-f]{32}")
# How often a waiting request or an event stream looks at its job, and how often an idle
# stream sends a comment to keep its connection open.
_POLL_SECONDS = 0.1
_KEEPALIVE_SECONDS = 15.0


@dataclass
class ServerSettings:
    """How the service runs: where jobs are solved and its limits."""

    workers: int | None = None
    scheduler: str | None = None
    max_time: float = 60.0
    max_body: int = 10 * 1024 * 1024
    token: str | None = None
    max_queue: int = 100
    keep_seconds: float = 600.0
    keep_jobs: int = 1000


def _error(status: int, message: str, **details: Any) -> JSONResponse:
    headers = {"WWW-Authenticate": "Bearer"} if status == 401 else None
    return JSONResponse({"error": message, **details}, status_code=status, headers=headers)


async def _read_body(request: Request, limit: int) -> bytes:
    """The request body, refused with 413 as soon as it is known to pass ``limit`` bytes: by
    its declared length, or while it streams in."""
    declared = request.headers.get("content-length")
    if declared is not None:
        try:
            length = int(declared)
        except ValueError:
            raise RequestError(400, f"Content-Length is not a number: {declared!r}") from None
        if length > limit:
            raise RequestError(413, f"the body has {length} bytes; this server takes at most "
                                    f"{limit} (--max-body)")
    chunks, size = [], 0
    async for chunk in request.stream():
        size += len(chunk)
        if size > limit:
            raise RequestError(413, f"the body passes {limit} bytes; this server takes at most "
                                    f"{limit} (--max-body)")
        chunks.append(chunk)
    return b"".join(chunks)


class BearerToken:
    """Lets through only the requests that carry ``Authorization: Bearer <token>``, the page at
    ``/`` aside (it holds no data). Plain ASGI, so that a request's disconnection still reaches
    the endpoint that waits on a job."""

    def __init__(self, app: Any, token: str) -> None:
        self.app = app
        self.token = token.encode()

    async def __call__(self, scope: Any, receive: Any, send: Any) -> None:
        if scope["type"] == "http" and scope["path"] != "/":
            given = dict(scope["headers"]).get(b"authorization", b"")
            scheme, _, value = given.partition(b" ")
            if scheme.lower() != b"bearer" or not secrets.compare_digest(value.strip(),
                                                                         self.token):
                what = "a wrong token" if given else "no token"
                response = _error(401, f"this server needs a bearer token (Authorization: "
                                       f"Bearer <token>); the request has {what}")
                await response(scope, receive, send)
                return
        await self.app(scope, receive, send)


def create_app(settings: ServerSettings) -> FastAPI:
    """The service's application. With a scheduler it connects to the Dask cluster here
    (``ConnectionError`` when it cannot, before anything listens); its runner (worker processes
    or the cluster's client) starts with the application and stops with it."""
    from orvik import __version__
    from orvik.server.runners import ClusterRunner, ProcessRunner

    store = JobStore(settings.max_queue, settings.keep_seconds, settings.keep_jobs)
    runner: Any = (ClusterRunner(store, settings.scheduler, settings.workers)
                   if settings.scheduler is not None
                   else ProcessRunner(store, settings.workers or 1))

    @asynccontextmanager
    async def lifespan(app: FastAPI) -> Any:
        runner.start()
        try:
            yield
        finally:
            await run_in_threadpool(runner.close)

    app = FastAPI(title="orvik", version=__version__, lifespan=lifespan, docs_url=None,
                  redoc_url=None, openapi_url=None, redirect_slashes=False)

    # -- errors ---------------------------------------------------------------------------

    @app.exception_handler(RequestError)
    async def refused(request: Request, error: RequestError) -> JSONResponse:
        return _error(error.status, error.message, **error.details)

    @app.exception_handler(StarletteHTTPException)
    async def http_error(request: Request, error: StarletteHTTPException) -> JSONResponse:
        message = {404: f"no such endpoint: {request.method} {request.url.path}",
                   405: f"{request.method} is not allowed on {request.url.path}"}.get(
                       error.status_code, str(error.detail))
        return _error(error.status_code, message)

    @app.exception_handler(Exception)
    async def crashed(request: Request, error: Exception) -> JSONResponse:
        log.exception("%s %s", request.method, request.url.path)
        return _error(500, f"internal error: {type(error).__name__} (see the server's log)")

    if settings.token is not None:
        app.add_middleware(BearerToken, token=settings.token)

    # -- helpers --------------------------------------------------------------------------

    async def body_of(request: Request) -> Any:
        raw = await _read_body(request, settings.max_body)
        return parse_body(raw, request.headers.get("content-type"))

    async def new_job(request: Request) -> Job:
        body = await body_of(request)
        document, options = solve_request(body, dict(request.query_params))
        prepared = await run_in_threadpool(prepare, document, options, settings.max_time)
        try:
            return store.add(prepared.instance, prepared.options, prepared.time_limit,
                             prepared.notes, prepared.warnings)
        except QueueFull:
            raise RequestError(429, f"the queue is full ({settings.max_queue} jobs wait); "
                                    f"try again later") from None
        except Closed:
            raise RequestError(503, "the service is stopping and takes no new jobs; try "
                                    "again once it is back") from None

    def job_of(job_id: str) -> Job:
        job = store.get(job_id) if _JOB_ID.fullmatch(job_id) else None
        if job is None:
            raise RequestError(404, f"no job {job_id!r}: job ids are 32 hexadecimal digits, and "
                                    f"finished jobs are kept for {settings.keep_seconds:g} s")
        return job

    def job_response(job: Job, status: int = 200) -> JSONResponse:
        return JSONResponse(store.view(job), status_code=status,
                            headers={"Location": f"/jobs/{job.id}"})

    # -- endpoints ------------------------------------------------------------------------

    @app.get("/", response_class=HTMLResponse)
    async def page() -> HTMLResponse:
        text = resources.files("orvik.server").joinpath("page.html").read_text("utf-8")
        return HTMLResponse(text, headers={
            "Content-Security-Policy": "default-src 'self'; script-src 'unsafe-inline'; "
                                       "style-src 'unsafe-inline'; img-src 'self' data:"})

    @app.get("/health")
    async def health() -> dict[str, Any]:
        return {"status": "ok", "version": __version__, "max_time": settings.max_time,
                "max_body": settings.max_body, **store.summary(),
                "runner": runner.describe()}

    @app.post("/validate")
    async def validate_instance(request: Request) -> dict[str, Any]:
        body = await body_of(request)
        if not isinstance(body, dict):
            raise RequestError(400, f"request body: expected a JSON object (an instance), got "
                                    f"{type(body).__name__}")

        def check() -> dict[str, Any]:
            from orvik.validation import validate

            instance = read_document(body)
            try:
                return findings_view(validate(instance))
            except (TypeError, ValueError, RecursionError) as error:
                raise RequestError(400, f"the instance cannot be read: {error}") from None

        return await run_in_threadpool(check)

    @app.post("/jobs")
    async def create_job(request: Request) -> JSONResponse:
        return job_response(await new_job(request), 202)

    @app.post("/solve")
    async def solve(request: Request) -> JSONResponse:
        job = await new_job(request)
        # The body has been read: what the connection says next is that the caller left.
        left = asyncio.ensure_future(request.receive())
        try:
            while not job.ended:
                if left.done() and left.result().get("type") == "http.disconnect":
                    store.stop(job)  # the caller left: the job ends with its best routes
                await asyncio.sleep(_POLL_SECONDS)
        except asyncio.CancelledError:
            store.stop(job)
            raise
        finally:
            left.cancel()
        headers = {"X-Orvik-Job": job.id}
        if job.solution is None:
            return _error(500 if job.error and not job.stop_requested else 409,
                          job.error or "the job has no result", job=job.id)
        return JSONResponse(job.solution, headers=headers)

    @app.get("/jobs/{job_id}")
    async def get_job(job_id: str) -> JSONResponse:
        return job_response(job_of(job_id))

    @app.delete("/jobs/{job_id}")
    async def stop_job(job_id: str) -> JSONResponse:
        job = job_of(job_id)
        store.stop(job)
        while not job.ended:
            await asyncio.sleep(_POLL_SECONDS)
        return job_response(job)

    @app.get("/jobs/{job_id}/events")
    async def job_events(job_id: str, request: Request) -> StreamingResponse:
        job = job_of(job_id)

        async def events() -> Any:
            seen, quiet = -1, 0.0
            while True:
                if job.version != seen:
                    seen = job.version
                    ended = job.status in ENDED
                    view = store.view(job, solution=ended)
                    name = "end" if ended else "progress"
                    yield f"event: {name}\nid: {seen}\ndata: {json.dumps(view)}\n\n"
                    quiet = 0.0
                    if ended:
                        return
                if await request.is_disconnected():
                    return
                await asyncio.sleep(_POLL_SECONDS)
                quiet += _POLL_SECONDS
                if quiet >= _KEEPALIVE_SECONDS:
                    quiet = 0.0
                    yield ": still running\n\n"

        return StreamingResponse(events(), media_type="text/event-stream",
                                 headers={"Cache-Control": "no-store",
                                          "X-Accel-Buffering": "no"})

    app.state.store = store
    return app
