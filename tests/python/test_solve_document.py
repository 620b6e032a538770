"""solve_document: the result dictionary with its added keys, the clocks, progress and log
callbacks, the stop event, Ctrl-C, and the interpreter lock released while it solves."""

from __future__ import annotations

import itertools
import json
import os
import signal
import subprocess
import sys
import threading
import time

import _orvik_core as core
import pytest
from orvik.checker import check
from test_json_entry_points import STATISTICS_KEYS, TOP_KEYS

ADDED_KEYS = ["interrupted", "clock", "messages"]
REPORT_KEYS = ["phase", "elapsed", "work", "best", "improved"]
ASSIGNMENT_WARNING = "[warning] node 3 has no assignment constraint; allowing all types"


def read(path):
    return path.read_text(encoding="utf-8")


def assert_routes_pass_the_checker(instance_text, out):
    report = check(json.loads(instance_text), out)
    assert report.ok, report.violations


@pytest.mark.parametrize("clock", ["wall", "cpu"])
def test_same_keys_then_the_added_ones_and_the_same_search(two_agents_shared_depot, clock):
    text = read(two_agents_shared_depot)
    expected = core.solve_json_str(text)
    out = core.solve_document(text, clock=clock, improve=False)
    assert list(out) == TOP_KEYS + ADDED_KEYS
    assert list(out["statistics"]) == [*STATISTICS_KEYS, "search_time"]
    assert (out["interrupted"], out["clock"], out["messages"]) == (False, clock, [])
    assert out["routes"] == expected["routes"]
    for key in ("n_generated", "n_expanded", "max_cost", "sum_cost"):
        assert out["statistics"][key] == expected["statistics"][key]
    assert len(out["anytime"]) == len(expected["anytime"])
    assert 0.0 <= out["statistics"]["search_time"] <= out["statistics"]["solve_time"]


@pytest.mark.parametrize(
    ("arguments", "error", "message"),
    [
        ({"clock": "gpu"}, ValueError, 'clock must be "wall" or "cpu", got "gpu"'),
        ({"iterations": -1}, ValueError, "iterations must be 0 (no limit) or more, got -1"),
        ({"seed": -1}, TypeError, "incompatible function arguments"),
        ({"time_limit": "soon"}, TypeError, "incompatible function arguments"),
    ],
)
def test_wrong_arguments_are_refused_before_any_work(two_agents_shared_depot, arguments, error,
                                                     message):
    with pytest.raises(error, match=message.replace("(", r"\(").replace(")", r"\)")):
        core.solve_document(read(two_agents_shared_depot), **arguments)


@pytest.mark.parametrize(
    ("text", "error"),
    [("", RuntimeError), ('{"nodes": [], "agents": []} {}', RuntimeError),
     ('{"nodes": [], "agents": [], "options": 3}', RuntimeError)],
    ids=["empty", "two documents", "options not an object"],
)
def test_bad_documents_fail_as_in_solve_json_str(text, error):
    with pytest.raises(error) as expected:
        core.solve_json_str(text)
    with pytest.raises(error) as got:
        core.solve_document(text, seed=3, iterations=5)
    assert str(got.value) == str(expected.value)


def with_options(text, **options):
    doc = json.loads(text)
    doc.setdefault("options", {}).update(options)
    return json.dumps(doc)


@pytest.mark.parametrize(
    ("document_options", "arguments"),
    [
        ({"improve": True, "seed": 5, "improve_iterations": 3}, {"improve": False}),
        ({"improve": False, "seed": 1, "improve_iterations": 1},
         {"improve": True, "seed": 7, "iterations": 40}),
    ],
    ids=["improvement off", "improvement on"],
)
def test_improvement_arguments_replace_the_documents_options(two_agents_shared_depot,
                                                             document_options, arguments):
    text = read(two_agents_shared_depot)
    plain = core.solve_document(text, clock="cpu", **arguments)
    given = core.solve_document(with_options(text, **document_options), clock="cpu",
                                **arguments)
    assert given["routes"] == plain["routes"]
    for key in ("n_generated", "n_expanded", "max_cost", "sum_cost"):
        assert given["statistics"][key] == plain["statistics"][key]


