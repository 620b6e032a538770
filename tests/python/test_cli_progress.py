"""The command line while it solves: live progress on standard error, --quiet, Ctrl-C keeping
the best routes, and solve-many over a batch of files."""

from __future__ import annotations

import json
import os
import re
import signal
import subprocess
import sys
import time

import orvik
import pytest
from orvik.random_instances import random_instance

IMPROVEMENT = re.compile(r"^ *\d+\.\d\d s  min_max \d+(\.\d+)?  [\d,]+ states/s$")


def test_solve_shows_a_line_per_improvement_on_standard_error(run_cli, long_instance):
    done = run_cli("solve", str(long_instance), "--time-limit", "1", "--json", "--no-improve")
    assert done.returncode == 0, done.stderr
    lines = done.stderr.splitlines()
    assert lines[0] == f"solving {long_instance}: 51 nodes, 3 agents, 1 s of wall-clock time"
    improvements = [line for line in lines if IMPROVEMENT.match(line)]
    assert improvements
    solution = json.loads(done.stdout)
    last = float(improvements[-1].split()[3])
    assert last == pytest.approx(solution["objective_value"], rel=1e-5)
    assert solution["statistics"]["clock"] == "wall"


@pytest.mark.parametrize("clock", ["wall", "cpu"])
def test_quiet_shows_no_progress(run_cli, long_instance, clock):
    done = run_cli("solve", str(long_instance), "--time-limit", "0.5", "--clock", clock, "-q",
                   "--json", "--no-improve")
    assert done.returncode == 0, done.stderr
    assert done.stderr == ""
    solution = json.loads(done.stdout)
    assert solution["statistics"]["clock"] == clock
    # The limit bounds the whole solve: the search gets what its set-up leaves of it.
    assert solution["statistics"]["search_time"] >= 0.4


def _start(*args: str) -> subprocess.Popen[str]:
    env = {k: v for k, v in os.environ.items() if k != "PYTHONUNBUFFERED"}
    return subprocess.Popen([sys.executable, "-m", "orvik", *args], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, env=env)


def _interrupt(child: subprocess.Popen[str], ready: re.Pattern[str]) -> tuple[str, str, float]:
    """Send SIGINT once standard error shows a line matching `ready`; returns the output and the
    seconds from the signal to the exit."""
    assert child.stderr is not None
    seen = []
    try:
        for line in child.stderr:
            seen.append(line)
            if ready.match(line.rstrip("\n")):
                break
        else:
            pytest.fail(f"no line matched {ready.pattern}: {''.join(seen)}")
        time.sleep(0.3)
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=30)
        return out, "".join(seen) + err, time.monotonic() - sent
    finally:
        child.kill()


def test_ctrl_c_prints_the_best_routes_and_exits_130(long_instance, tmp_path):
    written = tmp_path / "result.json"
    child = _start("solve", str(long_instance), "--time-limit", "60", "--json", "-o",
                   str(written), "--no-improve")
    out, err, took = _interrupt(child, IMPROVEMENT)
    assert child.returncode == 130, err
    assert took < 1.0
    assert "orvik: interrupted: the routes above are the best found before the stop" in err
    assert "Traceback" not in err
    solution = json.loads(out)
    assert solution["status"] == "interrupted"
    assert json.loads(written.read_text()) == solution
    instance = json.loads(long_instance.read_text())
    report = orvik.check(instance, solution)
    assert report.ok, report.violations
    checked = subprocess.run([sys.executable, "-m", "orvik", "check", str(long_instance),
                              str(written)], capture_output=True, text=True, check=False)
    assert checked.returncode == 0, checked.stdout + checked.stderr


def test_ctrl_c_in_the_report_view_says_the_routes_are_interrupted(long_instance):
    child = _start("solve", str(long_instance), "--time-limit", "60", "--no-improve")
    out, err, _ = _interrupt(child, IMPROVEMENT)
    assert child.returncode == 130, err
    lines = out.splitlines()
    assert lines[0] == "status: interrupted"
    assert lines[1] == "interrupted: these are the best routes found before the stop"
    assert lines[2].startswith("objective: min_max = ")
    assert sum(1 for line in lines if line.startswith("agent ")) == 3


@pytest.fixture
def batch(tmp_path):
    """Three small instance files and a broken one."""
    paths = []
    for seed in range(3):
        path = tmp_path / f"small_{seed}.json"
        path.write_text(json.dumps(random_instance(seed, missing=0.0)))
        paths.append(path)
    broken = tmp_path / "broken.json"
    broken.write_text('{"nodes": [')
    return paths, broken


def test_solve_many_writes_a_file_per_instance_and_a_summary(run_cli, batch, tmp_path):
    paths, broken = batch
    out = tmp_path / "results"
    done = run_cli("solve-many", *map(str, paths), str(broken), "--workers", "2", "--out",
                   str(out), "--time-limit", "5", "-q")
    assert done.returncode == 1, done.stderr  # the broken file fails
    rows = [line.split() for line in done.stdout.splitlines()]
    assert rows[0] == ["instance", "status", "objective", "seconds", "result"]
    by_instance = {row[0]: row for row in rows[1:-1]}
    assert by_instance[str(broken)][1:5] == ["error", "-", "-", str(broken) + ":"]
    assert done.stdout.splitlines()[-1] == "3 of 4 solved"
    for path in paths:
        row = by_instance[str(path)]
        assert row[1] == "solved" and row[-1] == str(out / f"{path.stem}.json")
        serial = orvik.Model.from_json(path).solve(5)
        written = orvik.Solution.from_json(out / f"{path.stem}.json", instance=path)
        assert written.check().ok
        assert written.objective_value == pytest.approx(serial.objective_value)
        assert float(row[2]) == pytest.approx(serial.objective_value, rel=1e-5)
    assert sorted(p.name for p in out.iterdir()) == sorted(f"{p.stem}.json" for p in paths)


def test_solve_many_shows_a_line_per_instance(run_cli, batch, tmp_path):
    paths, _ = batch
    done = run_cli("solve-many", *map(str, paths), "--out", str(tmp_path / "r"),
                   "--time-limit", "5")
    assert done.returncode == 0, done.stderr
    # A line per instance as it finishes.
    assert sorted(line.split(":")[0] for line in done.stderr.splitlines()) == list(map(str, paths))
    assert all(": solved, " in line for line in done.stderr.splitlines())


def test_solve_many_names_a_missing_scheduler(run_cli, batch, tmp_path):
    paths, _ = batch
    done = run_cli("solve-many", str(paths[0]), "--out", str(tmp_path / "r"),
                   "--scheduler", "tcp://127.0.0.1:9", "-q")
    assert done.returncode == 1
    assert done.stderr.startswith("orvik: cannot reach the Dask scheduler at tcp://127.0.0.1:9")
    assert "Traceback" not in done.stderr


def test_ctrl_c_stops_a_batch_at_once(long_instance, tmp_path):
    child = _start("solve-many", str(long_instance), str(long_instance), "--workers", "2",
                   "--out", str(tmp_path / "r"), "--time-limit", "60", "--no-improve")
    assert child.stderr is not None
    time.sleep(1.5)  # both solves run; nothing is printed before one ends
    sent = time.monotonic()
    child.send_signal(signal.SIGINT)
    _, err = child.communicate(timeout=30)
    assert child.returncode == 130, err
    assert time.monotonic() - sent < 1.0
    assert "orvik: interrupted" in err
    assert "Traceback" not in err
