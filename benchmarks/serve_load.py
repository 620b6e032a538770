"""A bounded load run of `orvik serve` on loopback, with faults and hostile requests.

Starts `orvik serve --workers 2` on a free loopback port and sends it 200 jobs of 50 to 100
sites with 1 s time limits from 8 concurrent clients (POST /solve; a 429 is retried after a
pause). Midway one worker process is killed during a job. Then at least 50 hostile requests
(malformed JSON, huge numbers, deep nesting, wrong content types, oversize bodies, unknown and
path-like job ids, bad options, wrong methods) each must get its 4xx with a message while the
service stays up. Last, the service is stopped under load: every response that arrived is
whole. Prints:

- jobs per second, the p50 and p99 wait (queued until started) and turnaround (request sent
  until the solution arrived);
- every error, and that every job ended once, with a solution the independent checker accepts
  or a clear error (none lost, none duplicated);
- the peak memory of the service process and of the service with its workers;
- the 1-minute load average before and after.

    python benchmarks/serve_load.py
    python benchmarks/serve_load.py --jobs 50 --clients 4
"""

from __future__ import annotations

import argparse
import collections
import json
import os
import queue
import random
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path
from typing import Any

import httpx

sys.path.insert(0, str(Path(__file__).resolve().parent))
from generate_large_instance import generate
from orvik.checker import check


def load() -> str:
    return Path("/proc/loadavg").read_text().split()[0]


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return int(probe.getsockname()[1])


class Server:
    def __init__(self, folder: Path, workers: int, max_body_mb: float) -> None:
        self.port = free_port()
        self.url = f"http://127.0.0.1:{self.port}"
        self.log = open(folder / f"serve-{self.port}.log", "w")  # noqa: SIM115
        self.process = subprocess.Popen(
            [sys.executable, "-m", "orvik", "serve", "--port", str(self.port), "--workers",
             str(workers), "--max-body", str(max_body_mb), "--max-time", "10", "--max-queue",
             "64"], stdout=self.log, stderr=subprocess.STDOUT, start_new_session=True)
        end = time.monotonic() + 90
        while time.monotonic() < end:
            try:
                if httpx.get(self.url + "/health", timeout=2).status_code == 200:
                    break
            except httpx.TransportError:
                time.sleep(0.2)
        else:
            raise SystemExit("the service did not start; see " + self.log.name)
        self.peak_own = 0
        self.peak_all = 0
        self._watching = True
        self._watcher = threading.Thread(target=self._watch, daemon=True)
        self._watcher.start()

    def _rss(self, pid: int) -> int:
        try:
            for line in Path(f"/proc/{pid}/status").read_text().splitlines():
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) * 1024
        except OSError:
            pass
        return 0

    def _children(self) -> list[int]:
        """The service's child processes (its workers, started from its threads)."""
        children = []
        for task in Path(f"/proc/{self.process.pid}/task").glob("*"):
            try:
                children += [int(p) for p in (task / "children").read_text().split()]
            except OSError:
                continue
        return children

    def _watch(self) -> None:
        while self._watching and self.process.poll() is None:
            own = self._rss(self.process.pid)
            total = own + sum(self._rss(c) for c in self._children())
            self.peak_own = max(self.peak_own, own)
            self.peak_all = max(self.peak_all, total)
            time.sleep(0.1)

    def alive(self) -> bool:
        try:
            return httpx.get(self.url + "/health", timeout=5).status_code == 200
        except httpx.TransportError:
            return False

    def stop(self) -> int | None:
        self._watching = False
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
        self.log.close()
        return self.process.returncode


def instances(count: int, seed: int, time_limit: float) -> list[dict[str, Any]]:
    rng = random.Random(seed)
    out = []
    for k in range(count):
        sites = rng.randint(50, 100)
        out.append(generate(points=sites + 1, vans=2, bikes=1, window_share=0.2,
                            van_only_share=0.1, objective=rng.choice(["min_max", "min_sum"]),
                            seed=seed * 1000 + k, time_limit=time_limit))
    return out


def percentile(values: list[float], q: float) -> float:
    if not values:
        return float("nan")
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, round(q * (len(ordered) - 1)))]


