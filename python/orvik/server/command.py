"""The `orvik serve` command: run the solving service under uvicorn."""

from __future__ import annotations

import argparse
import contextlib
import errno
import ipaddress
import os
import socket
import sys
import threading
from typing import Any

DESCRIPTION = """\
Run the solving service: an HTTP JSON API (POST /solve, POST /jobs, GET /jobs/{id}, GET
/jobs/{id}/events, DELETE /jobs/{id}, POST /validate, GET /health) and a map page at /.
Solves run in --workers processes, or on a Dask cluster with --scheduler. It listens on the
loopback address unless --host says otherwise; with --token (or $ORVIK_SERVE_TOKEN) every API
request needs "Authorization: Bearer <token>". Needs the extra orvik[server]."""

TOKEN_VARIABLE = "ORVIK_SERVE_TOKEN"


def _positive(kind: type, what: str) -> Any:
    def parse(text: str) -> Any:
        try:
            value = kind(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"not {what}: {text!r}") from None
        if not value > 0 or value != value or value == float("inf"):
            raise argparse.ArgumentTypeError(f"must be a positive, finite number, got {text}")
        return value

    return parse


def add_serve_command(sub: Any) -> None:
    """Add `orvik serve` to the command line's subcommands."""
    serve = sub.add_parser("serve", help="run the solving service (HTTP JSON API and map page)",
                           description=DESCRIPTION)
    serve.add_argument("--host", default="127.0.0.1",
                       help="address to listen on (default: 127.0.0.1, this machine only)")
    serve.add_argument("--port", type=int, default=8000, help="port (default: 8000)")
    where = serve.add_mutually_exclusive_group()
    where.add_argument("--workers", type=_positive(int, "a whole number"), default=None,
                       metavar="N", help="worker processes that solve (default: 1)")
    where.add_argument("--scheduler", metavar="ADDRESS",
                       help="solve on a Dask cluster, e.g. tcp://host:8786 (needs "
                            "orvik[distributed])")
    serve.add_argument("--max-time", type=_positive(float, "a number of seconds"), default=60.0,
                       metavar="S", help="longest time limit of a job; longer ones are "
                                         "clamped, and the response says so (default: 60)")
    serve.add_argument("--max-body", type=_positive(float, "a number of megabytes"),
                       default=10.0, metavar="MB",
                       help="largest request body in megabytes; larger ones get 413 "
                            "(default: 10)")
    serve.add_argument("--token", metavar="T", default=None,
                       help=f"bearer token every API request must carry (default: "
                            f"${TOKEN_VARIABLE} when set, else none)")
    serve.add_argument("--max-queue", type=_positive(int, "a whole number"), default=100,
                       metavar="N", help="jobs that may wait; more get 429 (default: 100)")
    serve.add_argument("--keep", type=_positive(float, "a number of seconds"), default=600.0,
                       metavar="S", help="seconds a finished job is kept (default: 600)")
    serve.add_argument("--keep-jobs", type=_positive(int, "a whole number"), default=1000,
                       metavar="N", help="finished jobs kept at most (default: 1000)")
    serve.set_defaults(func=run_serve)


def run_serve(args: argparse.Namespace) -> int:
    try:
        import uvicorn

        from orvik.server.app import ServerSettings, create_app
    except ImportError as error:
        raise ImportError(f"`orvik serve` needs the extra orvik[server]: pip install "
                          f"'orvik[server]' ({error})") from None
    if not 0 <= args.port <= 65535:
        raise ValueError(f"--port {args.port}: a port is from 0 to 65535")
    _check_address(args.host, args.port)
    token = args.token if args.token is not None else os.environ.get(TOKEN_VARIABLE) or None
    if args.scheduler is not None:
        try:
            from distributed import Client  # noqa: F401 - only to say early what is missing
        except ImportError:
            raise ImportError("--scheduler needs Dask's distributed package: "
                              "pip install 'orvik[distributed]'") from None
    settings = ServerSettings(
        workers=args.workers, scheduler=args.scheduler, max_time=args.max_time,
        max_body=int(args.max_body * 1024 * 1024), token=token, max_queue=args.max_queue,
        keep_seconds=args.keep, keep_jobs=args.keep_jobs)
    if not _is_loopback(args.host):
        print(f"orvik: serving on {args.host}, reachable from other machines"
              + ("" if token else "; without --token anyone who reaches it can use it"),
              file=sys.stderr)
    app = create_app(settings)

    class Server(uvicorn.Server):
        def handle_exit(self, sig: int, frame: Any) -> None:
            # Stop the jobs as soon as the service is asked to stop, so that the requests
            # waiting on them are answered (with the best routes so far) while uvicorn lets the
            # responses under way finish. From a thread: this runs in a signal handler.
            threading.Thread(target=app.state.store.close, daemon=True).start()
            super().handle_exit(sig, frame)

    config = uvicorn.Config(app, host=args.host, port=args.port, log_level="info",
                            timeout_graceful_shutdown=10)
    server = Server(config)
    # uvicorn shuts down cleanly on Ctrl-C and then hands it on: for the service it is the way
    # to stop, not a failure.
    with contextlib.suppress(KeyboardInterrupt):
        server.run()
    return 0 if server.started else 1


def _check_address(host: str, port: int) -> None:
    """Refuse, before any worker starts, an address the service could not listen on: a port
    another program holds, a host that is no address of this machine. uvicorn binds it again
    (the way it binds, SO_REUSEADDR) right after; this only says early and in one line what is
    wrong."""
    try:
        addresses = socket.getaddrinfo(host, port, type=socket.SOCK_STREAM,
                                       flags=socket.AI_PASSIVE)
    except socket.gaierror as error:
        raise ValueError(f"--host {host}: not a known host ({error.strerror})") from None
    for family, kind, proto, _, address in addresses:
        with socket.socket(family, kind, proto) as probe:
            probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                probe.bind(address)
            except OSError as error:
                reason = error.strerror or str(error)
                if error.errno == errno.EADDRINUSE:
                    reason += "; another program listens there (choose another --port)"
                raise OSError(error.errno, f"cannot listen on {host} port {port}: {reason}"
                              ) from None


def _is_loopback(host: str) -> bool:
    if host == "localhost":
        return True
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False
