"""orvik.validate: every error of a document at once, each with its JSON path; warnings apart."""

import copy
import json
import math

import orvik
import pytest
from orvik.validation import ERROR, NOTE, WARNING


def _document():
    """Five nodes (10 is the depot), a car and a drone, windows and assignments: no findings."""
    n = 5
    car = [[0.0 if i == j else float(abs(i - j) * 3) for j in range(n)] for i in range(n)]
    drone = [[c / 2 for c in row] for row in car]
    return {
        "nodes": [{"id": 10 + v, "x": v, "y": 0, "z": 0, "type": "DEPOT" if v == 0 else "TARGET"}
                  for v in range(n)],
        "agents": [
            {"id": 1, "type": "car", "start_node": 10, "end_node": 10},
            {"id": 2, "type": "drone", "start_node": 10, "end_node": 10},
        ],
        "costs": {"car": car, "drone": drone},
        "constraints": [
            {"kind": "assignment", "items": [{"node": 10 + v, "types": ["car", "drone"]}
                                             for v in range(1, n)]},
            {"kind": "timewindow", "items": [{"node": 12, "start": 0, "end": 50}]},
        ],
        "options": {"objective": "min_max", "return_to_end": True},
    }


def _set(path, value):
    def mutate(doc):
        *parents, last = path
        target = doc
        for key in parents:
            target = target[key]
        target[last] = value
    return mutate


def _delete(path):
    def mutate(doc):
        *parents, last = path
        target = doc
        for key in parents:
            target = target[key]
        del target[last]
    return mutate


def _append(path, value):
    def mutate(doc):
        target = doc
        for key in path:
            target = target[key]
        target.append(value)
    return mutate


# Each row: a mistake, and the findings it must produce (JSON path, words of the message).
ERRORS = [
    pytest.param(_set(["nodes", 2, "id"], 11), [("$.nodes[2].id", "node id 11 repeats")],
                 id="duplicate-node-id"),
    pytest.param(_set(["agents", 1, "id"], 1), [("$.agents[1].id", "agent id 1 repeats")],
                 id="duplicate-agent-id"),
    pytest.param(_set(["agents", 0, "start_node"], 99),
                 [("$.agents[0].start_node", "no node has id 99")], id="unknown-start-node"),
    pytest.param(_set(["agents", 1, "end_node"], 98),
                 [("$.agents[1].end_node", "no node has id 98")], id="unknown-end-node"),
    pytest.param(_set(["constraints", 0, "items", 0, "node"], 97),
                 [("$.constraints[0].items[0].node", "no node has id 97")],
                 id="unknown-constraint-node"),
    pytest.param(_set(["agents", 1, "type"], "Drone"),
                 [("$.agents[1].type", ("'Drone' has no cost matrix in $.costs (did you mean "
                                       "'drone'?)")),
                  ("$.costs.drone", "no agent has type 'drone' (did you mean 'Drone'?)")],
                 id="type-case-mismatch"),
    pytest.param(_delete(["costs", "car", 4]), [("$.costs.car", "short: 4 rows for 5 nodes")],
                 id="matrix-short"),
    pytest.param(_append(["costs", "drone", 0], 1.0),
                 [("$.costs.drone[0]", "row 0 is long: 6 entries for 5 nodes")], id="row-long"),
    pytest.param(_delete(["costs", "drone", 1, 4]),
                 [("$.costs.drone[1]", "row 1 is short: 4 entries for 5 nodes")],
                 id="matrix-ragged"),
    pytest.param(_set(["costs", "car", 0, 1], -3.0),
                 [("$.costs.car[0][1]", "negative cost -3.0")], id="negative-cost"),
    pytest.param(_set(["costs", "car", 1, 2], math.nan), [("$.costs.car[1][2]", "NaN")],
                 id="nan-cost"),
    pytest.param(_set(["costs", "car", 2, 3], math.inf), [("$.costs.car[2][3]", "infinite")],
                 id="infinite-cost"),
    pytest.param(_set(["constraints", 1, "items", 0, "start"], 60),
                 [("$.constraints[1].items[0]", "opens at 60, after it closes at 50")],
                 id="window-start-after-end"),
    pytest.param(_set(["options", "objective"], "minmax"),
                 [("$.options.objective", ("'minmax' is not an objective; use min_max or min_sum "
                                          "(did you mean 'min_max'?)"))],
                 id="misspelled-objective"),
    pytest.param(_append(["constraints"], {"kind": "time_window", "items": []}),
                 [("$.constraints[2].kind", "(did you mean 'timewindow'?)")],
                 id="unknown-constraint-kind"),
    pytest.param(_delete(["nodes", 3, "x"]), [("$.nodes[3]", "missing required key 'x'")],
                 id="schema-missing-key"),
    pytest.param(_set(["options", "return_to_end"], "yes"),
                 [("$.options.return_to_end", "expected a boolean, got a string")],
                 id="schema-wrong-type"),
    pytest.param(_set(["nodes", 4, "id"], 1.5),
                 [("$.nodes[4].id", "expected a whole number, got 1.5")], id="schema-real-id"),
]


