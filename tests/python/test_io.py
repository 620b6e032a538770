"""Benchmark converters: TSPLIB and Solomon files become JSON instances the solver accepts."""

import json
import math
from pathlib import Path

import pytest
from orvik import io as oio

DATA = Path(__file__).resolve().parents[1] / "data" / "bench"
TSP = DATA / "five_cities_euc2d.tsp"
SOLOMON = DATA / "solomon_depot_four_customers.txt"


def _matrix(instance):
    (matrix,) = instance["costs"].values()
    return matrix


def _windows(instance):
    return {
        item["node"]: (item["start"], item["end"])
        for c in instance["constraints"]
        if c["kind"] == "timewindow"
        for item in c["items"]
    }


def test_tsplib_layout():
    inst = oio.tsplib_instance(TSP, agents=3, objective="min_max")
    assert [n["id"] for n in inst["nodes"]] == [0, 1, 2, 3, 4]
    assert inst["nodes"][0]["type"] == "DEPOT"
    assert {n["type"] for n in inst["nodes"][1:]} == {"TARGET"}
    assert (inst["nodes"][1]["x"], inst["nodes"][1]["y"]) == (3.0, 4.0)
    assert len(inst["agents"]) == 3
    assert {(a["start_node"], a["end_node"]) for a in inst["agents"]} == {(0, 0)}
    assert len({a["id"] for a in inst["agents"]}) == 3
    assert inst["options"] == {"return_to_end": True, "objective": "min_max"}
    assert inst["source"] == {"format": "tsplib", "rounding": "exact", "scale": 1.0}
    (assignment,) = [c for c in inst["constraints"] if c["kind"] == "assignment"]
    agent_type = inst["agents"][0]["type"]
    assert assignment["items"] == [{"node": v, "types": [agent_type]} for v in range(5)]
    assert not _windows(inst)


@pytest.mark.parametrize(
    ("rounding", "expected"),
    [
        ("exact", [5.0, math.sqrt(2), math.sqrt(13), 10.0]),
        ("tsplib", [5.0, 1.0, 4.0, 10.0]),
        ("one-decimal", [5.0, 1.4, 3.6, 10.0]),
    ],
)
def test_tsplib_distances_under_each_rounding(rounding, expected):
    matrix = _matrix(oio.tsplib_instance(TSP, 2, rounding=rounding))
    assert matrix[0][1:] == pytest.approx(expected, abs=1e-12)
    assert all(matrix[i][i] == 0.0 for i in range(5))
    assert all(matrix[i][j] == matrix[j][i] for i in range(5) for j in range(5))


def test_one_decimal_truncates_exactly():
    # 10 * sqrt(0.49) and friends: exact decimal distances must not lose a tenth to rounding.
    a, b = oio.Site(0, 0.0, 0.0), oio.Site(1, 3.0, 4.0)
    assert oio.distance(a, b, "one-decimal") == 5.0
    assert oio.distance(a, oio.Site(2, 6.0, 8.0), "one-decimal") == 10.0
    assert oio.distance(a, oio.Site(3, 1.0, 2.0), "one-decimal") == 2.2  # sqrt(5) = 2.236
    assert oio.distance(a, oio.Site(4, 0.3, 0.4), "one-decimal") == 0.5


def test_solomon_subset_folds_service_and_windows():
    inst = oio.solomon_instance(SOLOMON, agents=2, customers=3)
    matrix = _matrix(inst)
    assert len(inst["nodes"]) == 4 and len(matrix) == 4
    assert inst["options"]["objective"] == "min_sum"
    assert [n.get("demand", 0.0) for n in inst["nodes"]] == [0.0, 10.0, 30.0, 10.0]
    assert all(a["capacity"] == 200 for a in inst["agents"])
    # depot (40, 50) -> customer 1 (45, 68): sqrt(349) = 18.68 truncated to 18.6, no service.
    assert matrix[0][1] == 18.6
    # customer 1 -> 2: service 90 plus distance 2.
    assert matrix[1][2] == 92.0
    # customer 3 (42, 66) -> depot: service 90 plus sqrt(260) = 16.12 -> 16.1.
    assert matrix[3][0] == pytest.approx(106.1, abs=1e-12)
    assert _windows(inst) == {0: (0.0, 1236.0), 1: (912.0, 967.0), 2: (825.0, 870.0),
                              3: (65.0, 146.0)}


def test_solomon_exact_and_headerless(tmp_path):
    lines = SOLOMON.read_text().splitlines()
    rows = [line for line in lines if line.strip().startswith(("0", "1", "2", "3", "4"))
            and len(line.split()) == 7]
    plain = tmp_path / "plain.txt"
    plain.write_text("\n".join(rows) + "\n")
    inst = oio.solomon_instance(plain, agents=1, rounding="exact")
    assert len(inst["nodes"]) == 5
    assert "capacity" not in inst["agents"][0]
    assert _matrix(inst)[1][0] == pytest.approx(90.0 + math.sqrt(349))