def run_load(server: Server, docs: list[dict[str, Any]], clients: int, kill_at: int
             ) -> dict[str, Any]:
    todo: queue.Queue[int] = queue.Queue()
    for k in range(len(docs)):
        todo.put(k)
    outcomes: dict[int, list[dict[str, Any]]] = collections.defaultdict(list)
    lock = threading.Lock()
    retries = collections.Counter[str]()
    killed: dict[str, Any] = {}
    finished = [0]

    def killer() -> None:
        while finished[0] < kill_at:
            time.sleep(0.05)
        while True:
            for worker in httpx.get(server.url + "/health").json()["runner"]["workers"]:
                if worker["job"]:
                    killed.update(pid=worker["pid"], job=worker["job"])
                    os.kill(worker["pid"], signal.SIGKILL)
                    return
            time.sleep(0.02)

    def client() -> None:
        with httpx.Client(base_url=server.url, timeout=120) as http:
            while True:
                try:
                    index = todo.get_nowait()
                except queue.Empty:
                    return
                sent = time.monotonic()
                while True:
                    try:
                        reply = http.post("/solve", json=docs[index])
                    except httpx.TransportError as error:
                        outcome = {"kind": "transport", "message": repr(error)}
                        break
                    if reply.status_code == 429:
                        with lock:
                            retries["429"] += 1
                        time.sleep(0.2)
                        continue
                    outcome = {"code": reply.status_code, "body": reply.json(),
                               "job": reply.headers.get("X-Orvik-Job")}
                    break
                outcome["turnaround"] = time.monotonic() - sent
                job = outcome.get("job") or outcome.get("body", {}).get("job")
                if job:
                    view = http.get(f"/jobs/{job}").json()
                    outcome["job"] = job
                    outcome["wait"] = (view["started"] or view["finished"]) - view["created"]
                with lock:
                    outcomes[index].append(outcome)
                    finished[0] += 1

    threads = [threading.Thread(target=client) for _ in range(clients)]
    hunter = threading.Thread(target=killer, daemon=True)
    started = time.monotonic()
    hunter.start()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    took = time.monotonic() - started
    return {"outcomes": outcomes, "seconds": took, "retries": retries, "killed": killed}


def judge(docs: list[dict[str, Any]], run: dict[str, Any]) -> dict[str, Any]:
    checked, errors, problems = 0, collections.Counter[str](), []
    job_ids = []
    for index, doc in enumerate(docs):
        got = run["outcomes"].get(index, [])
        if len(got) != 1:
            problems.append(f"job {index}: {len(got)} outcomes (lost or duplicated)")
            continue
        outcome = got[0]
        if outcome.get("job"):
            job_ids.append(outcome["job"])
        if outcome.get("code") == 200 and outcome["body"]["status"] == "no solution":
            # An honest answer where the reasons say why (a 1 s limit may end before the first
            # solution of a tight instance).
            reasons = outcome["body"]["reasons"]
            if not reasons:
                problems.append(f"job {index}: no solution and no reason given")
            errors[f"200 no solution: {'; '.join(reasons)}"] += 1
        elif outcome.get("code") == 200:
            report = check(doc, outcome["body"])
            visited = {n for r in outcome["body"]["routes"] for n in r["nodes"]}
            if report.ok and outcome["body"]["status"] == "solved" and len(visited) == len(
                    doc["nodes"]):
                checked += 1
            else:
                problems.append(f"job {index}: a solution the checker refuses: "
                                f"{report.violations[:2]} status {outcome['body']['status']}")
        else:
            message = outcome.get("body", {}).get("error") or outcome.get("message", "?")
            if not message or "Traceback" in message:
                problems.append(f"job {index}: an error without a clear message: {outcome}")
            errors[f"{outcome.get('code', 'no response')}: {message}"] += 1
    if len(set(job_ids)) != len(job_ids):
        problems.append("a job id answered two requests")
    return {"checked": checked, "errors": errors, "problems": problems}