def _has(findings, path, words):
    return any(f.path == path and words in f.message for f in findings)


def test_the_document_of_the_table_has_no_findings():
    assert orvik.validate(_document()) == []


@pytest.mark.parametrize(("mutate", "expected"), ERRORS)
def test_each_error_is_reported_with_its_path(mutate, expected):
    doc = _document()
    mutate(doc)
    findings = orvik.validate(doc)
    for path, words in expected:
        assert _has(findings.errors, path, words), [str(f) for f in findings]
    assert not findings.ok


def test_every_error_is_reported_at_once():
    doc = _document()
    expected = []
    for case in ERRORS:
        mutate, pairs = case.values
        mutate(doc)
        expected += pairs
    findings = orvik.validate(doc)
    missing = [(path, words) for path, words in expected if not _has(findings.errors, path, words)]
    assert not missing, [str(f) for f in findings]


WARNINGS = [
    pytest.param(_set(["costs", "car", 3, 0], 12000.0),
                 ("$.costs.car[3][0]", "reaches 9999, which the solver reads as no connection"),
                 id="cost-reaches-no-connection"),
    pytest.param(_set(["agents", 0, "max_length"], 150.9),
                 ("$.agents[0].max_length", "150.9 limits the route cost to 150"),
                 id="fractional-limit"),
    pytest.param(_set(["nodes", 0, "type"], "depot"),
                 ("$.nodes[0].type", "'depot' is read as a target (write \"DEPOT\""),
                 id="lower-case-depot"),
    pytest.param(_set(["constraints", 1, "items", 0, "end"], 100000),
                 ("$.constraints[1].items[0]", "window bound 100000 reaches 9999"),
                 id="window-reaches-no-connection"),
]


@pytest.mark.parametrize(("mutate", "expected"), WARNINGS)
def test_warnings_are_kept_apart_from_errors(mutate, expected):
    doc = _document()
    mutate(doc)
    findings = orvik.validate(doc)
    assert findings.ok, [str(f) for f in findings.errors]
    assert _has(findings.warnings, *expected), [str(f) for f in findings]
    assert all(f.severity == WARNING for f in findings)


@pytest.mark.parametrize("mutate", [
    pytest.param(_set(["nodes", 1, "demand"], 4), id="demand"),
    pytest.param(_set(["agents", 0, "capacity"], 10), id="capacity"),
    pytest.param(_append(["constraints"], {"kind": "sequence",
                                           "precedence": [{"before": 11, "after": 12}]}),
                 id="sequence"),
])
def test_loads_and_pairs_are_used_and_draw_no_warning(mutate):
    """The solver honours demands, capacities and sequence pairs: nothing says they are not
    used."""
    doc = _document()
    mutate(doc)
    assert orvik.validate(doc) == []


def test_a_path_is_read_and_a_list_is_no_instance(tmp_path):
    path = tmp_path / "instance.json"
    path.write_text(json.dumps(_document()))
    assert orvik.validate(path) == []
    (finding,) = orvik.validate([1, 2])
    assert (finding.path, finding.severity) == ("$", ERROR)
    assert finding.message == "expected an object, got an array"


def test_more_than_256_nodes_is_an_error_without_improvement():
    doc = _document()
    doc["nodes"] += [{"id": 100 + v, "x": 0, "y": 0} for v in range(300)]
    doc.setdefault("options", {})["improve"] = False
    assert _has(orvik.validate(doc).errors, "$.nodes", "at most 256 nodes; there are 305")


@pytest.mark.parametrize(("improve", "findings"), [(True, 0), (None, 1)])
def test_more_than_256_nodes_with_improvement_is_no_error(improve, findings):
    doc = _document()
    doc["nodes"] += [{"id": 100 + v, "x": 0, "y": 0} for v in range(300)]
    if improve is not None:
        doc.setdefault("options", {})["improve"] = improve
    result = orvik.validate(doc)
    assert not _has(result.errors, "$.nodes", "nodes")
    assert len([f for f in result.warnings if _has([f], "$.nodes", "the search alone")]) == (
        findings
    )