@pytest.mark.parametrize(
    ("kwargs", "message"),
    [
        ({"agents": 0}, "positive integer"),
        ({"agents": 2, "objective": "fastest"}, "objective"),
        ({"agents": 2, "rounding": "ceil"}, "rounding"),
        ({"agents": 2, "customers": 9}, "4 customers"),
    ],
)
def test_solomon_rejects_bad_arguments(kwargs, message):
    with pytest.raises(ValueError, match=message):
        oio.solomon_instance(SOLOMON, **kwargs)


def test_refuses_costs_that_mean_no_connection(tmp_path):
    far = tmp_path / "far.tsp"
    far.write_text(
        "NAME : far\nTYPE : TSP\nDIMENSION : 3\nEDGE_WEIGHT_TYPE : EUC_2D\n"
        "NODE_COORD_SECTION\n1 0 0\n2 10000 0\n3 0 1\nEOF\n"
    )
    with pytest.raises(ValueError, match=r"largest leg cost 10000 .*scale="):
        oio.tsplib_instance(far, 2)
    scaled = _matrix(oio.tsplib_instance(far, 2, scale=0.5))
    assert scaled[0][1] == 5000.0 and scaled[0][2] == 0.5
    with pytest.raises(ValueError, match="9999"):
        oio.tsplib_instance(far, 2, scale=0.9999)


def test_scale_applies_to_windows_too():
    inst = oio.solomon_instance(SOLOMON, agents=1, customers=2, scale=2.0)
    assert _matrix(inst)[1][2] == 184.0
    assert _windows(inst)[1] == (1824.0, 1934.0)


def test_rejects_other_edge_weight_types(tmp_path):
    xray = tmp_path / "xray.tsp"
    xray.write_text("NAME : g\nEDGE_WEIGHT_TYPE : XRAY1\nNODE_COORD_SECTION\n1 0 0\nEOF\n")
    with pytest.raises(ValueError, match="EUC_2D"):
        oio.tsplib_instance(xray, 1)


def _library_file(tmp_path, header, sections):
    path = tmp_path / "file.vrp"
    path.write_text("\n".join([*header, *sections, "EOF"]) + "\n")
    return path


@pytest.mark.parametrize(
    ("weight_type", "coords", "expected"),
    [
        # ATT: sqrt(100 / 10) = 3.16 rounds to 3, below it, so 4; sqrt(1000 / 10) is 10.
        ("ATT", ["1 0 0", "2 10 0", "3 0 30"], [[0, 4, 10], [4, 0, 10], [10, 10, 0]]),
        # GEO: one degree of longitude on the equator is 111.3 km, 30 minutes 55.7 km.
        ("GEO", ["1 0.0 0.0", "2 0.0 1.0", "3 0.0 0.30"], [[0, 112, 56], [112, 0, 56],
                                                           [56, 56, 0]]),
        ("CEIL_2D", ["1 0 0", "2 1 1", "3 3 4"], [[0, 2, 5], [2, 0, 4], [5, 4, 0]]),
    ],
)
def test_tsplib_rules_of_other_edge_weight_types(tmp_path, weight_type, coords, expected):
    path = _library_file(tmp_path, ["NAME : w", "TYPE : TSP", "DIMENSION : 3",
                                    f"EDGE_WEIGHT_TYPE : {weight_type}"],
                         ["NODE_COORD_SECTION", *coords])
    inst = oio.tsplib_instance(path, 2)
    assert _matrix(inst) == [[float(c) for c in row] for row in expected]
    assert inst["source"]["edge_weight_type"] == weight_type


def test_explicit_lower_row_and_vrplib_demands(tmp_path):
    path = _library_file(
        tmp_path,
        ["NAME : e", "TYPE : CVRP", "DIMENSION : 3", "CAPACITY : 10",
         "EDGE_WEIGHT_TYPE : EXPLICIT", "EDGE_WEIGHT_FORMAT : LOWER_ROW"],
        ["EDGE_WEIGHT_SECTION", "1", "2 3", "DEMAND_SECTION", "1 0", "2 4", "3 5",
         "DEPOT_SECTION", "1", "-1"],
    )
    inst = oio.tsplib_instance(path, 2)
    assert _matrix(inst) == [[0.0, 1.0, 2.0], [1.0, 0.0, 3.0], [2.0, 3.0, 0.0]]
    assert [n.get("demand", 0.0) for n in inst["nodes"]] == [0.0, 4.0, 5.0]
    assert {a["capacity"] for a in inst["agents"]} == {10}


def test_a_depot_elsewhere_than_first_is_refused(tmp_path):
    path = _library_file(
        tmp_path, ["NAME : d", "TYPE : CVRP", "DIMENSION : 2", "EDGE_WEIGHT_TYPE : EUC_2D"],
        ["NODE_COORD_SECTION", "1 0 0", "2 1 0", "DEPOT_SECTION", "2", "-1"],
    )
    with pytest.raises(ValueError, match="the depot must be the first node"):
        oio.tsplib_instance(path, 1)


