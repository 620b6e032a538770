"""orvik.instance: a document is read once into typed records with their places; what cannot be
read is one line naming the place; the settings of a solve reach the solver as arguments, the
instance's own when the call gives none, with one default and one range check each."""

from __future__ import annotations

import argparse
import copy
import json
import math

import _orvik_core as core
import orvik
import pytest
from orvik import instance as instance_module
from orvik import rules, settings, solving
from orvik.cli import _count
from orvik.instance import Problem, read_instance
from orvik.units import solver_document, unit_scale
from orvik.validation import instance_schema
from test_validation import _delete, _full_schema_findings, _set


def _document():
    """A dock (10), three sites, a car and a drone (named), an assignment, a window and a
    sequence; valid."""
    n = 4
    car = [[0.0 if i == j else float(abs(i - j) * 3) for j in range(n)] for i in range(n)]
    return {
        "name": "four",
        "nodes": [{"id": 10, "name": "dock", "x": 0, "y": 0, "type": "DEPOT"},
                  {"id": 11, "x": 1, "y": 0}, {"id": 12.0, "x": 2, "y": 0, "z": 1.5},
                  {"id": 13, "name": "shelf", "x": 3, "y": 0, "demand": 2}],
        "agents": [{"id": 1, "name": "van", "type": "car", "start_node": 10, "end_node": 10,
                    "max_length": 150.5},
                   {"id": 2, "type": "drone", "start_node": 10, "end_node": 13}],
        "costs": {"car": car, "drone": [[c / 2 for c in row] for row in car]},
        "constraints": [
            {"kind": "assignment", "items": [{"node": 11, "types": ["car"]},
                                             {"node": 12, "types": ["car", "drone"]}]},
            {"kind": "timewindow", "items": [{"node": 12, "start": 0, "end": 50}]},
            {"kind": "sequence", "precedence": [{"before": 11, "after": 12, "type": "same"}]},
        ],
        "options": {"objective": "min_max", "return_to_end": True},
    }


def test_a_document_reads_into_records_with_their_places():
    read = read_instance(_document())
    assert read.problems == () and read.require() is read
    assert read.name == "four" and read.node_count == 4
    assert [n.label for n in read.nodes] == ["dock", 11, 12, "shelf"]
    assert [(n.depot, n.z, n.demand) for n in read.nodes] == [
        (True, 0.0, 0.0), (False, 0.0, 0.0), (False, 1.5, 0.0), (False, 0.0, 2)]
    assert read.vertex == {10: 0, 11: 1, 12: 2, 13: 3}
    assert [(a.label, a.type, a.start, a.end, a.limit) for a in read.agents] == [
        ("van", "car", 0, 0, 150.5), (2, "drone", 0, 3, 0.0)]
    assert read.agent_types == ("car", "drone")
    assert read.allowed == {11: ("car",), 12: ("car", "drone")}
    assert read.windows == {12: (0, 50)}
    assert [item.path for item in read.window_items()] == [("constraints", 1, "items", 0)]
    assert [(p.before, p.after, p.type) for p in read.constraints[2].pairs] == [(11, 12, "same")]
    assert read.objective == rules.MIN_MAX and read.options.time_limit is None


