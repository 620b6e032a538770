"""Fixtures shared by the tests of the extension module and the package."""

from __future__ import annotations

import json
import math
import os
import random
import subprocess
import sys
from collections.abc import Callable
from pathlib import Path
from typing import Any

import _orvik_core as core
import pytest
from orvik import rules

DATA = Path(__file__).resolve().parents[1] / "data" / "python"


@pytest.fixture
def two_agents_shared_depot() -> Path:
    """Seven nodes, two agents of one type (ids 7 and 9) starting and ending at depot 100."""
    return DATA / "two_agents_shared_depot.json"


@pytest.fixture
def no_agents() -> Path:
    """Two nodes and an empty agent list."""
    return DATA / "no_agents.json"


@pytest.fixture
def target_no_agent_may_serve() -> Path:
    """A target whose assignment names only a type no agent has, so no solution exists."""
    return DATA / "target_no_agent_may_serve.json"


@pytest.fixture
def agent_start_not_a_node() -> Path:
    """An agent whose start node id is not the id of any node."""
    return DATA / "agent_start_not_a_node.json"


@pytest.fixture
def agents_of_two_types_under_one_id() -> Path:
    """Agents {id 7, "car"} and {id 7, "drone"}: the set-up refuses the clash."""
    return DATA / "agents_of_two_types_under_one_id.json"


@pytest.fixture
def costs_for_unknown_type() -> Path:
    """A cost matrix for a type name that no agent has."""
    return DATA / "costs_for_unknown_type.json"


@pytest.fixture
def node_missing_x() -> Path:
    """A node object without its "x" coordinate."""
    return DATA / "node_missing_x.json"


@pytest.fixture
def node_3_without_assignment() -> Path:
    """Node 3 has no assignment entry and a time window names the missing node 99."""
    return DATA / "node_3_without_assignment.json"


@pytest.fixture
def one_weight_update() -> Path:
    """Four nodes, two agents; the search prints one "w = 1" progress line."""
    return DATA / "one_weight_update.json"


@pytest.fixture
def empty_file() -> Path:
    """A file of zero bytes."""
    return DATA / "empty.json"


@pytest.fixture
def two_documents() -> Path:
    """Two JSON objects one after the other."""
    return DATA / "two_documents.json"


def scattered_instance(n: int, agents: int, seed: int) -> dict[str, Any]:
    """A depot and n - 1 sites scattered over a 100 x 100 square, Euclidean costs, agents of one
    type leaving and returning to the depot, MinMax. From about 40 sites on, the search finds a
    first solution at once and does not end for minutes."""
    rng = random.Random(seed)
    points = [(50.0, 50.0)] + [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(n - 1)]
    return {
        "nodes": [{"id": i, "x": x, "y": y, "z": 0.0, "type": "DEPOT" if i == 0 else "TARGET"}
                  for i, (x, y) in enumerate(points)],
        "agents": [{"id": 100 + k, "type": "car", "start_node": 0, "end_node": 0}
                   for k in range(agents)],
        "costs": {"car": [[round(math.dist(a, b), 2) for b in points] for a in points]},
        "constraints": [{"kind": "assignment",
                         "items": [{"node": i, "types": ["car"]} for i in range(n)]}],
        "options": {"objective": "min_max", "time_limit": 60.0},
    }


@pytest.fixture
def long_instance(tmp_path: Path) -> Path:
    """Fifty sites and three agents: a first solution at once, then a search of minutes."""
    path = tmp_path / "long_instance.json"
    path.write_text(json.dumps(scattered_instance(51, 3, 1)), encoding="utf-8")
    return path


def problem_from_document(doc: dict[str, Any]) -> core.Problem:
    """Build through the object API the problem that the JSON loader builds from `doc`."""
    problem = core.Problem()
    for item in doc["nodes"]:
        node = core.Node()
        node.id = item["id"]
        node.position.x, node.position.y, node.position.z = item["x"], item["y"], item["z"]
        node.type = core.NodeType.DEPOT if item.get("type") == "DEPOT" else core.NodeType.TARGET
        node.demand = item.get("demand", 0.0)
        problem.add_node(node)
    for item in doc["agents"]:
        agent = core.Agent()
        agent.id = item["id"]
        agent.type = item["type"]
        agent.start_node = item["start_node"]
        agent.end_node = item["end_node"]
        agent.capacity_limit = item.get("capacity", 0)
        agent.time_limit = item.get("max_length", 0)
        problem.add_agent(agent, item["id"])
    for agent_type, matrix in doc.get("costs", {}).items():
        problem.set_cost_matrix(agent_type, matrix)
    assignment = core.AssignmentConstraint()
    windows = core.TimeWindowConstraint()
    for constraint in doc.get("constraints", []):
        for item in constraint.get("items", []):
            if constraint["kind"] == "assignment":
                assignment.set_assignment(item["node"], item["types"])
            elif constraint["kind"] == "timewindow":
                windows.set_timewindow(item["node"], item["start"], item["end"])
    problem.set_assignment_constraint(assignment)
    problem.set_timewindow_constraint(windows)
    options = doc.get("options", {})
    problem.options().return_to_end = options.get("return_to_end", True)
    objective = rules.objective_from_name(options.get("objective", rules.MIN_SUM))
    problem.options().objective = (
        core.ObjectiveType.MinMax if objective == rules.MIN_MAX else core.ObjectiveType.MinSum
    )
    problem.options().time_limit = options.get("time_limit", 60.0)
    return problem


@pytest.fixture
def load_problem() -> Callable[[Path], core.Problem]:
    """Build a Problem through the object API from an instance file."""

    def load(path: Path) -> core.Problem:
        return problem_from_document(json.loads(path.read_text(encoding="utf-8")))

    return load


def run_interpreter(*args: str) -> subprocess.CompletedProcess[str]:
    """Run a fresh interpreter with buffered C streams, as a plain `python` in a pipe has."""
    env = {k: v for k, v in os.environ.items() if k != "PYTHONUNBUFFERED"}
    return subprocess.run(
        [sys.executable, *args], capture_output=True, text=True, env=env, timeout=300, check=False
    )


@pytest.fixture
def run_python() -> Callable[..., subprocess.CompletedProcess[str]]:
    """Run a snippet in a fresh interpreter, capturing the process's own standard streams."""

    def run(code: str, *args: str) -> subprocess.CompletedProcess[str]:
        return run_interpreter("-c", code, *args)

    return run


@pytest.fixture
def run_cli() -> Callable[..., subprocess.CompletedProcess[str]]:
    """Run the orvik command line in a fresh interpreter."""

    def run(*args: str) -> subprocess.CompletedProcess[str]:
        return run_interpreter("-m", "orvik", *args)

    return run