@pytest.mark.parametrize("options", [{"seed": "x"}, {"improve_iterations": -2}, {"improve": 1}])
def test_a_wrong_option_in_the_document_is_refused_whatever_the_arguments(
        two_agents_shared_depot, options):
    text = with_options(read(two_agents_shared_depot), **options)
    with pytest.raises(RuntimeError) as expected:
        core.solve_json_str(text)
    with pytest.raises(RuntimeError) as got:
        core.solve_document(text, improve=True, seed=3, iterations=5)
    assert str(got.value) == str(expected.value)


def test_improvement_settings_leave_a_document_without_options_readable(no_agents):
    doc = json.loads(read(no_agents))
    doc.pop("options", None)
    out = core.solve_document(json.dumps(doc), improve=True, seed=7, iterations=10)
    assert out["routes"] == []


def test_progress_reports_improvements_at_once_and_the_rest_every_half_second(long_instance):
    reports = []
    out = core.solve_document(read(long_instance), time_limit=1.6, improve=False,
                              progress=reports.append)
    assert out["timeout"] is True and out["status"] == "success"
    # The reports that bring the best routes have them last.
    assert reports and all(list(r) in (REPORT_KEYS, [*REPORT_KEYS, "routes"]) for r in reports)
    assert {r["phase"] for r in reports} == {"search"}
    improvements = [r for r in reports if r["improved"]]
    assert improvements and improvements[-1]["best"] == pytest.approx(
        out["statistics"]["max_cost"])
    assert [r["best"] for r in improvements] == sorted((r["best"] for r in improvements),
                                                       reverse=True)
    periodic = [r for r in reports if not r["improved"]]
    assert periodic  # the search runs 1.6 s and finds its first solution at once
    times = [r["elapsed"] for r in reports]
    assert times == sorted(times) and times[-1] <= out["statistics"]["search_time"]
    works = [r["work"] for r in reports]
    assert works == sorted(works) and works[-1] <= out["statistics"]["n_generated"]
    # The routes come as the result gives them, one per agent, and end with the result's.
    routes = [r["routes"] for r in reports if "routes" in r]
    assert routes and all([list(route) for route in rs] == [["path", "cost"]] * 3
                          for rs in routes)
    assert [route["path"] for route in routes[-1]] == [route["path"] for route in out["routes"]]
    # Without an improvement in between, two reports are half a second of wall time apart,
    # unless the later one brings the routes of an improvement that went out without them.
    for before, after in itertools.pairwise(reports):
        if not after["improved"] and "routes" not in after:
            assert after["elapsed"] - before["elapsed"] >= 0.45


def test_the_core_lines_go_to_the_log_and_the_messages_not_to_the_streams(
        run_python, node_3_without_assignment):
    code = """
import json, sys
import _orvik_core
lines = []
out = _orvik_core.solve_document(open(sys.argv[1]).read(), time_limit=5,
                                 log=lambda stream, line: lines.append([stream, line]))
print(json.dumps({"lines": lines, "messages": out["messages"], "status": out["status"]}))
"""
    done = run_python(code, str(node_3_without_assignment))
    assert done.returncode == 0, done.stderr
    assert done.stderr == ""
    got = json.loads(done.stdout)
    assert got["status"] == "success"
    assert ["stderr", ASSIGNMENT_WARNING] in got["lines"]
    assert got["messages"] == got["lines"]


def test_a_stop_event_ends_the_search_with_its_best_solution(long_instance):
    stop = threading.Event()

    def progress(report):
        if report["improved"]:
            stop.set()

    text = read(long_instance)
    out = core.solve_document(text, time_limit=60, progress=progress, stop=stop)
    assert out["interrupted"] is True and out["timeout"] is False
    assert out["status"] == "success"
    assert_routes_pass_the_checker(text, out)


