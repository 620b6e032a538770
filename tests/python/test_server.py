"""`orvik serve` through a real process on a loopback port, with httpx: every endpoint, every
refusal with its status and message, a stop that keeps routes, the token, a killed worker, the
queue bound, the retention of finished jobs, and jobs on a Dask cluster."""

from __future__ import annotations

import json
import os
import re
import signal
import socket
import subprocess
import sys
import time
from typing import Any

import pytest
from service_process import EXAMPLE, Service, grid_instance

TOKEN = "s3cret-token"
MAX_BODY_MB = 0.25


@pytest.fixture(scope="module")
def service(tmp_path_factory: pytest.TempPathFactory) -> Any:
    log = tmp_path_factory.mktemp("serve") / "serve.log"
    running = Service(log, "--workers", "2", "--max-time", "8", "--max-body", str(MAX_BODY_MB),
                      "--max-queue", "3", token=TOKEN)
    yield running
    assert running.stop() == 0, running.log_text()
    assert "Traceback" not in running.log_text()


@pytest.fixture
def client(service: Service) -> Any:
    with service.client() as c:
        yield c


def example() -> dict[str, Any]:
    return json.loads(EXAMPLE.read_text())


def cli_json(*args: str) -> Any:
    done = subprocess.run([sys.executable, "-m", "orvik", *args], capture_output=True, text=True,
                          check=False)
    return done


def test_health_and_the_page(service: Service, client: Any) -> None:
    health = client.get("/health").json()
    assert health["status"] == "ok"
    assert health["runner"]["kind"] == "processes"
    assert len(health["runner"]["workers"]) == 2
    assert all(w["pid"] for w in health["runner"]["workers"])
    page = client.get("/")
    assert page.status_code == 200 and page.headers["content-type"].startswith("text/html")
    # One page with nothing from elsewhere: no external scripts, styles or fonts.
    assert not re.search(r"<(script|link|img)[^>]+(src|href)=", page.text)
    assert not re.search(r"https?://(?!www\.w3\.org/2000/svg)", page.text)
    assert f"Uvicorn running on http://127.0.0.1:{service.port}" in service.log_text()


def test_solve_answers_as_the_command_line(client: Any) -> None:
    options = {"time_limit": 2, "seed": 3, "iterations": 300}
    reply = client.post("/solve", json={"instance": example(), "options": options})
    assert reply.status_code == 200, reply.text
    served = reply.json()
    done = cli_json("solve", str(EXAMPLE), "--json", "-q", "--time-limit", "2", "--seed", "3",
                    "--iterations", "300")
    assert done.returncode == 0, done.stderr
    printed = json.loads(done.stdout)
    assert served.keys() == printed.keys()
    for key in ("status", "objective", "objective_value", "max_cost", "sum_cost", "notes"):
        assert served[key] == printed[key], key
    assert [r["nodes"] for r in served["routes"]] == [r["nodes"] for r in printed["routes"]]
    assert [r["agent"] for r in served["routes"]] == [100, 101]
    assert re.fullmatch(r"[0-9a-f]{32}", reply.headers["X-Orvik-Job"])


def test_a_bare_document_takes_its_options_from_the_query(client: Any) -> None:
    import orvik

    model = orvik.Model.from_json(str(EXAMPLE))
    for body in (EXAMPLE.read_text(), model.to_json()):
        reply = client.post("/solve?time_limit=1&seed=2&improve=false", content=body,
                            headers={"Content-Type": "application/json"})
        assert reply.status_code == 200, reply.text
        assert reply.json()["status"] == "solved"


def test_a_job_reports_progress_and_streams_events_to_its_end(service: Service,
                                                              client: Any) -> None:
    created = client.post("/jobs", json={"instance": grid_instance(30),
                                         "options": {"time_limit": 1.5}})
    assert created.status_code == 202, created.text
    job = created.json()
    assert created.headers["Location"] == f"/jobs/{job['id']}"
    assert job["status"] in ("queued", "running") and job["time_limit"] == 1.5
    events: list[tuple[str, dict[str, Any]]] = []
    with client.stream("GET", f"/jobs/{job['id']}/events") as stream:
        assert stream.headers["content-type"].startswith("text/event-stream")
        name = None
        for line in stream.iter_lines():
            if line.startswith("event: "):
                name = line[7:]
            elif line.startswith("data: "):
                events.append((name, json.loads(line[6:])))
    kinds = [name for name, _ in events]
    assert kinds[-1] == "end" and kinds.count("end") == 1
    progress = [view["progress"] for name, view in events if name == "progress"
                if view["progress"]]
    assert progress and all({"phase", "elapsed", "best", "work"} <= p.keys() for p in progress)
    final = events[-1][1]
    assert final["status"] == "solved" and final["solution"]["routes"]
    assert final["history"]
    again = client.get(f"/jobs/{job['id']}").json()
    assert again["solution"] == final["solution"]
    # The events of a job that has ended: its end at once.
    with client.stream("GET", f"/jobs/{job['id']}/events") as stream:
        text = "".join(stream.iter_text())
    assert text.startswith("event: end")


