"""Nothing computed is lost: solve-many writes each solution as soon as it is there, whole,
into a folder it checked first, never over an instance or through a link; Ctrl-C keeps what is
done and the best routes of what was running; `solve -o` that cannot write still shows the
routes."""

from __future__ import annotations

import json
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

import orvik
import pytest
from orvik.random_instances import random_instance
from test_validation import _document


def _instances(folder: Path, count: int = 2) -> list[Path]:
    folder.mkdir(parents=True, exist_ok=True)
    paths = []
    for seed in range(count):
        path = folder / f"small_{seed}.json"
        path.write_text(json.dumps(random_instance(seed, missing=0.0)))
        paths.append(path)
    return paths


@pytest.mark.parametrize("out", [".", "", "res"])
def test_a_batch_never_writes_over_its_instances(run_cli, tmp_path, out):
    folder = tmp_path / "res" if out == "res" else tmp_path
    paths = _instances(folder)
    before = [p.read_bytes() for p in paths]
    done = subprocess.run([sys.executable, "-m", "orvik", "solve-many", *map(str, paths),
                           "--out", out, "-q", "--time-limit", "1"], cwd=tmp_path,
                          capture_output=True, text=True, timeout=120, check=False)
    assert done.returncode == 2, done.stdout + done.stderr
    assert len(done.stderr.splitlines()) == 1 and "--out" in done.stderr
    assert [p.read_bytes() for p in paths] == before


@pytest.mark.parametrize(
    ("prepare", "words"),
    [(lambda tmp: (tmp / "file").write_text("x"), "is a file, not a folder"),
     (lambda tmp: None, "cannot write into the folder")],
)
def test_an_unusable_folder_is_found_before_the_first_solve(run_cli, tmp_path, prepare, words):
    prepare(tmp_path)
    (path,) = _instances(tmp_path, 1)
    out = str(tmp_path / "file") if "file" in words else "/proc/self"
    started = time.monotonic()
    done = run_cli("solve-many", str(path), "--out", out, "-q", "--time-limit", "30")
    assert done.returncode == 2
    assert words in done.stderr and "Traceback" not in done.stderr
    assert time.monotonic() - started < 20  # refused before solving for 30 s


def test_a_link_in_the_folder_is_replaced_not_followed(run_cli, tmp_path):
    (path,) = _instances(tmp_path, 1)
    victim = tmp_path / "victim.txt"
    victim.write_text("keep me")
    out = tmp_path / "res"
    out.mkdir()
    (out / "small_0.json").symlink_to(victim)
    done = run_cli("solve-many", str(path), "--out", str(out), "-q", "--time-limit", "1")
    assert done.returncode == 0, done.stderr
    assert victim.read_text() == "keep me"
    assert not (out / "small_0.json").is_symlink()
    assert orvik.Solution.from_json(out / "small_0.json", instance=path).check().ok
    assert "replacing 1 file(s)" in done.stderr and "a link" in done.stderr


def test_a_result_that_cannot_be_written_is_shown_and_the_others_kept(run_cli, tmp_path):
    paths = _instances(tmp_path, 2)
    out = tmp_path / "res"
    (out / "small_0.json").mkdir(parents=True)  # no file can take that name
    done = run_cli("solve-many", *map(str, paths), "--out", str(out), "-q", "--time-limit", "1")
    assert done.returncode == 1
    rows = {line.split()[0]: line for line in done.stdout.splitlines() if line.strip()}
    assert "not written" in rows[str(paths[0])]
    assert rows[str(paths[1])].endswith(str(out / "small_1.json"))
    assert orvik.Solution.from_json(out / "small_1.json", instance=paths[1]).check().ok
    assert f"{paths[0]} (not written to {out / 'small_0.json'}):" in done.stdout
    assert "status: solved" in done.stdout  # the routes of the one not written
    assert "could not be written" in done.stderr


