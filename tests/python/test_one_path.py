"""Every entry validates what it solves, the document as written, once: the command line, orvik.solve,
orvik.solve_many and Model.solve refuse alike what validation finds, and what validation passes
the solver takes."""

import copy
import json
import math

import orvik
import pytest
from orvik.validation import validate
from test_validation import _document


def _misspelled_kind():
    doc = _document()
    doc["constraints"][1]["kind"] = "timewindows"
    return doc


ENTRIES = {
    "orvik.solve(path)": lambda path: orvik.solve(path, 1),
    "orvik.solve(dict)": lambda path: orvik.solve(json.loads(path.read_text()), 1),
    "orvik.solve_many([path])": lambda path: orvik.solve_many([path], time_limit=1)[0],
    "portfolio": lambda path: orvik.solve(path, 1, workers=2),
    "Model.from_json().solve()": lambda path: orvik.Model.from_json(path).solve(1),
}


@pytest.mark.parametrize("entry", ENTRIES)
def test_a_misspelled_constraint_kind_is_refused_by_every_entry(entry, tmp_path):
    path = tmp_path / "instance.json"
    path.write_text(json.dumps(_misspelled_kind()))
    with pytest.raises(orvik.ValidationError, match="did you mean 'timewindow'"):
        ENTRIES[entry](path)


@pytest.mark.parametrize("command", ["solve", "solve-many"])
def test_a_misspelled_constraint_kind_is_refused_on_the_command_line(run_cli, tmp_path,
                                                                       command):
    path = tmp_path / "instance.json"
    path.write_text(json.dumps(_misspelled_kind()))
    extra = ["--out", str(tmp_path / "out")] if command == "solve-many" else []
    done = run_cli(command, str(path), "--time-limit", "1", "-q", *extra)
    assert done.returncode == (2 if command == "solve" else 1), done.stdout
    assert "'timewindows' is not a constraint kind" in done.stdout + done.stderr
    if command == "solve-many":
        assert done.stdout.splitlines()[-1] == "0 of 1 solved"
        assert done.stdout.splitlines()[1].split()[1] == "error"


def _set(path, value):
    def mutate(doc):
        target = doc
        for key in path[:-1]:
            target = target[key]
        target[path[-1]] = value
    return mutate


# Once validation passes, the solver must take the instance: these used to pass validation and
# fail in the solve (the first after the whole search).
REFUSED_BY_VALIDATION = [
    pytest.param(_set(["agents", 0, "max_length"], 2**31), "$.agents[0].max_length",
                 id="limit-2^31"),
    pytest.param(_set(["agents", 0, "max_length"], -(2**31) - 1), "$.agents[0].max_length",
                 id="limit-below-2^31"),
    pytest.param(_set(["agents", 0, "capacity"], 2**31), "$.agents[0].capacity",
                 id="capacity-2^31"),
    pytest.param(_set(["nodes", 1, "demand"], math.nan), "$.nodes[1].demand", id="demand-nan"),
    pytest.param(_set(["options", "time_limit"], math.inf), "$.options.time_limit",
                 id="time-limit-inf"),
    pytest.param(_set(["options", "seed"], 2**64), "$.options.seed", id="seed-2^64"),
    pytest.param(_set(["agents", 0, "max_length"], True), "$.agents[0].max_length",
                 id="limit-true"),
]


@pytest.mark.parametrize(("mutate", "path"), REFUSED_BY_VALIDATION)
def test_what_the_solver_cannot_take_is_a_validation_error(mutate, path):
    doc = _document()
    mutate(doc)
    assert path in [f.path for f in validate(doc).errors]
    with pytest.raises(ValueError):  # ValidationError, or InstanceError from the reader
        orvik.solve(doc, 1)


SOLVED_AS_WRITTEN = [
    pytest.param(lambda d: [n.update(id=float(n["id"])) for n in d["nodes"]], id="ids-as-reals"),
    pytest.param(lambda d: d.update(extra=json.loads("[" * 700 + "]" * 700)),
                 id="unknown-key-nested-deep"),
    pytest.param(lambda d: d.update(extra=math.nan), id="unknown-key-nan"),
    pytest.param(lambda d: d["agents"][0].update(note={"any": [1, 2]}), id="unknown-agent-key"),
]


@pytest.mark.parametrize("mutate", SOLVED_AS_WRITTEN)
def test_what_validation_passes_is_solved(mutate, tmp_path):
    doc = _document()
    mutate(doc)
    assert validate(doc).ok, [str(f) for f in validate(doc)]
    solution = orvik.solve(doc, 1)
    assert solution.solved, solution.reasons
    assert solution.check().ok
    path = tmp_path / "instance.json"
    path.write_text(json.dumps(doc))
    assert orvik.solve_many([path], time_limit=1)[0].solved


def test_the_solve_does_not_change_the_document():
    doc = _document()
    doc["agents"][0]["max_length"] = 40.5
    before = copy.deepcopy(doc)
    orvik.solve(doc, 1)
    assert doc == before


@pytest.mark.parametrize(
    ("mutate", "words"),
    [(lambda d: d["constraints"][1]["items"][0].pop("end"), "missing required key 'end'"),
     (lambda d: d["constraints"][1].pop("kind"), "missing required key 'kind'"),
     (lambda d: d["options"].update(time_limit=math.nan), "a time limit of nan")],
)
def test_without_validation_a_broken_instance_is_still_named(mutate, words):
    doc = _document()
    mutate(doc)
    with pytest.raises(ValueError, match=words):  # InstanceError or ValidationError
        orvik.solve(doc, 1, validate=False)