def hostile_requests(max_body: int) -> list[tuple[str, str, bytes | None, dict[str, str], int]]:
    """(method, path, body, headers, expected status)."""
    good = json.dumps(generate(points=12, vans=1, bikes=1, seed=5, time_limit=1)).encode()
    j = {"Content-Type": "application/json"}
    cases: list[tuple[str, str, bytes | None, dict[str, str], int]] = []
    for body in (b"{", b'{"nodes": [', b"{'nodes': []}", b'{"a": 1,}', b"nul", b"[1, 2",
                 b'{"nodes": [] "agents": []}', b"\x00\x01", b"\xff\xfe\xfd", b"   ", b"",
                 b'"just a string"', b"[]", b"42", b"null", b"true"):
        cases.append(("POST", "/solve", body, j, 400))
    for depth in (2_000, 20_000, 200_000):
        for path, body in (("/jobs", b"[" * depth + b"]" * depth),
                           ("/validate", b'{"a":' * depth + b"1" + b"}" * depth)):
            cases.append(("POST", path, body, j, 413 if len(body) > max_body else 400))
    for number in (b"1" * 5000, b"-" + b"9" * 10_000):
        cases.append(("POST", "/jobs", b'{"nodes": [{"id": ' + number + b"}]}", j, 400))
    for number in (b"1e999", b"-1e999", b"1e308", b"123456789012345678901234567890"):
        cases.append(("POST", "/solve", b'{"nodes": [{"id": ' + number +
                      b', "x": 0, "y": 0}], "agents": []}', j, 422))
    for kind in ("text/plain", "application/xml", "multipart/form-data; boundary=x",
                 "application/x-www-form-urlencoded", "image/png", "jsonx"):
        cases.append(("POST", "/jobs", good, {"Content-Type": kind}, 415))
    cases.append(("POST", "/solve", good, {}, 415))
    for size in (max_body + 1, 3 * max_body):
        cases.append(("POST", "/jobs", b" " * size, j, 413))
    for job in ("0" * 32, "f" * 32, "zz", "..%2F", "%2e%2e%2f%2e%2e%2fetc%2fpasswd",
                "..%2F..%2Fetc%2Fpasswd", "C:%5Cwindows", "%00", "a" * 5000):
        cases.append(("GET", f"/jobs/{job}", None, {}, 404))
        cases.append(("DELETE", f"/jobs/{job}", None, {}, 404))
    for query in ("time_limit=-1", "time_limit=nan", "time_limit=inf", "time_limit=1e400",
                  "seed=-1", "seed=99999999999999999999999", "iterations=x", "clock=moon",
                  "improve=perhaps", "file=/etc/passwd", "instance=../x.json"):
        cases.append(("POST", f"/jobs?{query}", good, j, 400))
    for method, path in (("PUT", "/solve"), ("PATCH", "/jobs"), ("GET", "/solve"),
                         ("POST", "/health"), ("GET", "/../../etc/passwd"),
                         ("GET", "/static/../../etc/passwd")):
        cases.append((method, path, None, {}, 404 if "etc" in path else 405))
    return cases


def run_hostile(server: Server, max_body: int) -> dict[str, Any]:
    cases = hostile_requests(max_body)
    wrong = []
    with httpx.Client(base_url=server.url, timeout=60) as http:
        for method, path, body, headers, status in cases:
            try:
                reply = http.request(method, path, content=body, headers=headers)
                message = reply.json().get("error") if reply.headers.get(
                    "content-type", "").startswith("application/json") else None
                if reply.status_code != status or not message or "Traceback" in reply.text:
                    wrong.append(f"{method} {path[:60]} -> {reply.status_code} "
                                 f"{reply.text[:120]!r} (expected {status})")
            except httpx.HTTPError as error:
                wrong.append(f"{method} {path[:60]} -> {error!r}")
            if not server.alive():
                wrong.append(f"the service is down after {method} {path[:60]}")
                break
    return {"count": len(cases), "wrong": wrong}