def test_no_temporary_file_is_left(run_cli, tmp_path):
    paths = _instances(tmp_path, 2)
    out = tmp_path / "res"
    done = run_cli("solve-many", *map(str, paths), "--out", str(out), "-q", "--time-limit", "1")
    assert done.returncode == 0, done.stderr
    assert sorted(p.name for p in out.iterdir()) == ["small_0.json", "small_1.json"]


def _start(*args: str) -> subprocess.Popen[str]:
    env = {k: v for k, v in os.environ.items() if k != "PYTHONUNBUFFERED"}
    return subprocess.Popen([sys.executable, "-m", "orvik", *args], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, env=env)


def test_ctrl_c_keeps_what_is_done_and_the_best_routes_of_what_runs(long_instance, tmp_path):
    """A long solve first, then quick ones: those finish behind it and are written at once;
    Ctrl-C then writes the long one's best routes and prints the summary."""
    quick = _instances(tmp_path / "quick", 3)
    out = tmp_path / "res"
    child = _start("solve-many", str(long_instance), *map(str, quick), "--workers", "2",
                   "--out", str(out), "--time-limit", "60", "--no-improve")
    assert child.stderr is not None
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and len(list(out.glob("small_*.json"))) < 3:
        time.sleep(0.1)
    assert len(list(out.glob("small_*.json"))) == 3  # written while the long one runs
    child.send_signal(signal.SIGINT)
    stdout, stderr = child.communicate(timeout=30)
    assert child.returncode == 130, stderr
    assert "Traceback" not in stderr
    rows = {line.split()[0]: line.split() for line in stdout.splitlines()[1:-1]}
    assert rows[str(long_instance)][1] == "interrupted"
    assert all(rows[str(p)][1] == "solved" for p in quick)
    assert stdout.splitlines()[-1] == "3 of 4 solved"
    stopped = orvik.Solution.from_json(out / "long_instance.json", instance=long_instance)
    assert stopped.status == "interrupted" and stopped.routes and stopped.check().ok


def test_ctrl_c_from_python_hands_over_every_outcome(long_instance):
    """solve_many passes the stopped solve to on_result before KeyboardInterrupt."""
    seen = {}
    code = f"""
import _thread, threading, orvik
seen = {{}}
threading.Timer(1.5, _thread.interrupt_main).start()
try:
    orvik.solve_many([{str(long_instance)!r}], time_limit=60, improve=False,
                     on_result=lambda i, o: seen.update({{i: o.status}}))
except KeyboardInterrupt:
    print("interrupted", seen)
"""
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          timeout=60, check=False)
    seen = done.stdout.strip()
    assert seen == "interrupted {0: 'interrupted'}", done.stderr


@pytest.mark.parametrize("output", ["missing/out.json", "instance.json", "."])
def test_solve_refuses_an_output_it_cannot_write_before_solving(run_cli, tmp_path, output):
    path = tmp_path / "instance.json"
    path.write_text(json.dumps(_document()))
    before = path.read_bytes()
    done = subprocess.run([sys.executable, "-m", "orvik", "solve", "instance.json", "-q", "-o",
                           output], cwd=tmp_path, capture_output=True, text=True, timeout=60,
                          check=False)
    assert done.returncode == 2 and done.stdout == ""
    assert len(done.stderr.splitlines()) == 1 and "-o" in done.stderr
    assert path.read_bytes() == before


def test_solve_shows_the_routes_when_the_output_fails(run_cli, tmp_path):
    path = tmp_path / "instance.json"
    path.write_text(json.dumps(_document()))
    done = run_cli("solve", str(path), "-q", "--time-limit", "1", "-o", "/dev/full")
    assert done.returncode == 1
    assert done.stdout.startswith("status: solved") and "agent 1 (car)" in done.stdout
    assert done.stderr.splitlines() == [
        ("orvik: /dev/full: cannot write the solution (its routes are shown above): No space "
         "left on device")]