def test_keyboard_interrupt_in_a_callback_keeps_the_best_solution(long_instance):
    def progress(report):
        if report["improved"]:
            raise KeyboardInterrupt

    text = read(long_instance)
    out = core.solve_document(text, time_limit=60, progress=progress)
    assert out["interrupted"] is True and out["status"] == "success"
    assert_routes_pass_the_checker(text, out)


@pytest.mark.parametrize("callback", ["progress", "log"])
def test_an_error_in_a_callback_stops_the_search_and_is_raised(node_3_without_assignment,
                                                               callback):
    def fail(*_):
        raise ZeroDivisionError("from the callback")

    with pytest.raises(ZeroDivisionError, match="from the callback"):
        core.solve_document(read(node_3_without_assignment), time_limit=60, **{callback: fail})


def test_another_python_thread_runs_while_a_solve_runs(long_instance):
    """The lock is released for the search; solve_json_str keeps it, as it always has."""
    text = read(long_instance)

    def ticks_during(solve):
        ticks, done = [], threading.Event()

        def tick():
            while not done.is_set():
                ticks.append(time.monotonic())
                time.sleep(0.005)

        ticker = threading.Thread(target=tick)
        ticker.start()
        time.sleep(0.05)
        start = time.monotonic()
        solve()
        end = time.monotonic()
        done.set()
        ticker.join()
        return sum(start < t < end for t in ticks)

    assert ticks_during(lambda: core.solve_document(text, time_limit=1.0, improve=False)) >= 20
    assert ticks_during(lambda: core.solve_json_str(text, 1.0)) <= 3


def test_two_threads_each_get_their_whole_processor_budget(long_instance):
    """Two solves of 2 s processor time on two threads: each counts its own thread's time, so
    each searches for 2 s of processor time, however the two share the machine."""
    text = read(long_instance)
    runs = {}

    def solve(key):
        before = time.thread_time()
        out = core.solve_document(text, time_limit=2.0, clock="cpu", improve=False)
        runs[key] = (out, time.thread_time() - before)

    threads = [threading.Thread(target=solve, args=(k,)) for k in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for out, thread_seconds in runs.values():
        assert out["timeout"] is True
        assert out["statistics"]["search_time"] >= 2.0
        assert thread_seconds >= 1.95


def test_the_wall_clock_counts_waiting_too(long_instance):
    start = time.monotonic()
    out = core.solve_document(read(long_instance), time_limit=0.5, clock="wall", improve=False)
    took = time.monotonic() - start
    assert out["timeout"] is True
    assert 0.5 <= out["statistics"]["search_time"] <= took


SOLVE_UNTIL_SIGINT = """
import json, sys, time
import _orvik_core
text = open(sys.argv[2]).read()
first = True
def progress(report):
    global first
    if first:
        first = False
        print("solving", flush=True)
if sys.argv[1] == "solve_document":
    out = _orvik_core.solve_document(text, time_limit=60, improve=False, progress=progress)
    print(json.dumps(out), flush=True)
else:
    print("solving", flush=True)
    try:
        _orvik_core.solve_json_str(text, 60)
    except KeyboardInterrupt:
        print("KeyboardInterrupt", flush=True)
"""


@pytest.mark.parametrize("entry_point", ["solve_document", "solve_json_str"])
def test_ctrl_c_ends_a_60_second_solve_at_once(long_instance, entry_point):
    env = {k: v for k, v in os.environ.items() if k != "PYTHONUNBUFFERED"}
    child = subprocess.Popen(
        [sys.executable, "-c", SOLVE_UNTIL_SIGINT, entry_point, str(long_instance)],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
    try:
        assert child.stdout.readline().strip() == "solving"
        time.sleep(0.5)
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=30)
        took = time.monotonic() - sent
    finally:
        child.kill()
    assert child.returncode == 0, err
    assert took < 1.0
    if entry_point == "solve_json_str":
        assert out.strip() == "KeyboardInterrupt"
        return
    result = json.loads(out)
    assert result["interrupted"] is True and result["status"] == "success"
    assert_routes_pass_the_checker(read(long_instance), result)