def test_a_running_job_streams_its_best_routes_as_they_improve(service: Service,
                                                               client: Any) -> None:
    job = client.post("/jobs", json={"instance": grid_instance(80),
                                     "options": {"time_limit": 5}}).json()
    live: list[list[dict[str, Any]]] = []
    final: dict[str, Any] = {}
    with client.stream("GET", f"/jobs/{job['id']}/events") as stream:
        name = None
        for line in stream.iter_lines():
            if line.startswith("event: "):
                name = line[7:]
            elif line.startswith("data: "):
                view = json.loads(line[6:])
                if name == "end":
                    final = view
                elif view["status"] == "running" and (view["progress"] or {}).get("routes"):
                    live.append(view["progress"]["routes"])
    assert final["status"] == "solved", final
    assert live, "no event brought routes before the job's end"
    for routes in live:
        # Every report's routes are a whole solution in node ids, as the solution gives them.
        assert [r["agent"] for r in routes] == [100, 101, 102]
        assert all(r["nodes"][0] == r["nodes"][-1] == 0 and r["path"] == r["nodes"]
                   for r in routes)
        assert sorted(n for r in routes for n in r["nodes"][1:-1]) == list(range(1, 81))
        assert set(routes[0]) == {"agent", "agent_id", "type", "cost", "path", "nodes"}
    # They change while the job runs, and end no better than the solution.
    assert len({json.dumps([r["nodes"] for r in routes]) for routes in live}) >= 2
    assert max(r["cost"] for r in live[-1]) >= final["solution"]["objective_value"] - 1e-6


def test_a_stop_keeps_the_best_routes(service: Service, client: Any) -> None:
    job = client.post("/jobs", json={"instance": grid_instance(60),
                                     "options": {"time_limit": 8}}).json()
    service.wait_for(job["id"], lambda v: (v["progress"] or {}).get("best") is not None)
    stopped = client.delete(f"/jobs/{job['id']}")
    assert stopped.status_code == 200
    view = stopped.json()
    assert view["status"] == "interrupted"
    assert view["solution"]["status"] == "interrupted"
    assert len(view["solution"]["routes"]) == 3
    visited = {n for r in view["solution"]["routes"] for n in r["nodes"]}
    assert visited == set(range(61))
    assert view["elapsed"] < 7
    # Stopping again changes nothing.
    assert client.delete(f"/jobs/{job['id']}").json()["solution"] == view["solution"]


def test_a_time_limit_above_the_maximum_is_clamped_and_said(service: Service,
                                                           client: Any) -> None:
    doc = example()
    doc["options"]["time_limit"] = 500
    job = client.post("/jobs", json=doc).json()
    assert job["time_limit"] == 8
    assert any("500 s, is above this server's maximum: the job runs for at most 8 s" in note
               for note in job["notes"])
    # Stopped once it has routes (a job stopped while it waits for a worker has none).
    service.wait_for(job["id"], lambda v: (v["progress"] or {}).get("best") is not None)
    view = client.delete(f"/jobs/{job['id']}").json()
    assert any("maximum" in note for note in view["solution"]["notes"])


def test_validate_lists_what_orvik_validate_prints(tmp_path: Any, client: Any) -> None:
    doc = example()
    doc["agents"][1]["start_node"] = 42
    doc["nodes"][2]["x"] = "far"
    doc["options"]["time_limit"] = -1
    path = tmp_path / "broken.json"
    path.write_text(json.dumps(doc))
    reply = client.post("/validate", json=doc)
    assert reply.status_code == 200
    found = reply.json()
    assert found["valid"] is False
    assert {e["path"] for e in found["errors"]} >= {"$.agents[1].start_node", "$.nodes[2].x"}
    done = cli_json("validate", str(path))
    printed = [line.removeprefix(f"{path}: ") for line in done.stdout.splitlines()[:-1]]
    assert [f["text"] for f in found["errors"] + found["warnings"]] == sorted(
        printed, key=lambda line: not line.startswith("error"))
    assert client.post("/validate", json=example()).json() == {"valid": True, "errors": [],
                                                               "warnings": []}