# Each row: a broken document, and the first problem the reader keeps (place, words, whether it
# is fatal: no model can be built without the value).
PROBLEMS = [
    pytest.param(_set(["nodes"], 5), ("nodes",), "expected an array", True, id="nodes-number"),
    pytest.param(_set(["nodes", 0, "type"], 3), ("nodes", 0, "type"),
                 "expected a string, got a number", False, id="node-type-number"),
    pytest.param(_set(["constraints", 0, "items", 0, "types"], ["car", 1]),
                 ("constraints", 0, "items", 0, "types", 1), "expected a string, got a number",
                 False, id="type-name-number"),
    pytest.param(_delete(["agents"]), (), "missing required key 'agents'", False,
                 id="agents-missing"),
    pytest.param(_set(["nodes", 1], "n"), ("nodes", 1), "expected an object", True,
                 id="node-string"),
    pytest.param(_delete(["nodes", 1, "x"]), ("nodes", 1), "missing required key 'x'", True,
                 id="x-missing"),
    pytest.param(_set(["nodes", 0, "x"], "3"), ("nodes", 0, "x"),
                 "expected a number, got a string", True, id="x-string"),
    pytest.param(_set(["nodes", 2, "id"], 1.5), ("nodes", 2, "id"),
                 "expected a whole number from 0 to 2^64 - 1, got 1.5", True, id="id-real"),
    pytest.param(_set(["nodes", 0, "name"], ""), ("nodes", 0, "name"), "must not be empty",
                 False, id="name-empty"),
    pytest.param(_set(["agents", 0, "start_node"], 99), ("agents", 0, "start_node"),
                 "no node has id 99", True, id="start-unknown"),
    pytest.param(_set(["agents", 1, "type"], 7), ("agents", 1, "type"),
                 "expected a string, got a number", True, id="type-number"),
    pytest.param(_set(["costs"], [[0]]), ("costs",), "expected an object", True,
                 id="costs-array"),
    pytest.param(_set(["costs", "car", 1], None), ("costs", "car", 1), "expected an array",
                 True, id="row-null"),
    pytest.param(_set(["constraints", 0, "items", 1, "types"], "car"),
                 ("constraints", 0, "items", 1, "types"), "expected an array, got a string",
                 True, id="types-string"),
    pytest.param(_delete(["constraints", 1, "items", 0, "start"]),
                 ("constraints", 1, "items", 0), "missing required key 'start'", True,
                 id="start-missing"),
    pytest.param(_delete(["constraints", 2, "kind"]), ("constraints", 2),
                 "missing required key 'kind'", False, id="kind-missing"),
    pytest.param(_set(["constraints", 1, "kind"], "time_window"), ("constraints", 1, "kind"),
                 "'time_window' is not a constraint kind; the kinds are assignment, timewindow, "
                 "sequence, shipment (did you mean 'timewindow'?)", False, id="kind-misspelled"),
    pytest.param(_set(["options", "objective"], "minmax"), ("options", "objective"),
                 "'minmax' is not an objective; use min_max or min_sum (did you mean "
                 "'min_max'?)", False, id="objective-misspelled"),
    pytest.param(_set(["options", "time_limit"], math.inf), ("options", "time_limit"),
                 "a time limit of inf seconds; give a number of seconds (a large one for no "
                 "practical limit)", False, id="time-limit-inf"),
    pytest.param(_set(["options", "return_to_end"], "yes"), ("options", "return_to_end"),
                 "expected true or false, got a string", True, id="return-to-end-string"),
    pytest.param(_set(["options", "seed"], -1), ("options", "seed"),
                 "expected a whole number from 0 to 2^64 - 1, got -1", False, id="seed-negative"),
    pytest.param(_set(["options", "improve_iterations"], 2.5), ("options", "improve_iterations"),
                 "expected a whole number from 0 to 2^63 - 1, got 2.5", False,
                 id="iterations-real"),
]


@pytest.mark.parametrize(("mutate", "path", "message", "fatal"), PROBLEMS)
def test_what_cannot_be_read_is_a_problem_naming_its_place(mutate, path, message, fatal):
    doc = _document()
    mutate(doc)
    read = read_instance(doc)
    assert read.problems[0] == Problem(path, message, fatal)
    with pytest.raises(orvik.InstanceError) as raised:
        read.require()
    assert str(raised.value) == f"{orvik.validation.json_path(*path)}: {message}"
    if not fatal:  # validation reports these; a validated solve names them in its findings
        assert read.require(every=False) is read
        assert not orvik.validate(doc).ok


@pytest.mark.parametrize(
    "mutate",
    [_delete(["constraints", 0, "items"]), _set(["constraints", 1, "items"], 3),
     _set(["constraints", 0, "items"], [[11], {"node": 12.0, "types": ["car"]}]),
     _set(["constraints", 1, "kind"], "assignment"), _set(["nodes"], 5),
     _set(["nodes"], [{"id": 10, "x": 0, "y": 0}, [1], {"id": 12, "x": "2", "y": 0}])],
    ids=["items-missing", "items-number", "items-odd", "kind-changed", "nodes-number",
         "nodes-odd"],
)
def test_the_schema_sees_every_element_the_reader_does_not_find_plain(mutate):
    doc = _document()
    mutate(doc)
    found = {(f.path, f.message) for f in orvik.validate(doc).errors}
    expected = set(_full_schema_findings(doc))
    assert expected and expected <= found, (expected - found, found)


def test_a_solve_reads_the_document_once(monkeypatch, tmp_path):
    readings = []
    original = instance_module._Reader.instance

    def counted(self, document):
        readings.append(document)
        return original(self, document)

    monkeypatch.setattr(instance_module._Reader, "instance", counted)
    doc = _document()
    assert orvik.solve(doc, 5, iterations=20).solved
    path = tmp_path / "four.json"
    path.write_text(json.dumps(doc))
    assert orvik.solve_many([path], time_limit=5, iterations=20)[0].solved
    model = orvik.Model.from_json(doc)
    assert model.solve(5, iterations=20).solved
    doc["constraints"][0]["items"][0]["types"] = ["bike"]  # no solution: the diagnosis reads
    assert orvik.solve(doc, 5, iterations=20).status == "no solution"
    # One reading per solve, one for the model (its solve reads the model's own document).
    assert len(readings) == 5


