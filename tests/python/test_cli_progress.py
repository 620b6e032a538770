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
from pathlib import Path

import orvik
import pytest
from conftest import scattered_instance
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


def test_the_first_line_counts_one_agent_in_the_singular(run_cli, tmp_path):
    path = tmp_path / "alone.json"
    path.write_text(json.dumps(scattered_instance(2, 1, 1)), encoding="utf-8")
    done = run_cli("solve", str(path), "--time-limit", "0.2", "--json", "--no-improve")
    assert done.returncode == 0, done.stderr
    assert done.stderr.splitlines()[0] == f"solving {path}: 2 nodes, 1 agent, 0.2 s of wall-clock time"


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


def _interrupt(child: subprocess.Popen[str], ready: re.Pattern[str],
               signum: int = signal.SIGINT) -> tuple[str, str, float]:
    """Send SIGINT (or `signum`) once standard error shows a line matching `ready`; returns the
    output and the seconds from the signal to the exit."""
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
        return _stop(child, signum, "".join(seen))
    finally:
        child.kill()


def _wait_for(folder: Path) -> None:
    """Wait until a command has made its output folder (it does so before it solves), however
    slowly a busy machine starts it."""
    deadline = time.monotonic() + 60
    while not folder.exists() and time.monotonic() < deadline:
        time.sleep(0.05)


def _stop(child: subprocess.Popen[str], signum: int, seen: str = "") -> tuple[str, str, float]:
    """Send a signal and wait for the exit; returns the output and the seconds it took."""
    try:
        sent = time.monotonic()
        child.send_signal(signum)
        out, err = child.communicate(timeout=30)
        return out, seen + err, time.monotonic() - sent
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
    _wait_for(tmp_path / "r")  # the folder is made once the command has started
    time.sleep(1.5)  # both solves run; nothing is printed before one ends
    sent = time.monotonic()
    child.send_signal(signal.SIGINT)
    _, err = child.communicate(timeout=30)
    assert child.returncode == 130, err
    assert time.monotonic() - sent < 1.0
    assert "orvik: interrupted" in err
    assert "Traceback" not in err


@pytest.mark.parametrize("view", ["--json", "--positions"])
def test_sigterm_keeps_and_prints_the_best_routes(long_instance, tmp_path, view):
    written = tmp_path / "result.json"
    child = _start("solve", str(long_instance), "--time-limit", "60", view, "-o", str(written),
                   "--no-improve")
    out, err, _ = _interrupt(child, IMPROVEMENT, signal.SIGTERM)
    assert child.returncode == 128 + signal.SIGTERM, err
    assert "orvik: interrupted by SIGTERM: the routes above are the best found before the stop" \
        in err
    assert "Traceback" not in err
    solution = json.loads(written.read_text())
    assert solution["status"] == "interrupted"
    assert orvik.check(json.loads(long_instance.read_text()), solution).ok
    if view == "--json":
        assert json.loads(out) == solution
    else:
        assert out.splitlines()[0] == "status: interrupted"
        assert sum(1 for line in out.splitlines() if line.startswith("agent ")) == 3


def test_sigterm_stops_a_batch_and_writes_the_best_routes(long_instance, tmp_path):
    out = tmp_path / "r"
    child = _start("solve-many", str(long_instance), "--out", str(out), "--time-limit", "60",
                   "--no-improve")
    _wait_for(out)
    time.sleep(1.0)
    table, err, _ = _stop(child, signal.SIGTERM)
    assert child.returncode == 128 + signal.SIGTERM, err
    assert "orvik: interrupted by SIGTERM" in err and "Traceback" not in err
    assert table.splitlines()[1].split()[1] == "interrupted"
    written = orvik.Solution.from_json(out / "long_instance.json", instance=long_instance)
    assert written.status == "interrupted" and written.routes and written.check().ok