def test_a_large_matrix_gives_a_bounded_number_of_findings():
    doc = _document()
    doc["costs"]["car"] = [[-1.0] * 5 for _ in range(5)]
    findings = orvik.validate(doc)
    assert len(findings.errors) == 11
    assert findings.errors[-1].message == "15 more bad costs"


def test_validation_error_lists_every_error():
    doc = copy.deepcopy(_document())
    doc["agents"][0]["start_node"] = 99
    doc["options"]["objective"] = "MinMax"
    with pytest.raises(orvik.ValidationError) as raised:
        orvik.Model.from_json(doc)
    lines = str(raised.value).splitlines()
    assert lines[0] == "the instance has 2 error(s):"
    assert "  $.agents[0].start_node: no node has id 99" in lines
    assert len(raised.value.findings.errors) == 2


def _full_schema_findings(doc):
    """The schema's findings from jsonschema on the whole document, matrices included."""
    import jsonschema
    from orvik.validation import _schema_message, _sort_key, instance_schema, json_path

    validator = jsonschema.Draft202012Validator(instance_schema())
    errors = sorted(validator.iter_errors(doc), key=lambda e: _sort_key(e.absolute_path))
    return [(json_path(*e.absolute_path), _schema_message(e, list(e.absolute_path)))
            for e in errors]


SHAPES = [
    _set(["nodes", 2, "id"], "12"), _set(["nodes", 3, "x"], None), _delete(["nodes", 1, "y"]),
    _set(["nodes", 4], 7), _set(["nodes", 0, "name"], ""), _set(["nodes", 1, "id"], 1.5),
    _set(["nodes", 2, "id"], 12.0), _set(["nodes", 3, "type"], 4), _set(["nodes", 3, "z"], True),
    _set(["constraints", 0, "items", 2, "types"], "car"),
    _set(["constraints", 0, "items", 1, "node"], -3), _delete(["constraints", 0, "items", 0,
                                                               "types"]),
    _set(["constraints", 1, "items", 0, "start"], "0"), _set(["constraints", 1, "items", 0], []),
    _set(["constraints", 1, "kind"], "assignment"), _set(["costs", "car", 1], "row"),
    _set(["costs", "car", 1, 2], "3"), _set(["costs", "drone", 0, 0], True),
    _set(["costs", "drone", 2], None), _set(["nodes", 1, "unknown"], {"any": 1}),
]


def test_the_shortened_schema_check_finds_what_jsonschema_finds():
    """Validation hands jsonschema only the elements it does not plainly accept and checks the
    matrices itself; together they find every problem jsonschema finds on the whole document,
    with the same path and words."""
    for mutate in SHAPES:
        doc = _document()
        mutate(doc)
        found = {(f.path, f.message) for f in orvik.validate(doc).errors}
        expected = set(_full_schema_findings(doc))
        assert expected <= found, (expected - found, found)


# Each row: a key added where the format has no such key, and the warning it must give (JSON
# path, words of the message).
UNKNOWN_KEYS = [
    pytest.param(_set(["option"], {"objective": "min_sum"}),
                 ("$.option", "unknown key 'option' is ignored (did you mean 'options'?)"),
                 id="top-level"),
    pytest.param(_set(["agents", 1, "max_lenght"], 50),
                 ("$.agents[1].max_lenght", "(did you mean 'max_length'?)"), id="agent"),
    pytest.param(_set(["nodes", 2, "Demand"], 4),
                 ("$.nodes[2].Demand", "(did you mean 'demand'?)"), id="node-case"),
    pytest.param(_set(["constraints", 1, "items", 0, "windw"], [0, 5]),
                 ("$.constraints[1].items[0].windw", "unknown key 'windw' is ignored"),
                 id="window-item-no-near-key"),
    pytest.param(_set(["constraints", 0, "itmes"], []),
                 ("$.constraints[0].itmes", "(did you mean 'items'?)"), id="constraint"),
    pytest.param(_set(["constraints", 0, "precedence"], []),
                 ("$.constraints[0].precedence", "unknown key 'precedence' is ignored"),
                 id="key-of-another-kind"),
    pytest.param(_set(["options", "time_limt"], 5),
                 ("$.options.time_limt", "(did you mean 'time_limit'?)"), id="options"),
    pytest.param(_set(["options", "return-to-end"], False),
                 ('$.options["return-to-end"]', "(did you mean 'return_to_end'?)"),
                 id="options-dashes"),
    pytest.param(_append(["constraints"], {"kind": "sequence", "precedence": [
        {"before": 11, "after": 12, "typ": "same"}]}),
                 ("$.constraints[2].precedence[0].typ", "(did you mean 'type'?)"),
                 id="sequence-pair"),
]