def test_the_solver_document_carries_no_settings_of_the_solve():
    doc = _document()
    doc["options"].update(time_limit=5, improve=False, seed=7, improve_iterations=30)
    sent = solver_document(doc, unit_scale(doc))
    assert sent["options"] == {"return_to_end": True, "objective": "min_max",
                               "enforce_constraints": True}
    assert "name" not in sent["nodes"][0] and sent["nodes"][2]["id"] == 12


@pytest.mark.parametrize(
    ("own", "given", "expected"),
    [({}, {}, {"time_limit": rules.DEFAULT_TIME_LIMIT, "seed": None, "iterations": None}),
     ({"time_limit": 5, "seed": 7, "improve_iterations": 30}, {},
      {"time_limit": 5.0, "seed": 7, "iterations": 30}),
     ({"time_limit": 5, "seed": 7, "improve_iterations": 30},
      {"time_limit": 2, "seed": 1, "iterations": 3}, {"time_limit": 2, "seed": 1, "iterations": 3}),
     # A limit of 0 or less is none, as the model and the progress display read it.
     ({"time_limit": 0}, {}, {"time_limit": rules.DEFAULT_TIME_LIMIT}),
     ({"time_limit": -3}, {"iterations": 0}, {"time_limit": rules.DEFAULT_TIME_LIMIT,
                                              "iterations": 0})],
)
def test_the_settings_reach_the_solver_as_arguments(monkeypatch, own, given, expected):
    calls = []
    solve_document = core.solve_document

    def recorded(text, **arguments):
        calls.append((json.loads(text), arguments))
        return solve_document(text, **arguments)

    monkeypatch.setattr(solving._orvik_core, "solve_document", recorded)
    doc = _document()
    doc["options"].update(own)
    assert orvik.solve(doc, improve=False, **given).solved  # the search alone: at once
    ((sent, arguments),) = calls
    settings = dict(expected)
    budget = settings.pop("time_limit")
    assert {key: arguments[key] for key in settings} == settings
    # The limit bounds the whole call: the solver gets what reading and validating left of it.
    assert budget - 1 < arguments["time_limit"] <= budget
    assert arguments["improve"] is False and sent["options"] == {
        "return_to_end": True, "objective": "min_max", "enforce_constraints": True}


def _routes(solution):
    return [(r.agent, r.nodes, r.cost) for r in solution.routes]


def test_the_instances_own_settings_solve_as_the_same_given_ones():
    doc = _document()
    own = copy.deepcopy(doc)
    own["options"].update(seed=5, improve_iterations=40)
    assert _routes(orvik.solve(own, 10)) == _routes(orvik.solve(doc, 10, seed=5, iterations=40))


def test_a_time_limit_of_zero_in_the_instance_is_none():
    doc = _document()
    doc["options"]["time_limit"] = 0
    findings = orvik.validate(doc)
    assert findings.ok and [f.message for f in findings.warnings
                            if f.path == "$.options.time_limit"] == [
        ("a time limit of 0 seconds is read as none: orvik solves for 60 s (the raw module's "
        "search gets no time)")]
    solution = orvik.solve(doc, improve=False)
    assert solution.solved and not solution.statistics.timeout


def test_each_default_agrees_with_the_core_and_the_schema():
    assert core.Options().time_limit == rules.DEFAULT_TIME_LIMIT
    defs = instance_schema()["$defs"]
    assert defs["options"]["properties"]["seed"]["maximum"] == rules.SEED_END - 1
    assert defs["options"]["properties"]["improve_iterations"]["maximum"] == (
        rules.ITERATIONS_END - 1)
    assert defs["id"]["maximum"] == rules.ID_END - 1
    help_text = argparse.ArgumentParser()
    orvik.cli._add_solve_options(help_text)
    assert f"else {rules.DEFAULT_TIME_LIMIT:g})" in " ".join(help_text.format_help().split())


@pytest.mark.parametrize(
    ("name", "value", "accepted"),
    [("seed", 0, True), ("seed", rules.SEED_END - 1, True), ("seed", rules.SEED_END, False),
     ("seed", -1, False), ("iterations", rules.ITERATIONS_END - 1, True),
     ("iterations", rules.ITERATIONS_END, False), ("iterations", -1, False)],
)
def test_the_api_and_the_command_line_take_the_same_counts(name, value, accepted):
    end = settings.COUNTS[name][0]
    parse = _count(end)
    if accepted:
        assert settings.check_count(name, value) == value and parse(str(value)) == value
        return
    with pytest.raises(ValueError, match=f"{name} must be a whole number"):
        settings.check_count(name, value)
    with pytest.raises(argparse.ArgumentTypeError, match=f"must be .*, got {value}$"):
        parse(str(value))
