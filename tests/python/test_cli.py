"""The orvik command line: one-line errors, validate, solve in node ids, plot, check, version."""

import json

import orvik
import pytest
from test_validation import _document


@pytest.fixture
def files(tmp_path):
    """Instance files: a valid one, a missing one, one not JSON, a JSON array, an unknown
    start node."""
    paths = {name: tmp_path / f"{name}.json" for name in
             ("valid", "missing", "not_json", "array", "unknown_node")}
    paths["valid"].write_text(json.dumps(_document()))
    paths["not_json"].write_text('{"nodes": [1, 2,\n')
    paths["array"].write_text("[1, 2, 3]")
    doc = _document()
    doc["agents"][0]["start_node"] = 99
    paths["unknown_node"].write_text(json.dumps(doc))
    return paths


@pytest.mark.parametrize("command", ["info", "validate", "solve", "check", "plot"])
@pytest.mark.parametrize(
    ("case", "message"),
    [
        ("missing", "orvik: {path}: no such file"),
        ("not_json", "orvik: {path}: not valid JSON (line 2, column 1: Expecting value)"),
        ("array", ("orvik: {path}: the document is a JSON array, expected a JSON object "
                  "(instance)")),
    ],
)
def test_file_errors_are_one_line(run_cli, files, tmp_path, command, case, message):
    path = str(files[case])
    extra = {"check": [str(files["valid"])], "plot": [str(files["valid"]), "-o",
                                                     str(tmp_path / "x.png")]}.get(command, [])
    done = run_cli(command, path, *extra)
    assert done.returncode == 2  # input the command cannot use
    assert done.stderr.splitlines() == [message.format(path=path)]


@pytest.mark.parametrize(("command", "status"), [("validate", 1), ("solve", 2)])
def test_an_unknown_node_is_one_line_naming_file_and_path(run_cli, files, command, status):
    path = str(files["unknown_node"])
    done = run_cli(command, path)
    assert done.returncode == status
    output = done.stdout + done.stderr
    assert f"{path}: error: $.agents[0].start_node: no node has id 99" in output.splitlines()
    assert "Traceback" not in output


def test_validate_prints_findings_and_a_count(run_cli, files):
    done = run_cli("validate", str(files["valid"]))
    assert done.returncode == 0
    assert done.stdout.splitlines() == [f"{files['valid']}: 0 error(s), 0 warning(s)"]


def test_version_and_help(run_cli):
    done = run_cli("--version")
    assert done.stdout.strip() == f"orvik {orvik.__version__}"
    helped = run_cli("--help")
    assert "Orvik plans the routes of several agents" in helped.stdout
    for command in ("info", "validate", "solve", "plot", "convert", "check"):
        assert command in helped.stdout


def test_solve_prints_routes_in_ids_with_a_table_per_agent(run_cli, tmp_path):
    m = orvik.Model(objective="min_max")
    m.add_depot("dock", 0, 0)
    m.add_site("shelf", 0, 10, window=(15, 40))
    m.add_agent("r1", "ground", "dock")
    m.costs_from_coordinates("ground")
    path = tmp_path / "shelf.json"
    m.to_json(path)
    done = run_cli("solve", str(path), "--time-limit", "1")
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert lines[:2] == ["status: solved",
                         "objective: min_max = 25 (the cost of the longest route)"]
    at = lines.index("agent r1 (ground): cost 25, 1 site(s)")
    assert lines[at + 1:at + 6] == [
        "  dock -> shelf -> dock",
        "  stop  node   arrival  wait  departure",
        "     0  dock         0     0          0",
        "     1  shelf       10     5         15",
        "     2  dock        25     0         25",
    ]