@pytest.mark.parametrize(("mutate", "expected"), UNKNOWN_KEYS)
def test_an_unknown_key_is_a_warning_naming_the_near_known_key(mutate, expected):
    doc = _document()
    mutate(doc)
    findings = orvik.validate(doc)
    assert findings.ok, [str(f) for f in findings.errors]
    unknown = [f for f in findings.warnings if "unknown key" in f.message]
    assert len(unknown) == 1, [str(f) for f in findings]
    assert (unknown[0].path, expected[1] in unknown[0].message) == (expected[0], True), (
        str(unknown[0]))


def test_a_key_unknown_in_every_node_is_one_warning_with_a_count():
    doc = _document()
    for node in doc["nodes"]:
        node["lable"] = "x"
    (finding,) = orvik.validate(doc)
    assert (finding.path, finding.severity) == ("$.nodes[0].lable", WARNING)
    assert finding.message.startswith("unknown key 'lable' is ignored")
    assert finding.message.endswith("(5 of the nodes have it)")


@pytest.mark.parametrize(("mutate", "path"), [
    pytest.param(_set(["costs", "boat"], []), "$.costs.boat", id="cost-type-is-no-key"),
    pytest.param(_set(["constraints", 1, "kind"], "time_window"), "$.constraints[1].kind",
                 id="misspelled-kind-keeps-its-keys"),
])
def test_keys_that_are_names_or_belong_to_a_misspelled_kind_are_not_unknown(mutate, path):
    doc = _document()
    mutate(doc)
    findings = orvik.validate(doc)
    assert {f.path for f in findings.errors} == {path}, [str(f) for f in findings]
    assert not [f for f in findings if "unknown key" in f.message]


@pytest.mark.parametrize(("section", "index", "missing", "written"), [
    ("agents", 0, "start_node", "strat_node"),
    ("nodes", 1, "x", "X"),
    ("agents", 1, "end_node", "endnode"),
])
def test_a_missing_required_key_names_the_near_unknown_key(section, index, missing, written):
    doc = _document()
    doc[section][index][written] = doc[section][index].pop(missing)
    findings = orvik.validate(doc)
    expected = f"missing required key '{missing}' ('{written}' is there: misspelled?)"
    assert [(f.path, f.message) for f in findings.errors] == [
        (f"$.{section}[{index}]", expected)]
    with pytest.raises(orvik.InstanceError, match=r"\(" + f"'{written}' is there"):
        orvik.Model.from_json(doc, validate=False)


def test_a_missing_key_is_not_matched_to_a_known_key_it_resembles():
    doc = _document()
    del doc["agents"][0]["end_node"]  # start_node is there, and is no misspelling of it
    (finding,) = orvik.validate(doc).errors
    assert finding.message == "missing required key 'end_node'"


@pytest.mark.parametrize(("removed", "expected"), [
    pytest.param([1], ("site 12 ($.nodes[2]) has", "may serve it"), id="one"),
    pytest.param([3, 1, 0], ("3 sites have", "node 11, $.nodes[1]"), id="three"),
])
def test_sites_without_an_assignment_entry_are_one_note(removed, expected):
    """A site without an assignment entry is open to every agent type, the documented normal
    case: one note for all of them, no warning."""
    doc = _document()
    for i in removed:
        del doc["constraints"][0]["items"][i]
    findings = orvik.validate(doc)
    (note,) = findings
    assert (note.path, note.severity, findings.notes, findings.warnings) == (
        "$.nodes", NOTE, [note], [])
    assert note.message.startswith(expected[0]) and expected[1] in note.message, note.message


def test_a_model_document_has_no_findings_about_assignment():
    """A model writes assignment entries only for the sites given types."""
    model = orvik.Model()
    model.add_depot("dock", 0, 0)
    for i in range(12):
        model.add_site(i, i, 1, types=["car"] if i == 0 else None)
    model.add_agent("van", "car", start="dock")
    model.costs_from_coordinates("car")
    findings = orvik.validate(model.to_dict())
    assert findings.errors == findings.warnings == []
    assert len(findings.notes) == 1