def run_restart(server: Server, docs: list[dict[str, Any]]) -> dict[str, int]:
    """Stop the service while 4 clients send jobs: every response that arrives must be whole
    JSON; the others fail to connect or are cut before a response starts."""
    tally = collections.Counter[str]()
    lock = threading.Lock()
    stop_at = time.monotonic() + 2.0

    def client(k: int) -> None:
        with httpx.Client(base_url=server.url, timeout=60) as http:
            for doc in docs[k::4]:
                try:
                    reply = http.post("/solve", json=doc)
                    reply.json()
                    kind = f"whole {reply.status_code}"
                except httpx.ConnectError:
                    kind = "refused (service down)"
                except json.JSONDecodeError as error:
                    kind = f"HALF-WRITTEN (not JSON: {error})"
                except httpx.TransportError as error:
                    # httpx says so when a response body stops short of its length.
                    kind = (f"HALF-WRITTEN ({error})" if "complete message body" in str(error)
                            else f"closed before a response ({type(error).__name__}: {error})")
                with lock:
                    tally[kind] += 1
                if kind.startswith("refused"):
                    return

    threads = [threading.Thread(target=client, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    time.sleep(max(0.0, stop_at - time.monotonic()))
    tally[f"service exit status {server.stop()}"] += 1
    for t in threads:
        t.join()
    return dict(tally)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--jobs", type=int, default=200)
    parser.add_argument("--clients", type=int, default=8)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--time-limit", type=float, default=1.0)
    parser.add_argument("--max-body", type=float, default=1.0, help="MB")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()

    docs = instances(args.jobs, args.seed, args.time_limit)
    max_body = int(args.max_body * 1024 * 1024)
    folder = Path(tempfile.mkdtemp(prefix="orvik-serve-load-"))
    print(f"load average (1 min) before: {load()} on {os.cpu_count()} cores")
    server = Server(folder, args.workers, args.max_body)
    try:
        run = run_load(server, docs, args.clients, kill_at=args.jobs // 2)
        load_after_jobs = load()
        verdict = judge(docs, run)
        hostile = run_hostile(server, max_body)
        health = httpx.get(server.url + "/health").json()
    finally:
        peak_own, peak_all = server.peak_own, server.peak_all
        if server.process.poll() is None:
            server.stop()
    restart_server = Server(folder, args.workers, args.max_body)
    restart = run_restart(restart_server, docs[:40])
    # And up again: the service starts anew and solves.
    again = Server(folder, args.workers, args.max_body)
    try:
        answer = httpx.post(again.url + "/solve", json=docs[0], timeout=60)
        restart["solved after the restart"] = int(answer.json().get("status") == "solved")
    finally:
        again.stop()

    outcomes = [o[0] for o in run["outcomes"].values() if o]
    waits = [o["wait"] for o in outcomes if "wait" in o]
    turns = [o["turnaround"] for o in outcomes]
    print(f"jobs: {args.jobs} of 50-100 sites, {args.time_limit:g} s limits, {args.clients} "
          f"clients, --workers {args.workers}")
    print(f"took {run['seconds']:.1f} s: {args.jobs / run['seconds']:.2f} jobs/s")
    print(f"wait (queued until started): p50 {percentile(waits, 0.5):.2f} s, "
          f"p99 {percentile(waits, 0.99):.2f} s")
    print(f"turnaround (sent until answered): p50 {percentile(turns, 0.5):.2f} s, "
          f"p99 {percentile(turns, 0.99):.2f} s")
    print(f"429 answers retried: {run['retries']['429']}")
    print(f"solutions accepted by the checker: {verdict['checked']}")
    print(f"errors and answers without routes: {sum(verdict['errors'].values())}")
    for message, count in verdict["errors"].items():
        print(f"  {count} x {message}")
    print(f"killed worker: pid {run['killed'].get('pid')} during job {run['killed'].get('job')}")
    print(f"lost, duplicated or unclear: {len(verdict['problems'])}")
    for problem in verdict["problems"]:
        print(f"  {problem}")
    print(f"service's own counts: {health['jobs']}")
    print(f"peak memory: service {peak_own / 2**20:.0f} MiB, service and workers "
          f"{peak_all / 2**20:.0f} MiB")
    print(f"hostile requests: {hostile['count']}, answered wrongly: {len(hostile['wrong'])}; "
          f"service up after them: {not any('down' in w for w in hostile['wrong'])}")
    for wrong in hostile["wrong"]:
        print(f"  {wrong}")
    print(f"stopped under load: {restart}")
    print(f"load average (1 min) after the jobs: {load_after_jobs}, at the end: {load()}")
    bad = verdict["problems"] or hostile["wrong"] or any("HALF" in k for k in restart)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