def test_solve_writes_result_and_plot_and_plot_redraws_it(run_cli, files, tmp_path):
    result, png, again = tmp_path / "r.json", tmp_path / "routes.png", tmp_path / "again.png"
    done = run_cli("solve", str(files["valid"]), "--time-limit", "1", "-o", str(result),
                   "--plot", str(png), "--no-improve", "--seed", "4")
    assert done.returncode == 0, done.stderr
    assert json.loads(result.read_text())["status"] == "solved"
    assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    plotted = run_cli("plot", str(files["valid"]), str(result), "-o", str(again), "--windows")
    assert plotted.returncode == 0, plotted.stderr
    assert again.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_no_validate_skips_the_findings(run_cli, tmp_path):
    doc = _document()
    doc["nodes"][1]["type"] = "target"  # read as a target, with a warning
    path = tmp_path / "typed.json"
    path.write_text(json.dumps(doc))
    warned = run_cli("solve", str(path), "--time-limit", "1")
    assert ": warning: $.nodes[1].type: 'target' is read as a target" in warned.stderr
    quiet = run_cli("solve", str(path), "--time-limit", "1", "--no-validate")
    assert quiet.returncode == 0 and "warning" not in quiet.stderr


def test_misspelled_keys_and_sites_without_assignment_are_said_once(run_cli, tmp_path):
    """An unknown key is a warning naming the key meant; sites without an assignment entry,
    the normal case, are one note, which -q leaves out."""
    doc = _document()
    doc["option"] = doc.pop("options")
    doc["agents"][0]["max_lenght"] = 50
    del doc["constraints"][0]["items"][1:]
    path = tmp_path / "typos.json"
    path.write_text(json.dumps(doc))
    checked = run_cli("validate", str(path))
    assert checked.returncode == 0
    assert checked.stdout.splitlines() == [
        f"{path}: warning: $.option: unknown key 'option' is ignored (did you mean 'options'?)",
        (f"{path}: warning: $.agents[0].max_lenght: unknown key 'max_lenght' is ignored (did "
         "you mean 'max_length'?)"),
        (f"{path}: note: $.nodes: 3 sites have no assignment entry, so every agent type may "
         "serve them (the first is node 12, $.nodes[2])"),
        f"{path}: 0 error(s), 2 warning(s)"]
    for quiet, notes in ((False, 1), (True, 0)):
        solved = run_cli("solve", str(path), "--time-limit", "1", *(["-q"] if quiet else []))
        assert solved.returncode == 0, solved.stderr
        assert solved.stderr.count(": warning: ") == 2
        assert solved.stderr.count(": note: ") == notes


@pytest.mark.parametrize(("nodes", "agents", "message"), [
    ([], [], "$.nodes: the instance has no nodes"),
    (None, [], "$.agents: the instance has no agents"),
    ([{"id": 10, "x": 0, "y": 0}], None, "$.nodes: no site to visit"),
])
def test_an_empty_instance_is_refused(run_cli, tmp_path, nodes, agents, message):
    doc = _document()
    doc["nodes"] = doc["nodes"] if nodes is None else nodes
    doc["agents"] = doc["agents"] if agents is None else agents
    doc["constraints"], doc["costs"] = [], {}
    path = tmp_path / "empty.json"
    path.write_text(json.dumps(doc))
    for command, status in (("validate", 1), ("solve", 2)):
        done = run_cli(command, str(path))
        assert done.returncode == status
        assert f"{path}: error: {message}" in (done.stdout + done.stderr), done.stderr


@pytest.fixture
def solved(run_cli, files, tmp_path):
    """A result of the valid instance from `orvik solve -o`."""
    result = tmp_path / "result.json"
    done = run_cli("solve", str(files["valid"]), "--time-limit", "1", "-q", "-o", str(result))
    assert done.returncode == 0, done.stderr
    return result


@pytest.mark.parametrize(
    ("output", "written", "said"),
    [("picture", "picture.png", "wrote picture.png"), ("p.svg", "p.svg", "wrote p.svg")],
)
def test_plot_says_the_file_it_writes(run_cli, files, solved, tmp_path, output, written, said):
    done = run_cli("plot", str(files["valid"]), str(solved), "-o", str(tmp_path / output))
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == f"wrote {tmp_path / written}"
    assert (tmp_path / written).is_file()