@pytest.mark.parametrize(("mutate", "path", "words"), [
    pytest.param(_set(["nodes"], []), "$.nodes", "the instance has no nodes", id="no-nodes"),
    pytest.param(_set(["agents"], []), "$.agents", "the instance has no agents", id="no-agents"),
    pytest.param(_set(["nodes"], [{"id": 10, "x": 0, "y": 0, "type": "DEPOT"}]), "$.nodes",
                 "no site to visit: every node is an agent's start or end node",
                 id="no-sites"),
])
def test_an_instance_with_nothing_to_visit_or_no_one_to_visit_it_is_an_error(mutate, path,
                                                                            words):
    doc = _document()
    mutate(doc)
    doc["constraints"] = []
    doc["costs"] = {t: [[0.0] * len(doc["nodes"])] * len(doc["nodes"])
                    for t in ("car", "drone")}
    findings = orvik.validate(doc)
    assert _has(findings.errors, path, words), [str(f) for f in findings]


def test_an_empty_document_is_refused_with_what_it_needs():
    messages = [f.message for f in orvik.validate({"nodes": [], "agents": []}).errors]
    assert messages[0].startswith("the instance has no nodes")
    assert messages[1].startswith("the instance has no agents")


def test_a_document_read_to_be_completed_may_have_no_sites_or_agents():
    doc = {"nodes": [{"id": 0, "x": 0, "y": 0, "type": "DEPOT"}], "agents": []}
    assert orvik.validate(doc, complete=False) == []
    model = orvik.Model.from_json(doc)
    model.add_site(1, 3, 4)
    model.add_agent("van", "car", start=0)
    model.costs_from_coordinates("car")
    assert model.solve(time_limit=1).solved
    with pytest.raises(orvik.ValidationError, match=r"\$\.agents: the instance has no agents"):
        orvik.solve(doc, time_limit=1)
    with pytest.raises(TypeError, match="complete must be True or False, got str 'no'"):
        orvik.validate(doc, complete="no")


def test_the_compiled_schema_refuses_what_jsonschema_refuses():
    """The compiled validator decides alone whether a large document conforms: on every shape
    mistake of the tables it must say no where jsonschema finds a problem, and yes on the
    valid document."""
    import jsonschema
    from orvik.validation import _conforms, instance_schema

    validator = jsonschema.Draft202012Validator(instance_schema())
    assert _conforms(_document())
    mutations = [*SHAPES, *(case.values[0] for case in ERRORS + WARNINGS + UNKNOWN_KEYS)]
    refused = 0
    for mutate in mutations:
        doc = _document()
        mutate(doc)
        wrong = any(True for _ in validator.iter_errors(doc))
        assert _conforms(doc) is not wrong, [e.message for e in validator.iter_errors(doc)]
        refused += wrong
    assert refused >= len(SHAPES)


@pytest.mark.parametrize("ids", ["integers", "floats"])
def test_a_large_instance_gets_the_schema_findings_of_a_small_one(ids):
    """Past a few hundred elements the compiled validator checks first; a mistake there is
    still described by jsonschema, at its place."""
    doc = _document()
    doc["nodes"] += [{"id": 100 + v if ids == "integers" else 100.0 + v, "x": v, "y": 1}
                     for v in range(400)]

    def node_errors():  # the matrices are left as they are, too short
        return [(f.path, f.message) for f in orvik.validate(doc).errors
                if f.path.startswith("$.nodes")]

    assert node_errors() == []
    doc["nodes"][300]["y"] = "1"
    assert node_errors() == [("$.nodes[300].y", "expected a number, got a string \"1\"")]



def test_the_documents_the_package_writes_have_no_unknown_keys(tmp_path):
    """Every key that the package's writers put in an instance is one the schema knows."""
    from orvik.io import tsplib_instance
    from orvik.random_instances import random_instance
    from orvik.random_shapes import shape_instance
    from test_io import TSP

    documents = [random_instance(seed) for seed in range(5)]
    documents += [shape_instance(seed) for seed in range(5)]
    documents.append(tsplib_instance(TSP, agents=2))
    model = orvik.Model(name="m", time_limit=2)
    model.add_depot("dock", 0, 0)
    model.add_site("a", 1, 1, types=["car"], window=(0, 9), demand=2)
    model.add_agent("van", "car", start="dock", max_length=50, capacity=3)
    model.costs_from_coordinates("car")
    documents.append(model.to_dict())
    for document in documents:
        assert not [str(f) for f in orvik.validate(document) if "unknown key" in f.message]