def _deep(levels: int) -> bytes:
    return b"[" * levels + b"]" * levels


# Hostile and mistaken requests: (method, path, body bytes, headers, status, words of the
# message).
JSON = {"Content-Type": "application/json"}
REFUSALS = [
    ("POST", "/solve", b'{"nodes": [', JSON, 400, "not valid JSON (line 1, column 12"),
    ("POST", "/jobs", b"", JSON, 400, "the body is empty"),
    ("POST", "/jobs", _deep(100_000), JSON, 400, "nested too deeply"),
    ("POST", "/jobs", b'{"nodes": ' + b"9" * 5000 + b"}", JSON, 400, "a number cannot be read"),
    ("POST", "/jobs", b"\xff\xfe{}", JSON, 400, "not UTF-8"),
    ("POST", "/jobs", b"[1, 2]", JSON, 400, "expected a JSON object"),
    ("POST", "/jobs", b'{"instance": 3}', JSON, 400, "$.instance: expected an object"),
    ("POST", "/jobs", b"{}", {"Content-Type": "text/plain"}, 415, "must be JSON"),
    ("POST", "/validate", b"{}", {}, 415, "Content-Type: application/json"),
    ("POST", "/jobs", b" " * int(MAX_BODY_MB * 1024 * 1024 + 10), JSON, 413, "--max-body"),
    ("POST", "/jobs?time_limit=-1", EXAMPLE.read_bytes(), JSON, 400,
     "time_limit must be a positive, finite number"),
    ("POST", "/jobs?time_limit=soon", EXAMPLE.read_bytes(), JSON, 400,
     "not a number of seconds"),
    ("POST", "/jobs?seed=-4", EXAMPLE.read_bytes(), JSON, 400, "seed must be"),
    ("POST", "/jobs?path=/etc/passwd", EXAMPLE.read_bytes(), JSON, 400,
     "unknown option 'path'"),
    ("POST", "/solve", json.dumps({"instance": {}, "options": {"clock": "sundial"}}).encode(),
     JSON, 400, "clock must be one of"),
    ("POST", "/solve", json.dumps({"nodes": 5, "agents": []}).encode(), JSON, 422, "$.nodes"),
    ("POST", "/solve", b'{"nodes": [{"id": 1e999, "x": 0, "y": 0}], "agents": []}', JSON, 422,
     "$.nodes[0].id"),
    ("GET", "/jobs/0123456789abcdef0123456789abcdef", None, {}, 404, "no job"),
    ("GET", "/jobs/..%2F..%2Fetc%2Fpasswd", None, {}, 404, "no"),
    ("GET", "/jobs/../../etc/passwd/events", None, {}, 404, "no"),
    ("DELETE", "/jobs/not-a-job", None, {}, 404, "job ids are 32 hexadecimal digits"),
    ("GET", "/nowhere", None, {}, 404, "no such endpoint: GET /nowhere"),
    ("GET", "/jobs/..%2F", None, {}, 404, "no such endpoint"),
    ("PUT", "/solve", None, {}, 405, "PUT is not allowed on /solve"),
]


@pytest.mark.parametrize(("method", "path", "body", "headers", "status", "words"), REFUSALS,
                         ids=[f"{r[4]}-{r[5][:24]}" for r in REFUSALS])
def test_refusals_say_what_is_wrong(service: Service, client: Any, method: str, path: str,
                                    body: bytes | None, headers: dict[str, str], status: int,
                                    words: str) -> None:
    reply = client.request(method, path, content=body, headers=headers)
    assert reply.status_code == status, reply.text[:500]
    message = reply.json()["error"]
    assert words in message, message
    assert "Traceback" not in reply.text
    assert client.get("/health").status_code == 200


def test_an_invalid_instance_lists_its_errors_with_their_paths(client: Any) -> None:
    doc = example()
    doc["agents"][0]["end_node"] = 77
    reply = client.post("/jobs", json=doc)
    assert reply.status_code == 422
    body = reply.json()
    assert body["error"].startswith("the instance has 1 error(s):")
    assert [e["path"] for e in body["errors"]] == ["$.agents[0].end_node"]


@pytest.mark.parametrize("authorization", [None, "Bearer wrong", "Basic czNjcmV0LXRva2Vu",
                                           f"Bearer {TOKEN}x"])