@pytest.mark.parametrize(
    ("output", "words"),
    [(".", "is a folder"), ("p.json", ".json is not an image format"),
     ("missing/p.png", "does not exist")],
)
def test_plot_refuses_an_output_it_cannot_write(run_cli, files, solved, tmp_path, output,
                                                words):
    done = run_cli("plot", str(files["valid"]), str(solved), "-o", str(tmp_path / output))
    assert done.returncode == 2
    assert len(done.stderr.splitlines()) == 1 and words in done.stderr
    assert not (tmp_path / ".png").exists()


def test_plot_refuses_a_result_of_another_instance(run_cli, files, solved, tmp_path):
    small = tmp_path / "small.json"
    small.write_text(json.dumps({
        "nodes": [{"id": 10, "x": 0, "y": 0, "type": "DEPOT"}, {"id": 11, "x": 1, "y": 0}],
        "agents": [{"id": 1, "type": "car", "start_node": 10, "end_node": 10}],
        "costs": {"car": [[0, 1], [1, 0]]}}))
    done = run_cli("plot", str(small), str(solved), "-o", str(tmp_path / "p.png"))
    assert done.returncode == 2
    assert len(done.stderr.splitlines()) == 1
    assert "the solution is not one of this instance" in done.stderr


@pytest.mark.parametrize(
    ("document", "line"),
    [({"nodes": 5}, "$.nodes: expected an array, got a number"),
     ({"nodes": [], "agents": "car"}, "$.agents: expected an array, got a string"),
     ({"nodes": [], "options": [1]}, "$.options: expected an object, got an array")],
)
def test_info_names_a_section_of_the_wrong_type(run_cli, tmp_path, document, line):
    path = tmp_path / "odd.json"
    path.write_text(json.dumps(document))
    done = run_cli("info", str(path))
    assert done.returncode == 2
    assert done.stderr.splitlines() == [
        f"orvik: {path}: {line} (`orvik validate` lists every problem)"]


def _loads_model(second_capacity):
    m = orvik.Model(objective="min_sum")
    m.add_depot("dock", 0, 0)
    m.add_site("a", 0, 10, delivery=[2, 1], service=3)
    m.add_site("b", 5, 10, pickup=[1, 0], window=(0, 50))
    m.add_site("c", 9, 1, delivery=[1, 1])
    m.add_agent("r1", "ground", "dock", capacity=[5, 2])
    m.add_agent("r2", "ground", "dock", **({} if second_capacity is None
                                           else {"capacity": second_capacity}))
    m.costs_from_coordinates("ground")
    return m


@pytest.mark.parametrize(
    ("second_capacity", "capacity_line"),
    [([4, 1], "fleet capacity: [9, 3]"),
     ([4, 0], "fleet capacity: [9, 0] (0: no limit)"),
     (None, "capacities: 1 of 2 agents (the others carry any load)")],
)
def test_info_summarises_loads_service_and_windows(run_cli, tmp_path, second_capacity,
                                                   capacity_line):
    path = tmp_path / "loads.json"
    _loads_model(second_capacity).to_json(path)
    done = run_cli("info", str(path))
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines()[7:] == [
        "load dimensions: 2", "deliveries: 2 sites, [3, 2] in all",
        "pickups: 1 site, [1, 0] in all", capacity_line, "sites with service: 1",
        "time windows: 1"]


def test_info_leaves_what_does_not_read_to_validate(run_cli, tmp_path):
    document = _loads_model([4, 1]).to_dict()
    document["nodes"][1]["delivery"] = "lots"
    document["agents"][0]["capacity"] = [1, "x"]
    path = tmp_path / "odd_loads.json"
    path.write_text(json.dumps(document))
    done = run_cli("info", str(path))
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines()[7:] == [
        "load dimensions: 2", "deliveries: 1 site, [1, 1] in all",
        "pickups: 1 site, [1, 0] in all", "capacities: 1 of 2 agents (the others carry any load)", "sites with service: 1",
        "time windows: 1"]