def test_convert_command_writes_a_loadable_file(tmp_path):
    import argparse

    parser = argparse.ArgumentParser()
    oio.add_convert_command(parser.add_subparsers(dest="command"))
    out = tmp_path / "tiny.json"
    args = parser.parse_args(
        ["convert", "solomon", str(SOLOMON), str(out), "--agents", "2", "--customers", "4",
         "--objective", "min_max"]
    )
    assert args.func(args) == 0
    inst = json.loads(out.read_text())
    assert len(inst["nodes"]) == 5 and len(inst["agents"]) == 2
    assert inst["options"]["objective"] == "min_max"
    bad = parser.parse_args(["convert", "tsplib", str(TSP), str(out), "--agents", "2",
                             "--customers", "3"])
    assert bad.func(bad) == 2  # an option that does not apply: input it cannot use


@pytest.mark.parametrize(("agents", "words"), [(1, "1 agent"), (2, "2 agents")])
def test_convert_counts_what_it_wrote(tmp_path, capsys, agents, words):
    out = tmp_path / "tiny.json"
    assert _convert("solomon", SOLOMON, out, "--agents", agents, "--customers", "4") == 0
    assert capsys.readouterr().out == f"wrote {out}: 5 nodes, {words}, objective min_sum\n"


# ---------------------------------------------------------------------------------------------
# Capacities, demands and fleets as the files give them

CVRP = DATA / "X-n101-k25.vrp"  # CVRPLIB, VEHICLES 26, CAPACITY 206
C101 = DATA / "c101.txt"  # Solomon rows without a header


def _convert(*arguments):
    import argparse

    parser = argparse.ArgumentParser()
    oio.add_convert_command(parser.add_subparsers(dest="command"))
    args = parser.parse_args(["convert", *map(str, arguments)])
    return args.func(args)


@pytest.mark.parametrize(("edit", "agents", "given"), [
    (lambda text: text, 26, []),
    (lambda text: text.replace("VEHICLES : 26", ""), 25, []),
    (lambda text: text, 30, ["--agents", "30"]),
], ids=["vehicles-line", "name-k", "asked"])
def test_a_cvrplib_file_converts_with_its_capacity_demands_and_fleet(tmp_path, edit, agents,
                                                                    given):
    source = tmp_path / "X-n101-k25.vrp"
    source.write_text(edit(CVRP.read_text()))
    out = tmp_path / "x.json"
    assert _convert("vrplib", source, out, "--rounding", "tsplib", "--objective", "min_sum",
                    *given) == 0
    inst = json.loads(out.read_text())
    assert len(inst["agents"]) == agents
    assert {a["capacity"] for a in inst["agents"]} == {206}
    demands = [n.get("demand", 0) for n in inst["nodes"]]
    assert demands[0] == 0 and len(demands) == 101 and sum(demands) > 0
    assert demands[1:4] == [38.0, 51.0, 73.0]
    assert _matrix(inst)[0][1] == float(int(math.hypot(365 - 146, 689 - 180) + 0.5))
    import orvik

    assert orvik.validate(inst).ok


def test_a_solomon_file_converts_with_the_capacity_and_fleet_given(tmp_path):
    out = tmp_path / "c101.json"
    assert _convert("solomon", C101, out, "--agents", "10", "--capacity", "200") == 0
    inst = json.loads(out.read_text())
    assert len(inst["agents"]) == 10 and {a["capacity"] for a in inst["agents"]} == {200}
    assert [n.get("demand", 0) for n in inst["nodes"][:4]] == [0, 10.0, 30.0, 10.0]
    assert sum(n.get("demand", 0) for n in inst["nodes"]) == 1810
    header = oio.solomon_instance(SOLOMON)  # the header's vehicle count and capacity
    assert len(header["agents"]) == 3 and header["agents"][0]["capacity"] == 200


@pytest.mark.parametrize(("arguments", "words"), [
    (["solomon", C101], "gives no number of vehicles; give the number of agents (--agents)"),
    (["tsplib", TSP], "gives no number of vehicles"),
    (["solomon", C101, "--agents", "3", "--capacity", "-5"], "capacity must be a positive"),
], ids=["solomon-rows", "tsplib", "negative-capacity"])
def test_convert_says_what_the_file_does_not_give(tmp_path, capsys, arguments, words):
    assert _convert(arguments[0], arguments[1], tmp_path / "out.json", *arguments[2:]) == 2
    assert words in capsys.readouterr().err


@pytest.mark.parametrize(("name", "fleet"), [
    ("X-n101-k25", 25), ("A-n32-k5", 5), ("eil51", None), ("P-n16-k8_x", 8), ("k9", None)])
def test_the_fleet_a_name_states(name, fleet):
    assert oio.named_fleet(name) == fleet