def test_the_api_needs_the_token(service: Service, authorization: str | None) -> None:
    headers = {"Authorization": authorization} if authorization else {}
    with service.client(token="", headers=headers) as anonymous:
        for method, path in (("GET", "/health"), ("POST", "/solve"), ("GET", "/jobs/x")):
            reply = anonymous.request(method, path)
            assert reply.status_code == 401
            assert reply.headers["WWW-Authenticate"] == "Bearer"
            assert "bearer token" in reply.json()["error"]
        assert anonymous.get("/").status_code == 200  # the page holds no data


def test_a_full_queue_refuses_with_429(service: Service, client: Any) -> None:
    doc = grid_instance(40)
    jobs = []
    try:
        for _ in range(2 + 3):  # two running, three waiting
            reply = client.post("/jobs", json={"instance": doc, "options": {"time_limit": 8}})
            assert reply.status_code == 202, reply.text
            jobs.append(reply.json()["id"])
        service.wait_for(jobs[1], lambda v: v["status"] == "running")
        queued = client.get(f"/jobs/{jobs[-1]}").json()
        assert queued["status"] == "queued" and queued["queue_position"] == 3
        refused = client.post("/jobs", json={"instance": doc, "options": {"time_limit": 8}})
        assert refused.status_code == 429
        assert "the queue is full (3 jobs wait)" in refused.json()["error"]
    finally:
        for job in reversed(jobs):
            client.delete(f"/jobs/{job}")
    view = client.get(f"/jobs/{jobs[-1]}").json()
    assert view["status"] == "interrupted" and view["error"].startswith("stopped before")


def test_a_killed_worker_fails_its_job_and_the_service_goes_on(service: Service,
                                                               client: Any) -> None:
    job = client.post("/jobs", json={"instance": grid_instance(40),
                                     "options": {"time_limit": 8}}).json()
    service.wait_for(job["id"], lambda v: v["status"] == "running")
    workers = client.get("/health").json()["runner"]["workers"]
    pid = next(w["pid"] for w in workers if w["job"] == job["id"])
    os.kill(pid, signal.SIGKILL)
    view = service.wait_for(job["id"], lambda v: v["status"] == "failed", 20)
    assert f"the worker process solving this job (pid {pid}) was killed by signal 9" in (
        view["error"])
    assert view["solution"] is None
    # A new worker takes its place and the service solves on.
    reply = client.post("/solve", json={"instance": example(), "options": {"time_limit": 0.5}})
    assert reply.status_code == 200 and reply.json()["status"] == "solved"
    pids = {w["pid"] for w in client.get("/health").json()["runner"]["workers"]}
    assert pid not in pids and len(pids) == 2


def test_solve_reports_a_killed_worker_as_a_server_error(service: Service, client: Any) -> None:
    import threading

    def kill_when_running() -> None:
        end = time.monotonic() + 30
        while time.monotonic() < end:
            for w in client.get("/health").json()["runner"]["workers"]:
                if w["job"]:
                    os.kill(w["pid"], signal.SIGKILL)
                    return
            time.sleep(0.05)

    killer = threading.Thread(target=kill_when_running)
    killer.start()
    with service.client() as other:
        reply = other.post("/solve", json={"instance": grid_instance(30),
                                           "options": {"time_limit": 6}})
    killer.join()
    assert reply.status_code == 500
    assert "was killed by signal 9" in reply.json()["error"]


@pytest.fixture(scope="module")
def short_memory(tmp_path_factory: pytest.TempPathFactory) -> Any:
    log = tmp_path_factory.mktemp("serve-short") / "serve.log"
    running = Service(log, "--keep", "1", "--keep-jobs", "2")
    yield running
    assert running.stop() == 0


def test_finished_jobs_are_dropped_after_their_time(short_memory: Service) -> None:
    with short_memory.client() as client:
        ids = [client.post("/solve", json={"instance": example(),
                                           "options": {"time_limit": 0.3}}).headers["X-Orvik-Job"]
               for _ in range(3)]
        # At most two finished jobs are kept: the first is gone already.
        assert [client.get(f"/jobs/{i}").status_code for i in ids] == [404, 200, 200]
        time.sleep(1.5)
        gone = client.get(f"/jobs/{ids[2]}")
        assert gone.status_code == 404 and "kept for 1 s" in gone.json()["error"]
        assert client.get("/health").json()["kept"] == 0


