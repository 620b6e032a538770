"""`orvik serve` as the tests run it: a real process on a free loopback port, reached with
httpx, its log kept in a file that a failing test prints."""

from __future__ import annotations

import os
import signal
import socket
import subprocess
import sys
import time
from pathlib import Path
from typing import Any

import httpx

REPO = Path(__file__).resolve().parents[2]
EXAMPLE = REPO / "examples" / "two_robots_square.json"


def free_port() -> int:
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return int(probe.getsockname()[1])


def grid_instance(sites: int, agents: int = 3, time_limit: float = 30.0, seed: int = 1
                  ) -> dict[str, Any]:
    """A depot and ``sites`` sites on a jittered grid, Euclidean costs, min_max: large enough
    that a solve keeps improving for seconds."""
    import random

    rng = random.Random(seed)
    side = max(2, int(sites**0.5) + 1)
    points = [(50.0, 50.0)] + [((k % side) * 10 + rng.uniform(0, 6),
                                (k // side) * 10 + rng.uniform(0, 6)) for k in range(sites)]
    n = len(points)
    matrix = [[round(((points[i][0] - points[j][0]) ** 2 + (points[i][1] - points[j][1]) ** 2)
                     ** 0.5, 2) for j in range(n)] for i in range(n)]
    return {
        "nodes": [{"id": i, "x": p[0], "y": p[1], "z": 0} | ({"type": "DEPOT"} if i == 0 else {})
                  for i, p in enumerate(points)],
        "agents": [{"id": 100 + k, "type": "van", "start_node": 0, "end_node": 0}
                   for k in range(agents)],
        "costs": {"van": matrix},
        "options": {"objective": "min_max", "return_to_end": True, "time_limit": time_limit},
    }


class Service:
    """A running `orvik serve`."""

    def __init__(self, log: Path, *args: str, token: str | None = None) -> None:
        self.port = free_port()
        self.url = f"http://127.0.0.1:{self.port}"
        self.token = token
        self.log = log
        env = {**os.environ, "PYTHONUNBUFFERED": "1"}
        env.pop("ORVIK_SERVE_TOKEN", None)
        command = [sys.executable, "-m", "orvik", "serve", "--port", str(self.port), *args]
        if token is not None:
            command += ["--token", token]
        self._log_file = open(log, "w", encoding="utf-8")  # noqa: SIM115 - closed in stop()
        self.process = subprocess.Popen(command, stdout=self._log_file, stderr=subprocess.STDOUT,
                                        env=env, start_new_session=True)
        self._wait_ready()

    def _wait_ready(self, seconds: float = 90.0) -> None:
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            if self.process.poll() is not None:
                raise RuntimeError(f"orvik serve exited with {self.process.returncode}:\n"
                                   f"{self.log_text()}")
            try:
                reply = self.client().get("/health", timeout=2)
                if reply.status_code == 200:
                    return
            except httpx.TransportError:
                pass
            time.sleep(0.2)
        self.stop()
        raise RuntimeError(f"orvik serve did not answer within {seconds:g} s:\n"
                           f"{self.log_text()}")

    def client(self, token: str | None = None, headers: dict[str, str] | None = None
               ) -> httpx.Client:
        token = token if token is not None else self.token
        sent = {"Authorization": f"Bearer {token}"} if token else {}
        return httpx.Client(base_url=self.url, headers={**sent, **(headers or {})}, timeout=60)

    def log_text(self) -> str:
        if not self._log_file.closed:
            self._log_file.flush()
        return self.log.read_text(encoding="utf-8", errors="replace")

    def wait_for(self, job_id: str, predicate: Any, seconds: float = 60.0) -> dict[str, Any]:
        """Poll a job until ``predicate(view)`` holds; its view."""
        end = time.monotonic() + seconds
        with self.client() as client:
            while True:
                view = client.get(f"/jobs/{job_id}").json()
                if predicate(view):
                    return view
                if time.monotonic() > end:
                    raise AssertionError(f"job {job_id} did not get there in {seconds:g} s: "
                                         f"{view}")
                time.sleep(0.1)

    def stop(self) -> int:
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait(10)
        self._log_file.close()
        return self.process.returncode