@pytest.mark.parametrize("command", ["solve", "solve-many"])
def test_a_closed_pipe_ends_quietly_and_keeps_the_files(long_instance, tmp_path, command):
    """`orvik solve ... | head`: the reader leaves before the routes are printed."""
    written = tmp_path / "result.json"
    args = (["solve", str(long_instance), "-o", str(written)] if command == "solve" else
            ["solve-many", str(long_instance), "--out", str(tmp_path / "out")])
    reader, writer = os.pipe()
    os.close(reader)  # nobody reads: every write to standard output fails with EPIPE
    try:
        child = subprocess.Popen([sys.executable, "-m", "orvik", *args, "--time-limit", "0.5",
                                  "--no-improve", "-q"], stdout=writer,
                                 stderr=subprocess.PIPE, text=True)
    finally:
        os.close(writer)
    _, err = child.communicate(timeout=120)
    assert err == ""
    assert child.returncode == 128 + signal.SIGPIPE
    solution = orvik.Solution.from_json(written if command == "solve"
                                        else tmp_path / "out" / "long_instance.json",
                                        instance=long_instance)
    assert solution.solved and solution.check().ok


def _report(elapsed, best, work=1, phase="improvement", improved=True):
    return orvik.ProgressReport(phase, elapsed, work, best, improved)


def test_progress_prints_new_bests_and_otherwise_a_line_at_a_slow_pace(monkeypatch):
    from io import StringIO

    from orvik import live
    from rich.console import Console

    stream = StringIO()
    progress = live.SolveProgress(60, "min_max", Console(file=stream, highlight=False))
    reports = [_report(0.1, None, 0, "search", False),  # no solution yet: nothing
               _report(0.2, 50.0),                      # first best
               _report(0.3, 50.0),                      # the same value, improved: nothing
               _report(5.0, 42.5, 5),                   # new best
               _report(10.4, 42.5, 11, improved=False),  # 5.4 s since the last line: nothing
               _report(15.0, 42.5, 30, improved=False),  # 10 s since: a line at a slow pace
               _report(16.0, 42.5, 32),                 # improved, the same value: nothing
               _report(25.0, 42.5, 50, improved=False)]  # 10 s again
    monkeypatch.setattr(live.time, "monotonic", iter(r.elapsed for r in reports).__next__)
    progress.last_line = 0.0
    for report in reports:
        progress(report)
    lines = stream.getvalue().splitlines()
    assert [line.split()[3] for line in lines] == ["50", "42.5", "42.5", "42.5"]
    assert lines[0].endswith("  5 iterations/s") and lines[2].endswith("  2 iterations/s")
    assert lines[3] == "   25.00 s  min_max 42.5  2 iterations/s"
    assert len(set(lines)) == len(lines)


def test_progress_says_it_is_alive_before_the_first_solution(monkeypatch):
    from io import StringIO

    from orvik import live
    from rich.console import Console

    stream = StringIO()
    progress = live.SolveProgress(60, "min_sum", Console(file=stream, highlight=False))
    monkeypatch.setattr(live.time, "monotonic", iter([3.0, 12.0]).__next__)
    progress.last_line = 0.0
    progress(_report(3.0, None, 3000, "search", False))
    progress(_report(12.0, None, 12000, "search", False))
    assert stream.getvalue().splitlines() == ["   12.00 s  min_sum -  1,000 states/s"]


@pytest.mark.parametrize(("work", "elapsed", "phase", "pace"), [
    (1, 1.0, "improvement", "1 iteration/s"),
    (0, 1.0, "improvement", "0 iterations/s"),
    (2, 1.0, "search", "2 states/s"),
    (1234567, 1.0, "search", "1,234,567 states/s"),
    (1, 1.0, "construction", "1 insertion/s"),
])
def test_the_pace_speaks_plain_english(work, elapsed, phase, pace):
    from orvik.live import improvement_line

    line = improvement_line(_report(elapsed, 7.0, work, phase), "min_sum")
    assert line == f"    1.00 s  min_sum 7  {pace}"