def test_jobs_run_on_a_dask_cluster(tmp_path: Any) -> None:
    import distributed  # the orvik[distributed] extra, which requirements-dev.txt installs

    with distributed.LocalCluster(n_workers=1, threads_per_worker=2, processes=True,
                                  dashboard_address=":0") as cluster:
        running = Service(tmp_path / "serve.log", "--scheduler", cluster.scheduler_address)
        try:
            with running.client() as client:
                health = client.get("/health").json()
                assert health["runner"] == {"kind": "dask",
                                            "scheduler": cluster.scheduler_address,
                                            "slots": 2, "running": 0}
                reply = client.post("/solve", json={"instance": example(),
                                                    "options": {"time_limit": 0.5}})
                assert reply.status_code == 200, reply.text
                assert reply.json()["status"] == "solved"
                job = client.post("/jobs", json={"instance": grid_instance(60),
                                                 "options": {"time_limit": 20}}).json()
                running.wait_for(job["id"], lambda v: v["status"] == "running")
                # Progress flows back from the cluster, the best routes with it.
                seen = running.wait_for(
                    job["id"], lambda v: (v["progress"] or {}).get("routes") is not None, 15)
                assert seen["status"] == "running"
                assert sorted(n for r in seen["progress"]["routes"]
                              for n in r["nodes"][1:-1]) == list(range(1, 61))
                view = client.delete(f"/jobs/{job['id']}").json()
                assert view["status"] == "interrupted", view
                assert len(view["solution"]["routes"]) == 3
                assert view["elapsed"] < 15
        finally:
            assert running.stop() == 0, running.log_text()


def test_stopping_the_service_answers_the_waiting_solve_with_its_best_routes(
        tmp_path: Any) -> None:
    import threading

    running = Service(tmp_path / "serve.log", "--workers", "1")
    replies: list[Any] = []
    with running.client() as client:
        waiting = threading.Thread(target=lambda: replies.append(client.post(
            "/solve", json={"instance": grid_instance(60), "options": {"time_limit": 30}})))
        waiting.start()
        end = time.monotonic() + 30
        while time.monotonic() < end and not any(
                w["job"] for w in client.get("/health").json()["runner"]["workers"]):
            time.sleep(0.05)
        time.sleep(1.0)
        assert running.stop() == 0, running.log_text()
        waiting.join(30)
    [reply] = replies
    assert reply.status_code == 200
    solution = reply.json()
    assert solution["status"] == "interrupted" and len(solution["routes"]) == 3


def test_a_solve_whose_caller_leaves_is_stopped(service: Service, client: Any) -> None:
    import httpx

    def interrupted() -> int:
        return client.get("/health").json()["jobs"].get("interrupted", 0)

    before = interrupted()
    with service.client() as impatient, pytest.raises(httpx.ReadTimeout):
        impatient.post("/solve", json={"instance": grid_instance(50),
                                       "options": {"time_limit": 8}}, timeout=2)
    end = time.monotonic() + 4
    while interrupted() == before and time.monotonic() < end:
        time.sleep(0.05)
    assert interrupted() == before + 1
    assert client.get("/health").json()["running"] == 0


@pytest.mark.parametrize(("args", "status", "words"), [
    (["--port", "70000"], 2, "--port 70000: a port is from 0 to 65535"),
    (["--workers", "0"], 2, "must be a positive, finite number"),
    (["--max-time", "inf"], 2, "must be a positive, finite number"),
    (["--workers", "2", "--scheduler", "tcp://127.0.0.1:1"], 2, "not allowed with argument"),
    (["--scheduler", "tcp://127.0.0.1:1"], 1, "cannot reach the Dask scheduler"),
    (["--host", "no-such-host.invalid"], 2, "--host no-such-host.invalid: not a known host"),
    # An address reserved for documentation: no interface of this machine has it.
    (["--host", "192.0.2.1", "--port", "8000"], 1,
     "cannot listen on 192.0.2.1 port 8000: Cannot assign requested address"),
])
def test_the_command_refuses_what_it_cannot_use(args: list[str], status: int,
                                                words: str) -> None:
    done = subprocess.run([sys.executable, "-m", "orvik", "serve", *args], capture_output=True,
                          text=True, timeout=60, check=False)
    assert done.returncode == status
    assert words in done.stderr and "Traceback" not in done.stderr


def test_a_port_another_program_holds_is_refused_in_one_line() -> None:
    with socket.socket() as holder:
        holder.bind(("127.0.0.1", 0))
        holder.listen()
        port = holder.getsockname()[1]
        done = subprocess.run([sys.executable, "-m", "orvik", "serve", "--port", str(port)],
                              capture_output=True, text=True, timeout=60, check=False)
    assert done.returncode == 1
    assert done.stderr.splitlines() == [
        (f"orvik: cannot listen on 127.0.0.1 port {port}: Address already in use; another "
         "program listens there (choose another --port)")]
